#include "store/core/SamplingRun.h"

#include <QStringList>
#include <algorithm>
#include <stdexcept>

#include "engine/EngineError.h"
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

bool lockedByAnotherProgram(const QString& engineText) {
  // SQLite's SQLITE_BUSY, after the engine's lock wait. "database table is locked" is a lock
  // within one connection, which waiting does not end.
  return engineText.contains(QLatin1StringView("database is locked"), Qt::CaseInsensitive);
}

bool worthRetrying(const QString& engineText) {
  // SQLITE_FULL ("database or disk is full"), SQLITE_IOERR ("disk I/O error": a write the
  // kernel refused, ENOSPC among them), and the engine's own text for a file replaced while
  // the run's transaction was open: the run was stored nowhere and goes into the new file.
  return lockedByAnotherProgram(engineText) || engineText.contains(QLatin1StringView("disk is full"), Qt::CaseInsensitive) ||
         engineText.contains(QLatin1StringView("disk I/O error"), Qt::CaseInsensitive) ||
         engineText.contains(QLatin1StringView("was replaced while a transaction was open"));
}

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
      // A full disk fails the next unit alike: the run is kept whole for later, not stored
      // with holes.
      if (const auto* db = dynamic_cast<const engine::EDatabaseError*>(&e); db && worthRetrying(db->engineText())) throw;
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
