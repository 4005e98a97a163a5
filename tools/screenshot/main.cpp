// Renders the station window, as it looks after unit 1 has answered, into a PNG file.
// Run it in a station folder holding db1.mdb: station-screenshot OUT.png
#include <QApplication>
#include <QPixmap>
#include <cmath>
#include <cstdio>
#include <vector>

#include "app/Unit1.h"
#include "protocol/Frames.h"
#include "toolkit/MessageBoxes.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: station-screenshot OUT.png (run in a station folder)\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("cellstation"));

  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  for (const auto& box : boxes.boxes) std::fprintf(stderr, "box: %s\n", qPrintable(box.text));

  // A lead-acid string of 108 cells on float charge, around 2.23 V, as unit 1 would report it.
  std::vector<double> cells;
  double total = 0;
  for (int k = 1; k <= 108; ++k) {
    cells.push_back(2.23 + 0.01 * std::sin(k * 0.7) + 0.002 * (k % 5));
    total += cells.back();
  }
  const auto frame = protocol::buildReply(1, total, cells);
  form.Comm1ReceiveData(nullptr, frame.data(), static_cast<std::uint16_t>(frame.size()));
  QApplication::processEvents();

  if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
