#pragma once
// The parts of the window that line health reads and marks, borrowed from the app.
#include <QString>
#include <array>
#include <functional>

#include "acquisition/core/MeasurementTables.h"

class QLabel;
class QWidget;

namespace comm {
class TComm;
}
namespace toolkit {
class HandlerGuard;
class KeyValueGrid;
class MessageBoxes;
}  // namespace toolkit

namespace health {

/// The parts of the window the monitor reads and marks. Everything is borrowed and must
/// outlive the monitor.
struct StationView {
  QWidget* window = nullptr;
  std::array<toolkit::KeyValueGrid*, 6> tables{};
  /// The selected unit's total.
  QLabel* total = nullptr;
  /// The notice below the tables is kept under this widget (and so under the history view).
  QWidget* keepUnder = nullptr;
  const acquisition::MeasurementTables* measurements = nullptr;
  std::function<int()> shownUnit;
  std::function<int()> unitCount;
  char decimalSeparator = '.';
  toolkit::HandlerGuard* guard = nullptr;
  toolkit::MessageBoxes* boxes = nullptr;
  comm::TComm* comm = nullptr;
};

}  // namespace health
