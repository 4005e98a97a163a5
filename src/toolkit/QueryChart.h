#pragma once
// The query-bound chart: fixed axes, a one-line title and at most one line series whose points
// come from a query's rows. Everything that touches the charting library stays behind this
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

namespace engine {
class TADOQuery;
}

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

  /// Detaches and destroys the series; does nothing without one.
  void clearSeries();
  /// Replaces the series by a new one with a point per row of `query`: X from `xColumn`, Y
  /// from `yColumn` (any letter case), both read as numbers (null reads 0), in ascending X
  /// whatever order the rows came in (rows of equal X keep their order). Drawn as a plain
  /// red line, one pixel wide, without point markers. Throws engine::EDatabaseError for a
  /// closed query or an unknown column; the chart then holds no series.
  void bindSeries(const engine::TADOQuery& query, const QString& xColumn, const QString& yColumn);

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
