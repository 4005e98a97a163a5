// Renders the station window with a unit in alarm into a PNG file: unit 1 of 108 cells on
// show, low-cell limit 1.9 V, cell 14 read at 1.78 V twice, unit 3 offline.
// Run it in a station folder holding db1.mdb: station-alarm-screenshot OUT.png
#include <QApplication>
#include <QPixmap>
#include <cmath>
#include <cstdio>
#include <vector>

#include "app/HealthWiring.h"
#include "app/Unit1.h"
#include "protocol/Frames.h"
#include "toolkit/MessageBoxes.h"

namespace {

void feed(TForm1& form, int unit, double sagging) {
  std::vector<double> cells;
  double total = 0;
  for (int k = 1; k <= 108; ++k) {
    cells.push_back(k == 14 ? sagging : 2.23 + 0.01 * std::sin(k * 0.7) + 0.002 * (k % 5));
    total += cells.back();
  }
  const auto frame = protocol::buildReply(static_cast<std::uint8_t>(unit), total, cells);
  form.Comm1ReceiveData(nullptr, frame.data(), static_cast<std::uint16_t>(frame.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: station-alarm-screenshot OUT.png (run in a station folder)\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("cellstation"));

  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  auto health = attachHealth(form);
  form.show();
  health::Limits limits;
  limits[health::Limit::CellLow] = 1.9;
  health->applyLimits(limits);
  // Unit 3 asked three cycles running without an answer; units 1 and 2 answer.
  for (int cycle = 0; cycle < 4; ++cycle) {
    for (int u = 1; u <= 3; ++u) {
      emit form.requestSent(u, true);
      if (u != 3) feed(form, u, cycle < 2 ? 2.21 : 1.78);
    }
  }
  for (const auto& box : boxes.boxes) std::fprintf(stderr, "box: %s\n", qPrintable(box.text));
  QApplication::processEvents();

  if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
