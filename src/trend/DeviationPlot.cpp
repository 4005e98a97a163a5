#include "trend/DeviationPlot.h"

#include <QDateTime>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <iterator>

namespace trend {

QColor curveColor(std::size_t n) {
  // No red: red marks the cells drifting past the threshold, not the first curve.
  static const QColor colors[] = {QColor(0, 110, 200), QColor(230, 120, 0), QColor(0, 150, 60),  QColor(130, 0, 160),
                                  QColor(120, 80, 0),  QColor(0, 160, 170), QColor(220, 0, 140), QColor(90, 90, 90),
                                  QColor(150, 150, 0), QColor(70, 70, 180)};
  return colors[n % std::size(colors)];
}

void paintDeviations(QPainter& p, const QRectF& outer, const archive::DeviationReport& report, const Range& range,
                     double unit) {
  p.save();
  QFont font = p.font();
  font.setPixelSize(std::max(6, int(std::lround(10 * unit))));
  p.setFont(font);
  const double text = p.fontMetrics().height();
  // Room for the mV labels on the left, the legend above, the dates below and half a date
  // beyond the right edge.
  const QRectF box = outer.adjusted(6 * text * 0.6, 1.6 * text, -3.5 * text, -1.4 * text);
  double lo = -1, hi = 1;
  for (const auto& curve : report.curves)
    for (const archive::SeriesColumn& c : curve)
      if (c.count) lo = std::min(lo, c.mean), hi = std::max(hi, c.mean);
  // Four grid steps of 1, 2 or 5 times a power of ten.
  const double raw = (hi - lo) * 1.08 / 4;
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  const double step = raw <= decade ? decade : raw <= 2 * decade ? 2 * decade : raw <= 5 * decade ? 5 * decade : 10 * decade;
  lo = std::floor(lo / step) * step;
  hi = std::ceil(hi / step) * step;
  const double span = double(std::max<qint64>(1, range.toMs - range.fromMs));
  const auto at = [&](double ms, double mv) {
    return QPointF(box.left() + (ms - double(range.fromMs)) / span * box.width(),
                   box.bottom() - (mv - lo) / (hi - lo) * box.height());
  };
  const QPen thin(Qt::black, std::max(1.0, unit));
  p.setPen(thin);
  p.drawRect(box);
  const int lines = int(std::lround((hi - lo) / step));
  for (int i = 0; i <= lines; ++i) {
    const double mv = lo + step * i;
    const double y = at(double(range.fromMs), mv).y();
    p.setPen(QPen(QColor(210, 210, 210), std::max(1.0, unit)));
    p.drawLine(QPointF(box.left(), y), QPointF(box.right(), y));
    p.setPen(thin);
    p.drawText(QRectF(outer.left(), y - text / 2, box.left() - outer.left() - text * 0.3, text),
               Qt::AlignRight | Qt::AlignVCenter, QString::number(mv, 'f', step < 1 ? 1 : 0));
  }
  for (int i = 0; i <= 4; ++i) {
    const double ms = double(range.fromMs) + span * i / 4;
    const double x = at(ms, lo).x();
    p.drawText(QRectF(x - 4 * text, box.bottom() + text * 0.2, 8 * text, text), Qt::AlignHCenter | Qt::AlignTop,
               QDateTime::fromMSecsSinceEpoch(qint64(ms)).toString(QStringLiteral("yyyy-MM-dd")));
  }
  p.drawText(QRectF(outer.left(), outer.top(), box.left() - outer.left(), 1.4 * text), Qt::AlignLeft | Qt::AlignBottom,
             QStringLiteral("mV"));
  p.setPen(QPen(Qt::black, std::max(1.0, unit), Qt::DashLine));
  p.drawLine(at(double(range.fromMs), 0), at(double(range.toMs), 0));
  p.setClipRect(box);
  for (std::size_t n = 0; n < report.curves.size(); ++n) {
    QPainterPath path;
    bool open = false;
    for (const archive::SeriesColumn& c : report.curves[n]) {
      if (!c.count) {
        open = false;
        continue;
      }
      const QPointF pt = at(double(c.fromMs + (c.toMs - c.fromMs) / 2), c.mean);
      if (open) path.lineTo(pt);
      else path.moveTo(pt);
      open = true;
    }
    p.setPen(QPen(curveColor(n), std::max(1.0, 1.5 * unit)));
    p.drawPath(path);
  }
  p.setClipping(false);
  double x = box.right();
  for (std::size_t n = report.drifting.size(); n-- > 0;) {
    const QString name = QStringLiteral("第%1节").arg(report.drifting[n].cell);
    const double w = p.fontMetrics().horizontalAdvance(name) + text * 0.6;
    x -= w;
    p.setPen(curveColor(n));
    p.drawText(QRectF(x, outer.top(), w, 1.4 * text), Qt::AlignLeft | Qt::AlignBottom, name);
  }
  p.restore();
}

DeviationPlot::DeviationPlot(const archive::DeviationReport& report, const Range& range, QWidget* parent)
    : QWidget(parent), report_(report), range_(range) {
  setMinimumSize(560, 260);
}

void DeviationPlot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(rect(), Qt::white);
  paintDeviations(p, QRectF(rect()).adjusted(4, 4, -4, -4), report_, range_, 1.0);
}

}  // namespace trend
