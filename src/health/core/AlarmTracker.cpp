#include "health/core/AlarmTracker.h"

#include <algorithm>

namespace health {

int AlarmTracker::step(Check& c, bool beyond, bool inside) {
  if (!c.active) {
    c.run = beyond ? static_cast<std::uint8_t>(c.run + 1) : 0;
    if (c.run < kReadings) return 0;
    c.active = true;
    c.run = 0;
    return 1;
  }
  c.run = inside ? static_cast<std::uint8_t>(c.run + 1) : 0;
  if (c.run < kReadings) return 0;
  c.active = false;
  c.run = 0;
  return -1;
}

void AlarmTracker::judge(int u, Check& c, Limit l, int cell, double value, std::vector<AlarmChange>& out) {
  const double limit = *limits_[l];
  const double margin = clearMargin(l);
  const bool low = l == Limit::CellLow || l == Limit::TotalLow;
  const bool beyond = low ? value < limit : value > limit;
  const bool inside = low ? value >= limit + margin : value <= limit - margin;
  const int changed = step(c, beyond, inside);
  if (!changed) return;
  units_[u].active += changed;
  out.push_back(AlarmChange{u, cell, l, changed > 0, value});
}

void AlarmTracker::reading(int u, const acquisition::CellRow& cells, int n, double total,
                           std::vector<AlarmChange>& out) {
  if (!limits_.any()) return;
  UnitState& s = units_[u];
  n = std::clamp(n, 0, acquisition::kCells);
  const bool low = limits_[Limit::CellLow].has_value(), high = limits_[Limit::CellHigh].has_value();
  if (low || high) {
    for (int k = 1; k <= n; ++k) {
      CellChecks& c = s.cells[k];
      const double v = cells[k];
      c.last = v;
      if (low) judge(u, c.low, Limit::CellLow, k, v, out);
      if (high) judge(u, c.high, Limit::CellHigh, k, v, out);
    }
  }
  // Cells the unit no longer reports (its count went down) cannot stay in alarm: nothing would
  // ever clear them.
  for (int k = n + 1; k <= acquisition::kCells; ++k) {
    CellChecks& c = s.cells[k];
    for (auto [check, limit] : {std::pair{&c.low, Limit::CellLow}, std::pair{&c.high, Limit::CellHigh}}) {
      check->run = 0;
      if (!check->active) continue;
      check->active = false;
      --s.active;
      out.push_back(AlarmChange{u, k, limit, false, c.last});
    }
  }
  s.lastTotal = total;
  if (limits_[Limit::TotalLow]) judge(u, s.totalLow, Limit::TotalLow, 0, total, out);
  if (limits_[Limit::TotalHigh]) judge(u, s.totalHigh, Limit::TotalHigh, 0, total, out);
  // A spread needs two cells; a unit of one cell or none has none to judge.
  if (limits_[Limit::Spread] && n >= 2) {
    double lo = cells[1], hi = cells[1];
    for (int k = 2; k <= n; ++k) {
      lo = std::min(lo, cells[k]);
      hi = std::max(hi, cells[k]);
    }
    s.lastSpread = hi - lo;
    judge(u, s.spread, Limit::Spread, 0, s.lastSpread, out);
  }
}

void AlarmTracker::clearAll(Limit l, std::vector<AlarmChange>& out) {
  for (int u = 1; u <= acquisition::kUnits; ++u) {
    UnitState& s = units_[u];
    auto drop = [&](Check& c, int cell, double value) {
      c.run = 0;
      if (!c.active) return;
      c.active = false;
      --s.active;
      out.push_back(AlarmChange{u, cell, l, false, value});
    };
    switch (l) {
      case Limit::CellLow:
        for (int k = 1; k <= acquisition::kCells; ++k) drop(s.cells[k].low, k, s.cells[k].last);
        break;
      case Limit::CellHigh:
        for (int k = 1; k <= acquisition::kCells; ++k) drop(s.cells[k].high, k, s.cells[k].last);
        break;
      case Limit::TotalLow: drop(s.totalLow, 0, s.lastTotal); break;
      case Limit::TotalHigh: drop(s.totalHigh, 0, s.lastTotal); break;
      case Limit::Spread: drop(s.spread, 0, s.lastSpread); break;
    }
  }
}

void AlarmTracker::setLimits(const Limits& limits, std::vector<AlarmChange>& out) {
  for (Limit l : kAllLimits)
    if (limits_[l] != limits[l]) clearAll(l, out);
  limits_ = limits;
}

std::vector<int> AlarmTracker::unitsInAlarm() const {
  std::vector<int> units;
  for (int u = 1; u <= acquisition::kUnits; ++u)
    if (units_[u].active > 0) units.push_back(u);
  return units;
}

bool AlarmTracker::limitInAlarm(int u, Limit limit) const {
  const UnitState& unit = units_[u];
  switch (limit) {
    case Limit::TotalLow: return unit.totalLow.active;
    case Limit::TotalHigh: return unit.totalHigh.active;
    case Limit::Spread: return unit.spread.active;
    case Limit::CellLow:
    case Limit::CellHigh:
      for (int k = 1; k <= acquisition::kCells; ++k) {
        const CellChecks& c = unit.cells[k];
        if (limit == Limit::CellLow ? c.low.active : c.high.active) return true;
      }
      return false;
  }
  return false;
}

}  // namespace health
