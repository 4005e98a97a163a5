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
  QColor seriesColor() const;
  qreal seriesPenWidth() const;
  bool seriesMarkersVisible() const;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace toolkit
