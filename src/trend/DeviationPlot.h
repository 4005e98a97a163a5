#pragma once
// The drifting cells' deviation from their unit's cell mean over time, painted into a box: on
// screen in the comparison dialog and on the printed comparison alike.
#include <QPainter>
#include <QRectF>
#include <QWidget>

#include "archive/core/CellDeviation.h"
#include "trend/core/TrendRange.h"

namespace trend {

/// The colour of the n-th drifting cell's curve (n from 0).
QColor curveColor(std::size_t n);

/// Frame, grid with mV and local dates, one line per drifting cell (its column means; empty
/// columns break it), a zero line and the legend. `unit` is a device pixel's fraction of a
/// point: 1 on screen, the device's dots per point in print.
void paintDeviations(QPainter& p, const QRectF& box, const archive::DeviationReport& report, const Range& range,
                     double unit);

class DeviationPlot : public QWidget {
 public:
  DeviationPlot(const archive::DeviationReport& report, const Range& range, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const archive::DeviationReport& report_;
  Range range_;
};

}  // namespace trend
