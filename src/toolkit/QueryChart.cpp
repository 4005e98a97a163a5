#include "toolkit/QueryChart.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLayout>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>


namespace toolkit {

namespace {

// Arial where it is installed; elsewhere its metric-compatible stand-in, and a CJK face for
// the Chinese axis title.
QFont arialBold(int pixelSize) {
  QFont f;
  f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Noto Sans CJK SC")});
  f.setPixelSize(pixelSize);
  f.setBold(true);
  return f;
}

// Room between the left edge, the horizontal left-axis title and the axis labels.
constexpr qreal kTitleGap = 8;

}  // namespace

struct QueryChart::Parts {
  QChart* chart = nullptr;
  QChartView* view = nullptr;
  QValueAxis* bottom = nullptr;
  /// Dates for the long-term ranges; made on first use. Whichever of the two bottom axes is
  /// not in the chart belongs to this object.
  QDateTimeAxis* time = nullptr;
  bool timeShown = false;
  QValueAxis* left = nullptr;
  // Qt Charts writes a left axis title upright only; this one is written horizontally, so it
  // is an item of its own, kept beside the plot area.
  QGraphicsSimpleTextItem* leftTitle = nullptr;
  /// The curve: one series, or one per run of values between gaps.
  QList<QLineSeries*> series;
  /// The band behind a condensed curve, one per run.
  QList<QAreaSeries*> bands;

  ~Parts() {
    if (timeShown) delete bottom;
    else delete time;
  }
  QAbstractAxis* bottomAxis() const { return timeShown ? static_cast<QAbstractAxis*>(time) : bottom; }
  QLineSeries* line(const QList<QPointF>& points) {
    auto* series = new QLineSeries;
    series->replace(points);
    chart->addSeries(series);
    series->attachAxis(bottomAxis());
    series->attachAxis(left);
    // After adding: the chart's theme colours a series as it is added.
    QPen pen(QColor(255, 0, 0));
    pen.setWidth(1);
    series->setPen(pen);
    series->setPointsVisible(false);
    this->series.append(series);
    return series;
  }
  void swapBottom(QAbstractAxis* out, QAbstractAxis* in) {
    chart->removeAxis(out);
    chart->addAxis(in, Qt::AlignBottom);
  }

  void placeLeftTitle(const QRectF& plot) {
    const QRectF box = leftTitle->boundingRect();
    leftTitle->setPos(kTitleGap, plot.center().y() - box.height() / 2);
  }
};

QueryChart::QueryChart(QWidget* parent) : QWidget(parent), parts_(std::make_unique<Parts>()) {
  Parts& p = *parts_;
  p.chart = new QChart;
  p.chart->legend()->hide();
  p.chart->setBackgroundRoundness(0);
  p.chart->setPlotAreaBackgroundVisible(false);
  // The chart fills the widget; the view's grey would otherwise frame it.
  p.chart->layout()->setContentsMargins(0, 0, 0, 0);

  p.bottom = new QValueAxis;
  p.bottom->setRange(0, 24);
  p.bottom->setLabelFormat(QStringLiteral("%g"));
  p.bottom->setTitleText(QStringLiteral("小时"));
  p.bottom->setTitleFont(arialBold(13));
  p.bottom->setTitleBrush(Qt::black);
  p.chart->addAxis(p.bottom, Qt::AlignBottom);

  p.left = new QValueAxis;
  p.left->setRange(0, 16);
  p.left->setLabelFormat(QStringLiteral("%g"));
  p.chart->addAxis(p.left, Qt::AlignLeft);

  p.leftTitle = new QGraphicsSimpleTextItem(QStringLiteral(" V"), p.chart);
  p.leftTitle->setFont(arialBold(16));
  p.leftTitle->setBrush(Qt::black);
  QMargins margins = p.chart->margins();
  margins.setLeft(int(2 * kTitleGap + p.leftTitle->boundingRect().width() + 0.5));
  p.chart->setMargins(margins);
  connect(p.chart, &QChart::plotAreaChanged, this, [this](const QRectF& plot) { parts_->placeLeftTitle(plot); });

  p.view = new QChartView(p.chart, this);
  p.view->setRubberBand(QChartView::NoRubberBand);
  p.view->setDragMode(QGraphicsView::NoDrag);
  p.view->setInteractive(false);
  p.view->setFrameShape(QFrame::NoFrame);
  p.view->viewport()->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(p.view);
}

// The view owns the chart, the chart its axes, title item and series.
QueryChart::~QueryChart() = default;

void QueryChart::setTitleLine(const QString& line) { parts_->chart->setTitle(line); }

QString QueryChart::title() const { return parts_->chart->title(); }

void QueryChart::setValueMaximum(double maximum) { parts_->left->setRange(0, maximum); }

void QueryChart::setValueRange(double min, double max) { parts_->left->setRange(min, max); }

bool QueryChart::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ContextMenu && watched == parts_->view->viewport()) {
    emit contextMenuRequested(static_cast<QContextMenuEvent*>(event)->globalPos());
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void QueryChart::showHourAxis() {
  Parts& p = *parts_;
  if (!p.timeShown) return;
  clearSeries();
  p.swapBottom(p.time, p.bottom);
  p.timeShown = false;
}

void QueryChart::showTimeAxis(qint64 fromMs, qint64 toMs, const QString& format, int ticks) {
  Parts& p = *parts_;
  if (!p.time) {
    p.time = new QDateTimeAxis;
    p.time->setTitleText(QStringLiteral("日期"));
    p.time->setTitleFont(arialBold(13));
    p.time->setTitleBrush(Qt::black);
  }
  if (!p.timeShown) {
    clearSeries();
    p.swapBottom(p.bottom, p.time);
    p.timeShown = true;
  }
  p.time->setFormat(format);
  p.time->setTickCount(std::max(2, ticks));
  p.time->setRange(QDateTime::fromMSecsSinceEpoch(fromMs), QDateTime::fromMSecsSinceEpoch(toMs));
}

int QueryChart::plotWidth() const {
  const int w = int(parts_->chart->plotArea().width());
  // Before the first layout the plot area is empty; the widget's width less the axes' room.
  return w > 0 ? w : std::max(1, width() - 100);
}

void QueryChart::clearSeries() {
  Parts& p = *parts_;
  for (QAreaSeries* band : p.bands) {
    p.chart->removeSeries(band);
    delete band;
  }
  p.bands.clear();
  for (QLineSeries* series : p.series) {
    p.chart->removeSeries(series);
    delete series;
  }
  p.series.clear();
}

void QueryChart::showBand(const std::vector<std::vector<BandPoint>>& runs) {
  clearSeries();
  Parts& p = *parts_;
  for (const std::vector<BandPoint>& run : runs) {
    if (run.empty()) continue;
    auto* band = new QAreaSeries;
    auto* low = new QLineSeries(band);
    auto* high = new QLineSeries(band);
    QList<QPointF> mean;
    for (const BandPoint& b : run) {
      low->append(b.x, b.low);
      high->append(b.x, b.high);
      mean.append(QPointF(b.x, b.mean));
    }
    band->setUpperSeries(high);
    band->setLowerSeries(low);
    p.chart->addSeries(band);
    band->attachAxis(p.bottomAxis());
    band->attachAxis(p.left);
    band->setPen(Qt::NoPen);
    band->setBrush(QColor(255, 190, 190));
    p.bands.append(band);
    p.line(mean);
  }
}

std::optional<std::pair<double, double>> QueryChart::valueExtent() const {
  std::optional<std::pair<double, double>> out;
  const auto take = [&out](const QList<QPointF>& points) {
    for (const QPointF& pt : points)
      out = out ? std::make_pair(std::min(out->first, pt.y()), std::max(out->second, pt.y())) : std::make_pair(pt.y(), pt.y());
  };
  take(seriesPoints());
  take(bandLow());
  take(bandHigh());
  return out;
}

QList<QPointF> QueryChart::bandLow() const {
  QList<QPointF> points;
  for (const QAreaSeries* band : parts_->bands) points += band->lowerSeries()->points();
  return points;
}

QList<QPointF> QueryChart::bandHigh() const {
  QList<QPointF> points;
  for (const QAreaSeries* band : parts_->bands) points += band->upperSeries()->points();
  return points;
}

void QueryChart::showCurve(std::vector<CurvePoint> points) {
  clearSeries();
  // Rows come in no particular order; a line drawn in row order would zigzag across the day.
  std::stable_sort(points.begin(), points.end(), [](const CurvePoint& a, const CurvePoint& b) { return a.x < b.x; });
  Parts& p = *parts_;
  QList<QPointF> run;
  const auto addRun = [&p, &run] {
    p.line(run);
    run.clear();
  };
  for (const CurvePoint& point : points) {
    if (point.y) {
      run.append(QPointF(point.x, *point.y));
    } else if (!run.isEmpty()) {
      addRun();
    }
  }
  if (!run.isEmpty() || p.series.isEmpty()) addRun();
}

namespace {

QueryChart::Axis axisOf(const QValueAxis* axis) {
  QueryChart::Axis a;
  a.min = axis->min();
  a.max = axis->max();
  a.title = axis->isTitleVisible() ? axis->titleText() : QString();
  a.titleFont = axis->titleFont();
  a.titleColor = axis->titleBrush().color();
  a.titleHorizontal = axis->orientation() == Qt::Horizontal;
  return a;
}

}  // namespace

QueryChart::Axis QueryChart::bottomAxis() const {
  const Parts& p = *parts_;
  if (!p.timeShown) return axisOf(p.bottom);
  Axis a;
  a.min = double(p.time->min().toMSecsSinceEpoch());
  a.max = double(p.time->max().toMSecsSinceEpoch());
  a.title = p.time->titleText();
  a.titleFont = p.time->titleFont();
  a.titleColor = p.time->titleBrush().color();
  a.titleHorizontal = true;
  return a;
}

QueryChart::Axis QueryChart::leftAxis() const {
  Axis a = axisOf(parts_->left);
  const QGraphicsSimpleTextItem* t = parts_->leftTitle;
  a.title = t->text();
  a.titleFont = t->font();
  a.titleColor = t->brush().color();
  a.titleHorizontal = t->rotation() == 0;
  return a;
}

bool QueryChart::legendVisible() const { return parts_->chart->legend()->isVisible(); }

int QueryChart::seriesCount() const { return int(parts_->chart->series().size()); }

QList<QPointF> QueryChart::seriesPoints() const {
  QList<QPointF> points;
  for (const QLineSeries* series : parts_->series) points += series->points();
  return points;
}

QColor QueryChart::seriesColor() const { return parts_->series.isEmpty() ? QColor() : parts_->series[0]->pen().color(); }

qreal QueryChart::seriesPenWidth() const { return parts_->series.isEmpty() ? 0 : parts_->series[0]->pen().widthF(); }

bool QueryChart::seriesMarkersVisible() const {
  return !parts_->series.isEmpty() && parts_->series[0]->pointsVisible();
}

}  // namespace toolkit
