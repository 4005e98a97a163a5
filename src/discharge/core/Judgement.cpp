#include "discharge/core/Judgement.h"

#include <algorithm>
#include <climits>

namespace discharge {

namespace {

/// How many samples, from the first, belong to the discharge under load: all but the trailing
/// ones whose total is back at or above the threshold (the readings that ended a recovered
/// discharge, or a recording ended by hand after the load went). All when none lies below it
/// or the record holds no threshold.
std::size_t underLoad(const Recording& r) {
  const int cells = r.record.cells > 0 ? r.record.cells : r.cells;
  const qint64 line = static_cast<qint64>(r.record.thresholdMv) * cells;
  if (line <= 0) return r.size();
  for (std::size_t i = r.size(); i > 0; --i)
    if (r.totals[i - 1] < line) return i;
  return r.size();
}

}  // namespace

Judgement judge(const Recording& r, int endVoltageMv) {
  Judgement j;
  j.endVoltageMv = endVoltageMv;
  const qint64 start = r.record.startMs;
  const qint64 end = r.record.endMs ? *r.record.endMs : (r.times.empty() ? start : r.times.back());
  j.durationMs = std::max<qint64>(0, end - start);
  const std::size_t loaded = underLoad(r);
  if (!r.totals.empty()) {
    j.startTotalMv = r.totals.front();
    j.endTotalMv = r.totals[loaded - 1];
    j.minTotalMv = *std::min_element(r.totals.begin(), r.totals.end());
  }

  for (int k = 1; k <= r.cells; ++k) {
    CellJudgement c;
    c.cell = k;
    c.minMv = INT_MAX;
    bool any = false;
    for (std::size_t i = 0; i < r.size(); ++i) {
      const int v = r.cell(i, k);
      if (v < 0) continue;
      if (!any) c.startMv = v;
      any = true;
      if (i < loaded) c.endMv = v;
      c.minMv = std::min(c.minMv, v);
      if (!c.crossedMs && v <= endVoltageMv) c.crossedMs = r.times[i] - start;
    }
    if (any) j.cells.push_back(c);
  }

  std::vector<int> mins;
  for (const CellJudgement& c : j.cells) mins.push_back(c.minMv);
  int median = 0;
  if (!mins.empty()) {
    std::nth_element(mins.begin(), mins.begin() + static_cast<std::ptrdiff_t>(mins.size() / 2), mins.end());
    median = mins[mins.size() / 2];
  }
  std::vector<CellJudgement*> order;
  for (CellJudgement& c : j.cells) {
    c.weak = c.crossedMs.has_value() || c.minMv <= median - kWeakBelowMedianMv;
    order.push_back(&c);
  }
  std::sort(order.begin(), order.end(), [](const CellJudgement* a, const CellJudgement* b) {
    const qint64 ta = a->crossedMs.value_or(LLONG_MAX), tb = b->crossedMs.value_or(LLONG_MAX);
    if (ta != tb) return ta < tb;
    if (a->minMv != b->minMv) return a->minMv < b->minMv;
    if (a->endMv != b->endMv) return a->endMv < b->endMv;
    return a->cell < b->cell;
  });
  for (std::size_t i = 0; i < order.size(); ++i) {
    order[i]->rank = static_cast<int>(i) + 1;
    j.weakestFirst.push_back(order[i]->cell);
  }
  if (!order.empty() && order.front()->crossedMs) {
    j.firstCrossedMs = order.front()->crossedMs;
    j.firstCrossedCell = order.front()->cell;
  }
  if (r.record.ratedMinutes && *r.record.ratedMinutes > 0) {
    const double rated = *r.record.ratedMinutes * 60000.0;
    j.capacityAtLeast = !j.firstCrossedMs;
    j.capacity = static_cast<double>(j.firstCrossedMs.value_or(j.durationMs)) / rated;
  }
  return j;
}

}  // namespace discharge
