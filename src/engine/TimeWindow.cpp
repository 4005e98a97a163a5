#include "engine/TimeWindow.h"

#include <QRegularExpression>

#include <QHash>
#include <cmath>

#include "engine/EngineError.h"

namespace engine::window {

namespace {

constexpr double kStepHours = 0.05;
constexpr double kStepsPerHour = 20;

QString rowsTable(const QString& t) { return quoted(QStringLiteral("cs_rows_") + t); }
QString keyedView(const QString& t) { return quoted(QStringLiteral("cs_keyed_") + t); }
// Table names reach SQL literals only after the dialect reader accepted them as plain
// identifiers (letters, digits, '_'), so they need no escaping inside quotes.
QString baseOf(const QString& t) {
  return QStringLiteral("(SELECT base FROM %1 WHERE name='%2')").arg(QLatin1String(kRegistry), t);
}
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

QString insertStatement(const QString& t, int columns) {
  // Each thread keeps its own: the store's thread and the window's each run an engine.
  thread_local QHash<QString, QString> texts;
  const QString id = t + QLatin1Char('/') + QString::number(columns);
  if (const auto it = texts.constFind(id); it != texts.cend()) return *it;
  QString text = QStringLiteral("INSERT INTO %1 VALUES (%2,?").arg(rowsTable(t), newKey(t, QStringLiteral("?")));
  for (int i = 1; i < columns; ++i) text += QStringLiteral(",?");
  text += QLatin1Char(')');
  texts.insert(id, text);
  return text;
}

bool hasTimeColumn(const std::vector<ColumnDef>& columns) {
  for (const ColumnDef& c : columns)
    if (isTime(c.name)) return true;
  return false;
}

QString rowsTableName(const QString& table) { return QStringLiteral("cs_rows_") + table; }
QString keyedViewName(const QString& table) { return QStringLiteral("cs_keyed_") + table; }
QStringList triggerNames(const QString& table) {
  return {QStringLiteral("cs_insert_") + table, QStringLiteral("cs_update_") + table,
          QStringLiteral("cs_delete_") + table};
}

namespace {

// A time as given by any client: a number, or text that reads as one (sqlite3's .import binds
// every field as text; a plain REAL column would convert it the same way). Null for anything
// else. Comparing the text with its own conversion applies SQLite's numeric affinity to it,
// which succeeds only for text that is wholly a number.
QString timeValue(const QString& x) {
  return QStringLiteral("(CASE WHEN typeof(%1) IN ('integer','real') THEN %1 "
                        "WHEN typeof(%1)='text' AND CAST(%1 AS REAL) = %1 THEN CAST(%1 AS REAL) END)")
      .arg(x);
}

QString refuseBadTime(const QString& x, const QString& table) {
  const QString t = timeValue(x);
  return QStringLiteral("SELECT RAISE(ABORT, '%1 in %2 must be a multiple of 0.05') WHERE %3 IS NOT NULL AND "
                        "(%4 IS NULL OR abs(%4*20 - round(%4*20)) > 1e-6 OR abs(%4*20) > 1e12);")
      .arg(QLatin1String(kTimeColumn), table, x, t);
}

QString stepOfTime(const QString& x, const QString& table) {
  return QStringLiteral("(CAST(round(%1*20) AS INTEGER) + %2)").arg(timeValue(x), baseOf(table));
}

// The rows behind one visible row OLD: same step, same values. Rows of one step share a key
// block, so the search is a key range, not a scan of the table.
QString sameRow(const QString& table, const std::vector<ColumnDef>& columns) {
  const QString step = stepOfTime(QStringLiteral("OLD.") + QLatin1String(kTimeColumn), table);
  QStringList parts{QStringLiteral("cs_key BETWEEN coalesce(%1*%2, -9223372036854775807) AND "
                                   "coalesce(%1*%2+%3, 9223372036854775807)")
                        .arg(step)
                        .arg(kBlock)
                        .arg(kBlock - 1),
                    QStringLiteral("cs_step IS ") + step};
  for (const ColumnDef& c : columns)
    if (!isTime(c.name)) parts << QStringLiteral("%1 IS OLD.%1").arg(c.name);
  return parts.join(QStringLiteral(" AND "));
}

}  // namespace

bool plainTypeName(const QString& type) {
  static const QRegularExpression words(QStringLiteral(
      "^\\s*([A-Za-z_][A-Za-z0-9_]*)(\\s+[A-Za-z_][A-Za-z0-9_]*)*\\s*"
      "(\\(\\s*[+-]?[0-9]+\\s*(,\\s*[+-]?[0-9]+\\s*)?\\))?\\s*$"));
  return type.isEmpty() || words.match(type).hasMatch();
}

std::vector<Sql> createStatements(const QString& table, const std::vector<ColumnDef>& columns) {
  QStringList storeCols{QStringLiteral("cs_key INTEGER PRIMARY KEY"), QStringLiteral("cs_step INTEGER")};
  for (const ColumnDef& c : columns) {
    if (!plainTypeName(c.type))
      throw EDatabaseError(QStringLiteral("column %1 of %2: '%3' is no plain type name").arg(c.name, table, c.type));
    if (!isTime(c.name)) storeCols << (c.type.isEmpty() ? c.name : c.name + QLatin1Char(' ') + c.type);
  }
  std::vector<Sql> out{
      {QStringLiteral("CREATE TABLE %1 (%2)").arg(rowsTable(table), storeCols.join(QLatin1Char(',')))}};
  for (Sql& s : objectStatements(table, columns, 0)) out.push_back(std::move(s));
  return out;
}

std::vector<Sql> objectStatements(const QString& table, const std::vector<ColumnDef>& columns, long long base) {
  QStringList keyedCols{QStringLiteral("cs_key AS cs_rowid")};
  const QString newStep = stepOfTime(QStringLiteral("NEW.") + QLatin1String(kTimeColumn), table);
  // A row whose time changes moves to a key in its new time's block, where the deletion of
  // the rows at one time looks for it.
  const QString movedKey =
      QStringLiteral("CASE WHEN %1 IS cs_step THEN cs_key WHEN %1 IS NULL THEN (SELECT max(cs_key)+1 FROM %2) "
                     "ELSE %3 END")
          .arg(newStep, rowsTable(table), newKey(table, newStep));
  QStringList viewCols, newValues{newKey(table, newStep), newStep},
      sets{QStringLiteral("cs_step = ") + newStep, QStringLiteral("cs_key = ") + movedKey};
  int timeIndex = 0;
  for (const ColumnDef& c : columns) {
    if (isTime(c.name)) {
      timeIndex = static_cast<int>(viewCols.size());
      keyedCols << QStringLiteral("(cs_step - %1) / 20.0 AS %2").arg(baseOf(table), c.name);
    } else {
      keyedCols << c.name;
      newValues << QStringLiteral("NEW.") + c.name;
      sets << QStringLiteral("%1 = NEW.%1").arg(c.name);
    }
    viewCols << c.name;
  }
  const QString registry = QLatin1String(kRegistry);
  const QString time = QLatin1String(kTimeColumn);
  const QStringList trig = triggerNames(table);
  const QStringList texts{
      QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY COLLATE NOCASE, base INTEGER NOT NULL, "
                     "time_index INTEGER NOT NULL, column_count INTEGER NOT NULL)")
          .arg(registry),
      QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (cs_key INTEGER PRIMARY KEY, current INTEGER NOT NULL)")
          .arg(QLatin1String(kTouched)),
      QStringLiteral("CREATE VIEW %1 AS SELECT %2 FROM %3").arg(keyedView(table), keyedCols.join(QLatin1Char(',')),
                                                               rowsTable(table)),
      QStringLiteral("CREATE VIEW %1 AS SELECT %2 FROM %3").arg(quoted(table), viewCols.join(QLatin1Char(',')),
                                                               keyedView(table)),
      QStringLiteral("CREATE TRIGGER %1 INSTEAD OF INSERT ON %2 BEGIN %3 INSERT INTO %4 VALUES (%5); END")
          .arg(quoted(trig[0]), quoted(table), refuseBadTime(QStringLiteral("NEW.") + time, table), rowsTable(table),
               newValues.join(QLatin1Char(','))),
      // A visible row has no key of its own, so the row behind it is found by its step and
      // values. Rows alike in every column are interchangeable; each firing takes one that this
      // statement has not yet changed (the statement's first firing, OLD.rowid 1, forgets the
      // previous statement's), so a row changed to look like a later one is not changed twice.
      QStringLiteral("CREATE TRIGGER %1 INSTEAD OF UPDATE ON %2 BEGIN %3 "
                     "DELETE FROM %4 WHERE OLD.rowid = 1; "
                     "UPDATE %4 SET current = 0 WHERE current = 1; "
                     "INSERT INTO %4 (cs_key, current) SELECT cs_key, 1 FROM %5 WHERE %6 "
                     "AND cs_key NOT IN (SELECT cs_key FROM %4) ORDER BY cs_key LIMIT 1; "
                     "UPDATE %5 SET %7 WHERE cs_key = (SELECT cs_key FROM %4 WHERE current = 1); END")
          .arg(quoted(trig[1]), quoted(table), refuseBadTime(QStringLiteral("NEW.") + time, table),
               QLatin1String(kTouched), rowsTable(table), sameRow(table, columns), sets.join(QLatin1Char(','))),
      // Rows alike in every column all meet the same condition: deleting them together is what
      // the statement does on a plain table.
      QStringLiteral("CREATE TRIGGER %1 INSTEAD OF DELETE ON %2 BEGIN DELETE FROM %3 WHERE %4; END")
          .arg(quoted(trig[2]), quoted(table), rowsTable(table), sameRow(table, columns)),
      QStringLiteral("INSERT OR REPLACE INTO %1 (name, base, time_index, column_count) VALUES ('%2', %3, %4, %5)")
          .arg(registry, table)
          .arg(base)
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
      Sql sql{insertStatement(t, layout.columnCount), {step, step, step, step, step}, true};
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
      // The view's triggers go with it.
      return {{QStringLiteral("DROP VIEW %1").arg(quoted(t))},
              {QStringLiteral("DROP VIEW %1").arg(keyedView(t))},
              {QStringLiteral("DROP TABLE %1").arg(rowsTable(t))},
              {QStringLiteral("DELETE FROM %1 WHERE name=?").arg(QLatin1String(kRegistry)), {t}}};
    default:
      return {{st.text}};
  }
}

}  // namespace engine::window
