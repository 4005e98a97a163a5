#include <stdexcept>

#include "DemoDay.h"

#include <cmath>
#include <numbers>

#include "engine/TADOQuery.h"
#include "store/core/SamplingRun.h"

namespace demo {

namespace {

constexpr double kFloat = 2.25;  // the simulator's resting cell voltage

double roundTo(double value, double step) { return std::round(value / step) * step; }

// Deviation from float charge at hour h: an outage from 13:00 to 14:30 drains the string, the
// charger then lifts it to 2.33 V and eases back to float over about two hours.
double outage(double h) {
  if (h < 13.0) return 0;
  if (h < 14.5) return -0.12 - 0.10 * (h - 13.0) / 1.5;
  const double after = h - 14.5;
  return 0.08 * std::exp(-after / 0.8);
}

}  // namespace

void reportedVoltages(int unit, int cells, int run, acquisition::MeasurementTables& tables) {
  const double h = run * 24.0 / kRunsPerDay;
  // The room warms over the day and the float voltage follows a little.
  const double day = 0.01 * std::sin((h - 9.0) * std::numbers::pi / 12.0);
  double total = 0;
  for (int k = 1; k <= acquisition::kCells; ++k) {
    double v = 0;
    if (k <= cells) {
      // A fixed offset per cell and a slow wobble, both deterministic: the demo is the same on
      // every machine.
      const double offset = 0.03 * std::sin(k * 2.399 + unit * 1.7);
      const double wobble = 0.004 * std::sin(run * 0.21 + k * 0.9 + unit);
      // A weak cell sags further in the outage.
      const double sag = (k == 7 && unit == 2) ? 1.6 : 1.0;
      v = roundTo(kFloat + offset + day + wobble + sag * outage(h), 0.01);
    }
    tables.CellVoltage[unit][k] = v;
    total += v;
  }
  tables.CellCount[unit] = cells;
  tables.TotalVoltage[unit] = roundTo(total, 0.1);
}

void storeDay(engine::TADOConnection& connection, int unitCount, int cells, int runs) {
  acquisition::MeasurementTables tables;
  engine::TADOQuery query(connection);
  connection.BeginTrans();
  try {
    for (int run = 0; run < runs; ++run) {
      for (int unit = 1; unit <= unitCount; ++unit) reportedVoltages(unit, cells, run, tables);
      const auto failures = store::storeRun(connection, query, unitCount, tables);
      if (!failures.empty()) throw std::runtime_error(store::failureText(failures).toStdString());
    }
    connection.CommitTrans();
  } catch (...) {
    connection.RollbackTrans();
    throw;
  }
}

}  // namespace demo
