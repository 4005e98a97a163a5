// Renders the station window with a unit in alarm into a PNG file: unit 1 of 108 cells on
// show, low-cell limit 1.9 V, cell 14 read at 1.78 V twice, unit 3 offline.
// Run it in a station folder holding db1.mdb: station-alarm-screenshot OUT.png
#include "Shot.h"
#include "app/HealthWiring.h"

int main(int argc, char** argv) {
  return shot::run(argc, argv, "station-alarm-screenshot",
                   [](TForm1& form, toolkit::RecordingMessageBoxes&, shot::Keep& keep) {
                     std::shared_ptr<health::HealthMonitor> health = attachHealth(form);
                     keep = health;
                     form.show();
                     health::Limits limits;
                     limits[health::Limit::CellLow] = 1.9;
                     health->applyLimits(limits);
                     // Unit 3 asked three cycles running without an answer; units 1 and 2 answer.
                     for (int cycle = 0; cycle < 4; ++cycle) {
                       for (int u = 1; u <= 3; ++u) {
                         emit form.polling->requestSent(u, true);
                         if (u == 3) continue;
                         const double sagging = cycle < 2 ? 2.21 : 1.78;
                         shot::answer(form, u, [sagging](int k, double v) { return k == 14 ? sagging : v; });
                       }
                     }
                     return true;
                   });
}
