#pragma once
// 导出长期记录: a unit's runs (time,V1..V108,V) or its day summaries over whole local days, as
// CSV from the archive, written on a thread of its own behind a progress window that can cancel
// (the window's event loop goes on meanwhile). A cancelled or failed
// export leaves no file behind (the archive's export writes under a temporary name).
#include <QDialog>
#include <QString>
#include <functional>

#include "trend/core/TrendRange.h"

class QDateEdit;
class QLabel;
class QProgressDialog;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace toolkit {
class MessageBoxes;
}

namespace trend {

class ExportDialog : public QDialog {
  Q_OBJECT
 public:
  /// Starts with `unit` and the local days `range` touches.
  ExportDialog(QString archiveFolder, int unit, const Range& range, toolkit::MessageBoxes& boxes,
               QWidget* parent = nullptr);

  /// The file to write (title, suggested name); empty: none. By default the save file dialog.
  std::function<QString(const QString& title, const QString& suggested)> askSavePath;
  /// Called at every update of the progress window (first before the export starts).
  std::function<void(QProgressDialog&)> progressShown;

  QSpinBox* unitBox = nullptr;
  QDateEdit* fromDate = nullptr;
  QDateEdit* toDate = nullptr;
  QRadioButton* runsChoice = nullptr;
  QRadioButton* daysChoice = nullptr;
  QPushButton* exportButton = nullptr;
  /// What the last export did, in words.
  QLabel* outcome = nullptr;

  /// Asks for the file and writes it; returns the path written, empty when nothing was
  /// (no file given, cancelled, failed: the failure is shown in an error box).
  QString exportNow();

 private:
  QString folder_;
  toolkit::MessageBoxes& boxes_;
};

}  // namespace trend
