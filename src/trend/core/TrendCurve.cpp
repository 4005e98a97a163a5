#include "trend/core/TrendCurve.h"

#include <algorithm>

namespace trend {

namespace {
constexpr qint64 kRunMs = 180000;
}

qint64 gapAfter(const std::vector<archive::SeriesPoint>& points) {
  std::vector<qint64> steps;
  for (std::size_t i = 1; i < points.size(); ++i) steps.push_back(points[i].timeMs - points[i - 1].timeMs);
  if (steps.empty()) return 2 * kRunMs;
  std::nth_element(steps.begin(), steps.begin() + std::ptrdiff_t(steps.size() / 2), steps.end());
  return 2 * std::max(kRunMs, steps[steps.size() / 2]);
}

TrendCurve trendCurve(const archive::Series& series) {
  TrendCurve curve;
  curve.samples = series.samples;
  curve.condensed = !series.exact;
  std::vector<Column> run;
  const auto endRun = [&] {
    if (!run.empty()) curve.runs.push_back(std::move(run));
    run.clear();
  };
  if (series.exact) {
    const qint64 gap = gapAfter(series.points);
    for (std::size_t i = 0; i < series.points.size(); ++i) {
      const archive::SeriesPoint& p = series.points[i];
      if (i > 0 && p.timeMs - series.points[i - 1].timeMs > gap) endRun();
      run.push_back({double(p.timeMs), p.volts, p.volts, p.volts});
    }
  } else {
    for (const archive::SeriesColumn& c : series.columns) {
      if (c.count == 0) {
        endRun();
        continue;
      }
      run.push_back({double(c.fromMs + (c.toMs - c.fromMs) / 2), c.min, c.mean, c.max});
    }
  }
  endRun();
  return curve;
}

}  // namespace trend
