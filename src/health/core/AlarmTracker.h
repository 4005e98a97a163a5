#pragma once
// Alarm states of every unit against the station-wide limits, with a debounce both ways: a
// limit counts as crossed after kReadings successive readings beyond it, and clears after
// kReadings successive readings back inside it by its clear margin. A reading between the
// limit and the margin keeps the alarm as it is, so a cell that chatters around its limit
// raises one alarm, not one a minute.
#include <array>
#include <cstdint>
#include <vector>

#include "acquisition/core/MeasurementTables.h"
#include "health/core/Limits.h"

namespace health {

inline constexpr int kReadings = 2;

/// One alarm raised or cleared.
struct AlarmChange {
  int unit = 0;
  /// 1..108 for a cell limit; 0 for the total and the spread.
  int cell = 0;
  Limit limit = Limit::CellLow;
  bool raised = false;
  /// The reading that decided it.
  double value = 0;
};

class AlarmTracker {
 public:
  const Limits& limits() const { return limits_; }
  /// New limits. Alarms of a limit now off, or moved, are cleared (appended to `out` with the
  /// value of their last reading); the next readings are judged afresh against the new ones.
  void setLimits(const Limits& limits, std::vector<AlarmChange>& out);

  /// One good reading of unit u (1..99): its cells 1..n and its total. Cells above n are not
  /// read and keep their state. Does nothing while no limit is set.
  void reading(int u, const acquisition::CellRow& cells, int n, double total, std::vector<AlarmChange>& out);

  bool cellInAlarm(int u, int k) const { return units_[u].cells[k].active(); }
  bool totalInAlarm(int u) const { return units_[u].totalLow.active || units_[u].totalHigh.active; }
  bool spreadInAlarm(int u) const { return units_[u].spread.active; }
  /// Whether an alarm of this kind is active on unit u (for a cell limit: on any cell).
  bool limitInAlarm(int u, Limit limit) const;
  /// Alarms active on the unit, of every kind.
  int activeCount(int u) const { return units_[u].active; }
  /// Units with an active alarm, in ascending order.
  std::vector<int> unitsInAlarm() const;

 private:
  /// The debounce of one limit on one value.
  struct Check {
    bool active = false;
    std::uint8_t run = 0;  ///< successive readings towards the other state
  };
  struct CellChecks {
    Check low, high;
    bool active() const { return low.active || high.active; }
    double last = 0;
  };
  struct UnitState {
    acquisition::IndexedArray<CellChecks, 1, acquisition::kCells> cells{};
    Check totalLow, totalHigh, spread;
    double lastTotal = 0, lastSpread = 0;
    int active = 0;
  };

  /// Advances one check; beyond says the reading is past the limit, inside that it is back by
  /// the margin. Returns +1 when raised, -1 when cleared, 0 otherwise.
  static int step(Check& c, bool beyond, bool inside);
  void judge(int u, Check& c, Limit l, int cell, double value, std::vector<AlarmChange>& out);
  void clearAll(Limit l, std::vector<AlarmChange>& out);

  Limits limits_;
  acquisition::IndexedArray<UnitState, 1, acquisition::kUnits> units_{};
};

}  // namespace health
