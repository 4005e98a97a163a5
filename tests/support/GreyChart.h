#pragma once
// A chart view for print tests: one line series on a grey ground that fills the whole view with
// no margins, so a printed page shows exactly where the chart's area ends.
#include <QChart>
#include <QChartView>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QPointF>
#include <vector>

inline void fillGreyChart(QChartView& view, const QString& title, const std::vector<QPointF>& points) {
  auto* chart = new QChart;
  chart->setTitle(title);
  auto* series = new QLineSeries;
  for (const QPointF& p : points) series->append(p);
  chart->addSeries(series);
  chart->createDefaultAxes();
  chart->legend()->hide();
  chart->setBackgroundBrush(QColor(160, 160, 160));
  chart->setBackgroundRoundness(0);
  chart->setDropShadowEnabled(false);
  chart->setMargins(QMargins(0, 0, 0, 0));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  view.setChart(chart);
  view.resize(753, 437);
  view.show();
}
