#pragma once
// 单体对比: the weak-cell finder over a unit and a range. Every cell's mean deviation from the
// unit's cell mean (mV), its trend (mV a month), the ten cells drifting most (most first) and a
// chart of their deviation over time; printable through the report component. Of the ten, the
// cells whose trend reaches a threshold the operator may change are marked in red (none in a
// healthy unit).
#include <QDialog>
#include <functional>

#include "archive/core/CellDeviation.h"
#include "report/PageWriter.h"
#include "trend/core/TrendRange.h"

class QDoubleSpinBox;
class QLabel;
class QTableWidget;
class QPushButton;

namespace trend {

class CompareDialog : public QDialog {
  Q_OBJECT
 public:
  /// Reads the archive now. Throws archive::ArchiveError for an empty range.
  CompareDialog(const QString& archiveFolder, int unit, const Range& range, QWidget* parent = nullptr);

  /// Prints the comparison (打印…); without it the button does nothing.
  std::function<void()> print;

  const archive::DeviationReport& report() const { return report_; }
  /// The printed comparison, for the report component's OnPrint.
  std::function<void(report::PageWriter&)> reportBody(const QString& station) const;
  /// The cells of the ten whose trend reaches the threshold, most drifting first.
  std::vector<int> markedCells() const;

  QLabel* heading = nullptr;
  /// The ten cells drifting most, most first: 名次, 节号, 平均偏差, 趋势.
  QTableWidget* drifting = nullptr;
  /// Every cell by number: 节号, 平均偏差, 趋势, 样本.
  QTableWidget* cells = nullptr;
  QPushButton* printButton = nullptr;
  /// The threshold (mV a month, either way) from which a cell is marked; kDriftMarkMvPerMonth first.
  QDoubleSpinBox* thresholdBox = nullptr;
  /// Names the marked cells, or says that none reaches the threshold.
  QLabel* marked = nullptr;

 private:
  int unit_;
  Range range_;
  void mark();

  archive::DeviationReport report_;
};

/// "超过 5.0 mV/月 的单体：第7节", or that none is.
QString markedText(const archive::DeviationReport& report, double thresholdMvPerMonth);

/// A deviation or trend in mV with one decimal and its sign: "+3.2", "-29.8", "0.0".
QString signedMv(double mv);

}  // namespace trend
