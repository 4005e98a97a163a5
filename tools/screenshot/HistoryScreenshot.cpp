// Renders the station window with the history view open into a PNG file: the curve of cell 7
// of unit 2, opened by a double click on its row. Run it in a station folder whose db1.mdb
// holds a day of samples (scripts/screenshot.sh gives it one): history-screenshot OUT.png
#include "Shot.h"
#include "toolkit/ArrowSpinBox.h"
#include "toolkit/KeyValueGrid.h"

int main(int argc, char** argv) {
  return shot::run(argc, argv, "history-screenshot", [](TForm1& form, toolkit::RecordingMessageBoxes& boxes, shot::Keep&) {
    form.show();
    form.SpinEdit2->setValue(2);
    form.ValueListEditor1->selectRow(2);  // cell 7
    form.ValueListEditor1DblClick(form.ValueListEditor1);
    return boxes.boxes.empty();
  });
}
