#include "engine/TimeWindow.h"

#include <QHash>
#include <cmath>

#include "engine/EngineError.h"

namespace engine::window {

namespace {

constexpr double kStepHours = 0.05;
constexpr double kStepsPerHour = 20;

QString quoted(const QString& name) { return QLatin1Char('"') + name + QLatin1Char('"'); }
QString rowsTable(const QString& t) { return quoted(QStringLiteral("cs_rows_") + t); }
QString keyedView(const QString& t) { return quoted(QStringLiteral("cs_keyed_") + t); }
QString insertTrigger(const QString& t) { return quoted(QStringLiteral("cs_insert_") + t); }
// Table names reach SQL literals only after the dialect reader accepted them as plain
// identifiers (letters, digits, '_'), so they need no escaping inside quotes.
QString baseOf(const QString& t) {
  return QStringLiteral("(SELECT base FROM %1 WHERE name='%2')").arg(QLatin1String(kRegistry), t);
}
// Rows are keyed step * kBlock + n, so the rows of one time sit together in key order and
// "the rows at time t" is a key range: deleting the oldest rows touches only them.
constexpr long long kBlock = 1024;

// The key for a new row of step `step` (an SQL expression), the next free one in its block.
// A block holding kBlock rows of one time has no room left: the key then repeats the last one
// and the insert fails on the key's uniqueness.
QString newKey(const QString& t, const QString& step) {
  return QStringLiteral("(SELECT CASE WHEN max(cs_key) IS NULL THEN (%2)*%3 WHEN max(cs_key) < (%2)*%3+%4 "
                        "THEN max(cs_key)+1 ELSE max(cs_key) END FROM %1 WHERE cs_key BETWEEN (%2)*%3 AND (%2)*%3+%4)")
      .arg(rowsTable(t), step)
      .arg(kBlock)
      .arg(kBlock - 1);
}

// The prepared insert of a table with `columns` columns: the key, the step, then the other
// columns' values. Built once per table: it is the text under which the statement is kept.
QString insertText(const QString& t, int columns) {
  static QHash<QString, QString> texts;  // the engine runs on one thread
  const QString id = t + QLatin1Char('/') + QString::number(columns);
  if (const auto it = texts.constFind(id); it != texts.cend()) return *it;
  QString text = QStringLiteral("INSERT INTO %1 VALUES (%2,?").arg(rowsTable(t), newKey(t, QStringLiteral("?")));
  for (int i = 1; i < columns; ++i) text += QStringLiteral(",?");
  text += QLatin1Char(')');
  texts.insert(id, text);
  return text;
}

// A number literal as SQLite would type it: integer without a point or exponent, real otherwise.
QVariant literalValue(const QString& text) {
  if (text.compare(QLatin1String("null"), Qt::CaseInsensitive) == 0) return {};
  if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')) && !text.contains(QLatin1Char('E'))) {
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (ok) return v;
  }
  return *numberLiteral(text);
}

bool isTime(const QString& column) { return column.compare(QLatin1String(kTimeColumn), Qt::CaseInsensitive) == 0; }

EDatabaseError notAStep(const QString& table) {
  return EDatabaseError(QStringLiteral("%1 in %2 must be a multiple of 0.05").arg(QLatin1String(kTimeColumn), table));
}

// The step of a time value, when it is a whole multiple of 0.05 within the range kept exact.
long long stepOf(double hours, const QString& table) {
  const double steps = hours * kStepsPerHour;
  const double whole = std::round(steps);
  if (!std::isfinite(steps) || std::fabs(whole) > 1e12 || std::fabs(steps - whole) > 1e-6) throw notAStep(table);
  return static_cast<long long>(whole);
}

}  // namespace

bool hasTimeColumn(const std::vector<ColumnDef>& columns) {
  for (const ColumnDef& c : columns)
    if (isTime(c.name)) return true;
  return false;
}

std::vector<Sql> createStatements(const QString& table, const std::vector<ColumnDef>& columns) {
  QStringList storeCols{QStringLiteral("cs_key INTEGER PRIMARY KEY"), QStringLiteral("cs_step INTEGER")};
  QStringList keyedCols{QStringLiteral("cs_key AS cs_rowid")};
  const QString step =
      QStringLiteral("CAST(round(NEW.%1*20) AS INTEGER) + %2").arg(QLatin1String(kTimeColumn), baseOf(table));
  QStringList viewCols, newValues{newKey(table, step), step};
  int timeIndex = 0;
  for (const ColumnDef& c : columns) {
    if (isTime(c.name)) {
      timeIndex = static_cast<int>(viewCols.size());
      keyedCols << QStringLiteral("(cs_step - %1) / 20.0 AS %2").arg(baseOf(table), c.name);
    } else {
      storeCols << (c.type.isEmpty() ? c.name : c.name + QLatin1Char(' ') + c.type);
      keyedCols << c.name;
      newValues << QStringLiteral("NEW.") + c.name;
    }
    viewCols << c.name;
  }
  const QString registry = QLatin1String(kRegistry);
  const QStringList texts{
      QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY COLLATE NOCASE, base INTEGER NOT NULL, "
                     "time_index INTEGER NOT NULL, column_count INTEGER NOT NULL)")
          .arg(registry),
      QStringLiteral("CREATE TABLE %1 (%2)").arg(rowsTable(table), storeCols.join(QLatin1Char(','))),
      QStringLiteral("CREATE VIEW %1 AS SELECT %2 FROM %3").arg(keyedView(table), keyedCols.join(QLatin1Char(',')),
                                                               rowsTable(table)),
      QStringLiteral("CREATE VIEW %1 AS SELECT %2 FROM %3").arg(quoted(table), viewCols.join(QLatin1Char(',')),
                                                               keyedView(table)),
      QStringLiteral("CREATE TRIGGER %1 INSTEAD OF INSERT ON %2 BEGIN "
                     "SELECT RAISE(ABORT, '%3 in %6 must be a multiple of 0.05') WHERE NEW.%3 IS NOT NULL AND "
                     "(typeof(NEW.%3) NOT IN ('integer','real') OR abs(NEW.%3*20 - round(NEW.%3*20)) > 1e-6 "
                     "OR abs(NEW.%3*20) > 1e12); "
                     "INSERT INTO %4 VALUES (%5); END")
          .arg(insertTrigger(table), quoted(table), QLatin1String(kTimeColumn), rowsTable(table),
               newValues.join(QLatin1Char(',')), table),
      QStringLiteral("INSERT INTO %1 (name, base, time_index, column_count) VALUES ('%2', 0, %3, %4)")
          .arg(registry, table)
          .arg(timeIndex)
          .arg(columns.size()),
  };
  std::vector<Sql> out;
  for (const QString& t : texts) out.push_back({t, {}, false});
  return out;
}

Sql lookupStatement(const QString& table) {
  return {QStringLiteral("SELECT base, time_index, column_count FROM %1 WHERE name=?").arg(QLatin1String(kRegistry)),
          {table},
          true};
}

Sql nameTakenStatement(const QString& table) {
  return {QStringLiteral("SELECT 1 FROM sqlite_master WHERE name=? COLLATE NOCASE"), {table}, true};
}

std::vector<Sql> translate(const Statement& st, const Layout& layout) {
  const QString& t = st.table;
  const QString where = st.whereClause.isEmpty() ? QString() : QStringLiteral(" WHERE ") + st.whereClause;
  switch (st.kind) {
    case Statement::Kind::Select:
      if (st.countsAll) return {{QStringLiteral("SELECT count(*) FROM %1").arg(rowsTable(t)), {}, true}};
      return {{st.text}};
    case Statement::Kind::Insert: {
      if (st.values.isEmpty()) return {{st.text}};  // through the view and its trigger
      if (st.values.size() != layout.columnCount)
        throw EDatabaseError(QStringLiteral("table %1 has %2 columns but %3 values were supplied")
                                 .arg(t)
                                 .arg(layout.columnCount)
                                 .arg(st.values.size()));
      const QString& time = st.values.at(layout.timeIndex);
      QVariant step;  // null for a null time
      if (time.compare(QLatin1String("null"), Qt::CaseInsensitive) != 0)
        step = layout.base + stepOf(*numberLiteral(time), t);
      Sql sql{insertText(t, layout.columnCount), {step, step, step, step, step}, true};
      sql.binds.reserve(st.values.size() + 4);
      for (int i = 0; i < st.values.size(); ++i)
        if (i != layout.timeIndex) sql.binds << literalValue(st.values.at(i));
      return {sql};
    }
    case Statement::Kind::Delete:
      if (st.whereClause.isEmpty()) return {{QStringLiteral("DELETE FROM %1").arg(rowsTable(t))}};
      if (const auto hours = equalsNumber(st.whereClause, QLatin1String(kTimeColumn))) {
        // A time that is no multiple of 0.05 matches no row.
        const double steps = *hours * kStepsPerHour;
        if (std::fabs(steps - std::round(steps)) > 1e-6 || std::fabs(steps) > 1e12) return {};
        const long long step = layout.base + static_cast<long long>(std::round(steps));
        return {{QStringLiteral("DELETE FROM %1 WHERE cs_key BETWEEN ? AND ? AND cs_step=?").arg(rowsTable(t)),
                 {step * kBlock, step * kBlock + kBlock - 1, step},
                 true}};
      }
      return {{QStringLiteral("DELETE FROM %1 WHERE cs_key IN (SELECT cs_rowid FROM %2%3)")
                   .arg(rowsTable(t), keyedView(t), where)}};
    case Statement::Kind::Update: {
      if (const auto steps = shiftSteps(st.setClause, QLatin1String(kTimeColumn), kStepHours);
          steps && st.whereClause.isEmpty())
        return {{QStringLiteral("UPDATE %1 SET base = base + ? WHERE name=?").arg(QLatin1String(kRegistry)),
                 {QVariant::fromValue(*steps), t},
                 true}};
      if (mentionsIdentifier(st.setClause, QLatin1String(kTimeColumn)))
        throw EDatabaseError(QStringLiteral("%1 of %2 can only be moved as a whole, in steps of 0.05 "
                                            "(set %1=%1-0.05, without a condition)")
                                 .arg(QLatin1String(kTimeColumn), t));
      if (mentionsIdentifier(st.setClause, QStringLiteral("cs_key")) || mentionsIdentifier(st.setClause, QStringLiteral("cs_step")))
        throw EDatabaseError(QStringLiteral("%1 has no columns cs_key or cs_step to set").arg(t));
      return {{QStringLiteral("UPDATE %1 SET %2 WHERE cs_key IN (SELECT cs_rowid FROM %3%4)")
                   .arg(rowsTable(t), st.setClause, keyedView(t), where)}};
    }
    case Statement::Kind::DropTable:
      return {{QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(insertTrigger(t))},
              {QStringLiteral("DROP VIEW %1").arg(quoted(t))},
              {QStringLiteral("DROP VIEW %1").arg(keyedView(t))},
              {QStringLiteral("DROP TABLE %1").arg(rowsTable(t))},
              {QStringLiteral("DELETE FROM %1 WHERE name=?").arg(QLatin1String(kRegistry)), {t}}};
    default:
      return {{st.text}};
  }
}

}  // namespace engine::window
