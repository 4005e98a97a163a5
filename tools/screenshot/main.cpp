// Renders the station window, as it looks after unit 1 has answered, into a PNG file.
// Run it in a station folder holding db1.mdb: station-screenshot OUT.png
#include "Shot.h"

int main(int argc, char** argv) {
  return shot::run(argc, argv, "station-screenshot", [](TForm1& form, toolkit::RecordingMessageBoxes&, shot::Keep&) {
    form.show();
    shot::answer(form, 1);
    return true;
  });
}
