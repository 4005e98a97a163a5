#include "archive/core/CellDeviation.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace archive {

namespace {

struct Fit {
  // Sums for the least squares fit, time in days from the range's start.
  double n = 0, t = 0, d = 0, tt = 0, td = 0;
  void add(double day, double dev) {
    n += 1;
    t += day;
    d += dev;
    tt += day * day;
    td += day * dev;
  }
  double slopePerDay() const {
    const double den = n * tt - t * t;
    return n < 2 || den <= 0 ? 0 : (n * td - t * d) / den;
  }
};

}  // namespace

DeviationReport cellDeviations(ArchiveReader& reader, int unit, qint64 fromMs, qint64 toMs, int columns, int top,
                               const DeviationProgress& progress) {
  if (toMs <= fromMs || columns < 1) throw ArchiveError("长期记录：时间范围无效");
  std::vector<Fit> fits(kCells);
  // One pass: the fits and every cell's curve (the chosen cells' curves are kept at the end).
  const double width = double(toMs - fromMs) / columns;
  std::vector<std::vector<SeriesColumn>> curves(kCells, std::vector<SeriesColumn>(std::size_t(columns)));
  for (auto& curve : curves)
    for (int c = 0; c < columns; ++c) {
      SeriesColumn& col = curve[std::size_t(c)];
      col.fromMs = fromMs + qint64(width * c);
      col.toMs = c + 1 == columns ? toMs : fromMs + qint64(width * (c + 1));
      col.min = std::numeric_limits<double>::max();
      col.max = std::numeric_limits<double>::lowest();
    }
  qint64 read = 0;
  const bool complete = reader.forEachMonth(unit, fromMs, toMs, [&](std::vector<StoredRun>& runs) {
    read += qint64(runs.size());
    for (const StoredRun& r : runs) {
      if (r.cellCount < 2) continue;
      double mean = 0;
      for (int i = 0; i < r.cellCount; ++i) mean += double(r.mv[std::size_t(i)]);
      mean /= r.cellCount;
      const double day = double(r.timeMs - fromMs) / double(kDayMs);
      const auto col = std::size_t(std::clamp(qint64(double(r.timeMs - fromMs) / width), qint64(0), qint64(columns - 1)));
      for (int i = 0; i < r.cellCount; ++i) {
        const double dev = double(r.mv[std::size_t(i)]) - mean;
        fits[std::size_t(i)].add(day, dev);
        SeriesColumn& c = curves[std::size_t(i)][col];
        ++c.count;
        c.min = std::min(c.min, dev);
        c.max = std::max(c.max, dev);
        c.mean += dev;
      }
    }
    return !progress || progress(read);
  });

  DeviationReport report;
  report.complete = complete;
  for (int i = 0; i < kCells; ++i) {
    const Fit& f = fits[std::size_t(i)];
    if (f.n == 0) continue;
    report.cells.push_back({i + 1, qint64(f.n), f.d / f.n, f.slopePerDay() * 30.0});
  }
  report.drifting = report.cells;
  std::stable_sort(report.drifting.begin(), report.drifting.end(), [](const CellDeviation& a, const CellDeviation& b) {
    return std::abs(a.trendMvPerMonth) > std::abs(b.trendMvPerMonth);
  });
  if (int(report.drifting.size()) > top) report.drifting.resize(std::size_t(std::max(0, top)));
  for (const CellDeviation& d : report.drifting) {
    std::vector<SeriesColumn>& curve = curves[std::size_t(d.cell - 1)];
    for (SeriesColumn& c : curve) {
      if (c.count == 0) c.min = c.max = 0;
      else c.mean /= c.count;
    }
    report.curves.push_back(std::move(curve));
  }
  return report;
}

}  // namespace archive
