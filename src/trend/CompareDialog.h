#pragma once
// 单体对比: the weak-cell finder over a unit and a range. Every cell's mean deviation from the
// unit's cell mean (mV), its trend (mV a month), the ten cells drifting most (most first) and a
// chart of their deviation over time; printable through the report component.
#include <QDialog>
#include <functional>

#include "archive/core/CellDeviation.h"
#include "report/PageWriter.h"
#include "trend/core/TrendRange.h"

class QLabel;
class QTableWidget;
class QPushButton;

namespace trend {

class CompareDialog : public QDialog {
  Q_OBJECT
 public:
  /// Shows `report`, the finder's pass over `range` (made beforehand, off the window's thread:
  /// see comparisonOf).
  CompareDialog(archive::DeviationReport report, int unit, const Range& range, QWidget* parent = nullptr);

  /// Prints the comparison (打印…); without it the button does nothing.
  std::function<void()> print;

  const archive::DeviationReport& report() const { return report_; }
  /// The printed comparison, for the report component's OnPrint.
  std::function<void(report::PageWriter&)> reportBody(const QString& station) const;

  QLabel* heading = nullptr;
  /// The ten cells drifting most, most first: 名次, 节号, 平均偏差, 趋势.
  QTableWidget* drifting = nullptr;
  /// Every cell by number: 节号, 平均偏差, 趋势, 样本.
  QTableWidget* cells = nullptr;
  QPushButton* printButton = nullptr;

 private:
  int unit_;
  Range range_;
  archive::DeviationReport report_;
};

/// The finder's pass over the unit's `range` of the archive in `archiveFolder`, with the chart's
/// columns the dialog draws. `progress` as for archive::cellDeviations.
archive::DeviationReport comparisonOf(const QString& archiveFolder, int unit, const Range& range,
                                      const archive::DeviationProgress& progress = {});

/// A deviation or trend in mV with one decimal and its sign: "+3.2", "-29.8", "0.0".
QString signedMv(double mv);

}  // namespace trend
