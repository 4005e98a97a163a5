#pragma once
// The event record, newest first, for all units or one, with an export to CSV.
#include <QDialog>

class QComboBox;
class QTableWidget;

namespace health {

class HealthMonitor;

class EventsDialog : public QDialog {
  Q_OBJECT
 public:
  /// Rows shown at most; the export writes every row of the filter.
  static constexpr int kShownRows = 5000;

  EventsDialog(HealthMonitor& monitor, QWidget* parent = nullptr);

  /// Reads the record afresh for the unit chosen (0: all). Throws HealthDbError.
  void reload();
  /// Writes the rows of the current filter to a CSV file (UTF-8); returns their number.
  /// Throws HealthDbError or std::runtime_error.
  int exportTo(const QString& path);
  void exportAsked();

  QComboBox* unitFilter = nullptr;
  QTableWidget* table = nullptr;

 private:
  int unit() const;

  HealthMonitor& monitor_;
};

}  // namespace health
