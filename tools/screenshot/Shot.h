#pragma once
// What every screenshot tool shares: the real window offscreen in the current station folder,
// brought into the wanted state by the tool, then grabbed into the PNG named on its command line.
#include <QApplication>
#include <QPixmap>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "app/Unit1.h"
#include "protocol/Frames.h"
#include "toolkit/MessageBoxes.h"

namespace shot {

/// Whatever a stage attaches to the window and must keep until the grab; it goes before the window.
using Keep = std::shared_ptr<void>;

/// Runs the tool: `stage` shows the window and sets it up; it returns false when the window
/// could not be brought into the wanted state (nothing is written then). Error boxes raised on
/// the way are printed.
inline int run(int argc, char** argv, const char* tool,
               const std::function<bool(TForm1&, toolkit::RecordingMessageBoxes&, Keep&)>& stage) {
  // --help answers with the usage; another option is no file name.
  const bool help = argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(help ? stdout : stderr, "usage: %s OUT.png (run in a station folder)\n", tool);
    return help ? 0 : 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("cellstation"));

  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  Keep keep;
  const bool staged = stage(form, boxes, keep);
  for (const auto& box : boxes.boxes) std::fprintf(stderr, "box: %s\n", qPrintable(box.text));
  if (!staged) return 1;
  QApplication::processEvents();
  if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

/// A lead-acid string of 108 cells on float charge, around 2.23 V, as a unit would report it;
/// `cell(k, volts)` may change any cell's value.
inline void answer(TForm1& form, int unit, const std::function<double(int, double)>& cell = {}) {
  std::vector<double> cells;
  double total = 0;
  for (int k = 1; k <= 108; ++k) {
    const double v = 2.23 + 0.01 * std::sin(k * 0.7) + 0.002 * (k % 5);
    cells.push_back(cell ? cell(k, v) : v);
    total += cells.back();
  }
  const auto frame = protocol::buildReply(static_cast<std::uint8_t>(unit), total, cells);
  form.Comm1ReceiveData(nullptr, frame.data(), static_cast<std::uint16_t>(frame.size()));
}

}  // namespace shot
