#pragma once
// 放电记录: the past discharges, newest first. The operator reopens a report, exports a
// recording as CSV and enters the rated runtime of a test (the 额定时间 column is editable).
#include <QDialog>
#include <functional>

#include "discharge/core/Archive.h"

class QTableWidget;
class QPushButton;

namespace toolkit {
class MessageBoxes;
}

namespace discharge {

class RecordsDialog : public QDialog {
  Q_OBJECT
 public:
  /// `archive` is read on this thread; errors go to `boxes`.
  RecordsDialog(Archive& archive, toolkit::MessageBoxes& boxes, QWidget* parent = nullptr);

  /// Opens the report of a record (the station's report component: output options, preview,
  /// printer, PDF). Without it the report button does nothing.
  std::function<void(qint64 id)> openReport;
  /// Asks for the CSV file's name (suggested name given); empty: cancelled. By default the
  /// save file dialog.
  std::function<QString(const QString& suggested)> chooseCsvFile;

  QTableWidget* table = nullptr;
  QPushButton* reportButton = nullptr;
  QPushButton* csvButton = nullptr;

  /// Reads the list again.
  void reload();
  /// The selected record's id; 0 when none is selected.
  qint64 selectedId() const;
  void exportSelected();
  void reportSelected();

 private:
  void ratedEdited(int row, int column);

  Archive& archive_;
  toolkit::MessageBoxes& boxes_;
  bool loading_ = false;
};

}  // namespace discharge
