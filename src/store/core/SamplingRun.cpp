#include "store/core/SamplingRun.h"

#include <QStringList>
#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include "engine/Transaction.h"
#include "engine/WindowRun.h"
#include "store/core/Statements.h"
#include "store/core/TableNames.h"

namespace store {

namespace {

int run(engine::TADOQuery& query, const QString& statement) {
  query.setSQL(statement);
  return query.ExecSQL();
}

// The unit's row as the statements below store it, on a table in the form the station makes
// (V1..V108, V, measureTime last), straight on kept statements. False when the table is in
// another form (not there yet, a plain table to take over, other columns) or a value is no
// number: the statements then say what happens.
bool storeUnitDirect(engine::TADOConnection& connection, int unit, const acquisition::MeasurementTables& tables) {
  std::array<double, acquisition::kCells + 1> values{};
  for (int k = 1; k <= acquisition::kCells; ++k) values[std::size_t(k - 1)] = tables.CellVoltage[unit][k];
  values.back() = tables.TotalVoltage[unit];
  for (const double v : values)
    if (!std::isfinite(v)) return false;
  const QString table = sampleTableName(unit);
  std::optional<engine::window::Layout> layout = connection.windowLayout(table);
  if (!layout || layout->columnCount != int(values.size()) + 1 || layout->timeIndex != int(values.size())) return false;
  long long rows = engine::window::storedRows(connection, table);
  if (rows >= kWindowRows) {
    const int dropped = engine::window::deleteAtStep(connection, table, *layout, 0);
    engine::window::lowerTimes(connection, table, *layout, 1);
    if (dropped > 0) rows -= dropped;  // as below
  }
  engine::window::insertAtStep(connection, table, *layout, values, rows);
  return true;
}

void storeUnit(engine::TADOConnection& connection, engine::TADOQuery& query, int unit,
               const acquisition::MeasurementTables& tables) {
  if (storeUnitDirect(connection, unit, tables)) return;
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

std::vector<UnitFailure> storeRun(engine::TADOConnection& connection, engine::TADOQuery& query, int unitCount,
                                  const acquisition::MeasurementTables& tables) {
  std::vector<UnitFailure> failures;
  const int last = std::min(unitCount, acquisition::kUnits);
  if (last < 1) return failures;
  struct CloseQuery {
    engine::TADOQuery& q;
    ~CloseQuery() { q.Close(); }
  } closeQuery{query};
  engine::Transaction whole(connection);
  const int runLevel = connection.TransactionLevel();
  for (int unit = 1; unit <= last; ++unit) {
    try {
      engine::Transaction one(connection);
      storeUnit(connection, query, unit, tables);
      one.commit();
    } catch (const std::runtime_error& e) {
      // Engine errors and a row count that is no integer alike: the unit's savepoint has rolled
      // back, its window stands as before the run.
      query.Close();
      if (connection.TransactionLevel() != runLevel) throw;  // the run itself is over
      failures.push_back({unit, QString::fromUtf8(e.what())});
    }
  }
  whole.commit();
  return failures;
}

QString failureText(const std::vector<UnitFailure>& failures) {
  QStringList lines{QStringLiteral("以下检测仪的采样数据未能保存：")};
  for (const UnitFailure& f : failures)
    lines << QStringLiteral("%1号 (%2)：%3").arg(f.unit).arg(sampleTableName(f.unit), f.text);
  return lines.join(QLatin1Char('\n'));
}

void clearSamples(engine::TADOConnection& connection, engine::TADOQuery& query, int unitCount) {
  query.Close();
  const int last = std::min(unitCount, acquisition::kUnits);
  for (int unit = 1; unit <= last; ++unit)
    if (tableExists(connection, sampleTableName(unit))) run(query, clearTable(unit));
}

}  // namespace store
