#pragma once
// The curve chart: fixed axes, a one-line title and one red curve (a line series, or one per
// run of values between gaps). Everything that touches the charting library stays behind this
// class (Qt Charts today; its successor Qt Graphs is not in Debian 12's Qt), so a change of
// library touches QueryChart.cpp only. The chart is an ordinary widget: it can be rendered
// (printed) like any other.
#include <QColor>
#include <QFont>
#include <QList>
#include <QPointF>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace toolkit {

class QueryChart : public QWidget {
  Q_OBJECT
 public:
  /// The bottom axis runs 0..24 ("小时"), the left axis 0..16 (" V", written horizontally);
  /// no legend, no mouse zoom or panning, no fill behind the plot, no series.
  explicit QueryChart(QWidget* parent = nullptr);
  ~QueryChart() override;

  /// Replaces the title by this one line.
  void setTitleLine(const QString& line);
  QString title() const;

  /// Fixes the left axis to 0..maximum.
  void setValueMaximum(double maximum);
  /// Fixes the left axis to min..max (a range fitted to the data).
  void setValueRange(double min, double max);

  /// The bottom axis as it starts: hours 0..24, "小时". Does nothing when it shows them.
  void showHourAxis();
  /// The bottom axis as local date and time over [fromMs, toMs) (ms since 1970 UTC), labels in
  /// `format` (QDateTime's), `ticks` of them; curves then take X in the same milliseconds.
  void showTimeAxis(qint64 fromMs, qint64 toMs, const QString& format, int ticks);
  /// Pixels the plot area is wide: the most columns a curve can show apart.
  int plotWidth() const;

  /// A point of a curve; a point without a value is a gap in the line.
  struct CurvePoint {
    double x = 0;
    std::optional<double> y;
  };

  /// Detaches and destroys the curve; does nothing without one.
  void clearSeries();
  /// Replaces the curve by these points in ascending X, whatever order they came in (points of
  /// equal X keep their order), drawn as a plain red line, one pixel wide, without point
  /// markers. A point without a value breaks the line: the runs on either side are drawn as
  /// series of their own, and nothing is drawn for the gap.
  void showCurve(std::vector<CurvePoint> points);

  /// One column of a condensed curve: the lowest, mean and highest value at x.
  struct BandPoint {
    double x = 0;
    double low = 0, mean = 0, high = 0;
  };
  /// Replaces the curve by runs of columns (each run unbroken, in ascending X): per run a pale
  /// band from low to high and the mean as the red line over it. Nothing is drawn between runs.
  void showBand(const std::vector<std::vector<BandPoint>>& runs);
  /// The lowest and highest value of what is drawn (band edges included); none without points.
  std::optional<std::pair<double, double>> valueExtent() const;

  // What the chart shows, read back from the charting library.
  struct Axis {
    double min = 0;
    double max = 0;
    QString title;
    QFont titleFont;
    QColor titleColor;
    bool titleHorizontal = false;
  };
  Axis bottomAxis() const;
  Axis leftAxis() const;
  bool legendVisible() const;
  int seriesCount() const;
  /// The series' points in drawing order; empty without a series.
  QList<QPointF> seriesPoints() const;
  /// The band's lower and upper edges, every run in drawing order; empty without a band.
  QList<QPointF> bandLow() const;
  QList<QPointF> bandHigh() const;
  QColor seriesColor() const;
  qreal seriesPenWidth() const;
  bool seriesMarkersVisible() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 signals:
  /// A right click (or the menu key) on the chart, at this global position.
  void contextMenuRequested(const QPoint& globalPos);

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace toolkit
