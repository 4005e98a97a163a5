#pragma once
// The line-health counts per unit, refreshed every second while open, with a reset.
#include <QDialog>
#include <QTimer>
#include <QStringList>
#include <functional>

class QLabel;
class QTableWidget;

namespace health {

class LineCounts;
class LineRecovery;

class StatisticsDialog : public QDialog {
  Q_OBJECT
 public:
  StatisticsDialog(LineCounts& counts, const LineRecovery& line, std::function<int()> unitCount,
                   QWidget* parent = nullptr);

  /// Rewrites the table and the line state from the counts.
  void refresh();
  /// Sets every count back to zero.
  void resetCounts();

  QTableWidget* table = nullptr;
  QLabel* lineState = nullptr;
  /// Further lines under the line's state, asked at every refresh (the broker link's state).
  std::function<QStringList()> moreLines;

 private:
  LineCounts& counts_;
  const LineRecovery& line_;
  std::function<int()> unitCount_;
  QTimer timer_;
};

}  // namespace health
