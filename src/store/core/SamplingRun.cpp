#include "store/core/SamplingRun.h"

#include <algorithm>

#include "engine/Transaction.h"
#include "store/core/Statements.h"
#include "store/core/TableNames.h"

namespace store {

namespace {

int run(engine::TADOQuery& query, const QString& statement) {
  query.setSQL(statement);
  return query.ExecSQL();
}

void storeUnit(engine::TADOConnection& connection, engine::TADOQuery& query, int unit,
               const acquisition::MeasurementTables& tables) {
  int rows = 0;
  if (tableExists(connection, sampleTableName(unit))) {
    query.setSQL(rowCount(unit));
    query.Open();
    rows = query.Fields(0).AsInteger();
    query.Close();
    if (rows >= kWindowRows) {
      const int dropped = run(query, dropOldest(unit));
      run(query, shiftTimes(unit));
      // The new row takes the place right after the newest kept row. Counting the rows from
      // before the drop would leave an empty place at 23.95 that wanders down to 0, where the
      // drop then finds nothing, and the window would grow by a row every day.
      if (dropped > 0) rows -= dropped;
    }
  } else {
    run(query, createTable(unit));
  }
  run(query, insertSample(unit, tables.CellVoltage[unit], tables.TotalVoltage[unit], rows * kTimeStep));
}

}  // namespace

void storeRun(engine::TADOConnection& connection, engine::TADOQuery& query, int unitCount,
              const acquisition::MeasurementTables& tables) {
  const int last = std::min(unitCount, acquisition::kUnits);
  if (last < 1) return;
  engine::Transaction whole(connection);
  try {
    for (int unit = 1; unit <= last; ++unit) {
      engine::Transaction one(connection);
      storeUnit(connection, query, unit, tables);
      one.commit();
    }
  } catch (...) {
    query.Close();
    // The units stored before the failure stand; if even that commit fails, the whole run
    // rolls back and the windows stay as they were before it.
    try {
      whole.commit();
    } catch (const engine::EDatabaseError&) {
    }
    throw;
  }
  query.Close();
  whole.commit();
}

void clearSamples(engine::TADOConnection& connection, engine::TADOQuery& query, int unitCount) {
  query.Close();
  const int last = std::min(unitCount, acquisition::kUnits);
  for (int unit = 1; unit <= last; ++unit)
    if (tableExists(connection, sampleTableName(unit))) run(query, clearTable(unit));
}

}  // namespace store
