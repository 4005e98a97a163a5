#include "engine/TimeWindow.h"

#include "engine/EngineError.h"

namespace engine::window {

namespace {

constexpr double kStepHours = 0.05;

QString quoted(const QString& name) { return QLatin1Char('"') + name + QLatin1Char('"'); }
QString rowsTable(const QString& t) { return quoted(QStringLiteral("cs_rows_") + t); }
QString keyedView(const QString& t) { return quoted(QStringLiteral("cs_keyed_") + t); }
QString insertTrigger(const QString& t) { return quoted(QStringLiteral("cs_insert_") + t); }
// Table names reach SQL literals only after the dialect reader accepted them as plain
// identifiers (letters, digits, '_'), so they need no escaping inside quotes.
QString baseOf(const QString& t) {
  return QStringLiteral("(SELECT base FROM %1 WHERE name='%2')").arg(QLatin1String(kRegistry), t);
}
bool isTime(const QString& column) { return column.compare(QLatin1String(kTimeColumn), Qt::CaseInsensitive) == 0; }

}  // namespace

bool hasTimeColumn(const std::vector<ColumnDef>& columns) {
  for (const ColumnDef& c : columns)
    if (isTime(c.name)) return true;
  return false;
}

QStringList createStatements(const QString& table, const std::vector<ColumnDef>& columns) {
  QStringList storeCols{QStringLiteral("cs_step INTEGER")};
  QStringList keyedCols{QStringLiteral("rowid AS cs_rowid")};
  QStringList viewCols, newValues{QStringLiteral("CAST(round(NEW.%1*20) AS INTEGER) + %2")
                                      .arg(QLatin1String(kTimeColumn), baseOf(table))};
  for (const ColumnDef& c : columns) {
    viewCols << c.name;
    if (isTime(c.name)) {
      keyedCols << QStringLiteral("(cs_step - %1) / 20.0 AS %2").arg(baseOf(table), c.name);
    } else {
      storeCols << (c.type.isEmpty() ? c.name : c.name + QLatin1Char(' ') + c.type);
      keyedCols << c.name;
      newValues << QStringLiteral("NEW.") + c.name;
    }
  }
  const QString registry = QLatin1String(kRegistry);
  return {
      QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY COLLATE NOCASE, base INTEGER NOT NULL)")
          .arg(registry),
      QStringLiteral("CREATE TABLE %1 (%2)").arg(rowsTable(table), storeCols.join(QLatin1Char(','))),
      QStringLiteral("CREATE VIEW %1 AS SELECT %2 FROM %3").arg(keyedView(table), keyedCols.join(QLatin1Char(',')),
                                                               rowsTable(table)),
      QStringLiteral("CREATE VIEW %1 AS SELECT %2 FROM %3").arg(quoted(table), viewCols.join(QLatin1Char(',')),
                                                               keyedView(table)),
      QStringLiteral("CREATE TRIGGER %1 INSTEAD OF INSERT ON %2 BEGIN "
                     "SELECT RAISE(ABORT, '%3 must be a multiple of 0.05') WHERE NEW.%3 IS NOT NULL AND "
                     "(typeof(NEW.%3) NOT IN ('integer','real') OR abs(NEW.%3*20 - round(NEW.%3*20)) > 1e-6 "
                     "OR abs(NEW.%3) > 1e12); "
                     "INSERT INTO %4 VALUES (%5); END")
          .arg(insertTrigger(table), quoted(table), QLatin1String(kTimeColumn), rowsTable(table),
               newValues.join(QLatin1Char(','))),
      QStringLiteral("INSERT INTO %1 (name, base) VALUES ('%2', 0)").arg(registry, table),
  };
}

QString lookupStatement(const QString& table) {
  return QStringLiteral("SELECT 1 FROM %1 WHERE name='%2'").arg(QLatin1String(kRegistry), table);
}

QString nameTakenStatement(const QString& table) {
  return QStringLiteral("SELECT 1 FROM sqlite_master WHERE name='%1' COLLATE NOCASE").arg(table);
}

QStringList translate(const Statement& st) {
  const QString& t = st.table;
  const QString where = st.whereClause.isEmpty() ? QString() : QStringLiteral(" WHERE ") + st.whereClause;
  switch (st.kind) {
    case Statement::Kind::Delete:
      if (st.whereClause.isEmpty()) return {QStringLiteral("DELETE FROM %1").arg(rowsTable(t))};
      return {QStringLiteral("DELETE FROM %1 WHERE rowid IN (SELECT cs_rowid FROM %2%3)")
                  .arg(rowsTable(t), keyedView(t), where)};
    case Statement::Kind::Update: {
      if (const auto steps = shiftSteps(st.setClause, QLatin1String(kTimeColumn), kStepHours);
          steps && st.whereClause.isEmpty())
        return {QStringLiteral("UPDATE %1 SET base = base + %2 WHERE name='%3'")
                    .arg(QLatin1String(kRegistry), QString::number(*steps), t)};
      if (mentionsIdentifier(st.setClause, QLatin1String(kTimeColumn)))
        throw EDatabaseError(QStringLiteral("%1 of %2 can only be moved as a whole, in steps of 0.05 "
                                            "(set %1=%1-0.05, without a condition)")
                                 .arg(QLatin1String(kTimeColumn), t));
      return {QStringLiteral("UPDATE %1 SET %2 WHERE rowid IN (SELECT cs_rowid FROM %3%4)")
                  .arg(rowsTable(t), st.setClause, keyedView(t), where)};
    }
    case Statement::Kind::DropTable:
      return {QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(insertTrigger(t)),
              QStringLiteral("DROP VIEW %1").arg(quoted(t)), QStringLiteral("DROP VIEW %1").arg(keyedView(t)),
              QStringLiteral("DROP TABLE %1").arg(rowsTable(t)),
              QStringLiteral("DELETE FROM %1 WHERE name='%2'").arg(QLatin1String(kRegistry), t)};
    default:
      return {st.text};
  }
}

}  // namespace engine::window
