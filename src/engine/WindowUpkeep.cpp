#include "engine/WindowUpkeep.h"

#include <QHash>

#include "engine/EngineError.h"

namespace engine::window {

namespace {

bool plainIdentifier(const QString& s) {
  if (s.isEmpty() || !(s.front().isLetter() || s.front() == QLatin1Char('_'))) return false;
  for (QChar c : s)
    if (!c.isLetterOrNumber() && c != QLatin1Char('_')) return false;
  return true;
}

// The column names of a view this engine made: "CREATE VIEW "t" AS SELECT a,b,c FROM ...".
QStringList viewColumns(const QString& sql) {
  const qsizetype select = sql.indexOf(QLatin1String(" AS SELECT "), 0, Qt::CaseInsensitive);
  const qsizetype from = sql.lastIndexOf(QLatin1String(" FROM "), -1, Qt::CaseInsensitive);
  if (select < 0 || from < select) return {};
  QStringList names;
  for (const QString& part : sql.mid(select + 11, from - select - 11).split(QLatin1Char(','))) {
    const QString name = part.trimmed();
    if (!plainIdentifier(name)) return {};
    names << name;
  }
  return names;
}

struct Object {
  QString type, name, sql;
};

QString key(const QString& name) { return name.toLower(); }

long long scalar(const Runner& run, const Sql& sql) {
  const ResultSet rs = run(sql);
  return rs.rows.empty() || rs.rows.front().empty() ? 0 : rs.rows.front().front().toLongLong();
}

std::optional<Layout> registryRow(const QString& table, const Runner& run) {
  if (run({QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name=?"), {QLatin1String(kRegistry)}, true})
          .rows.empty())
    return {};
  const ResultSet rs = run(lookupStatement(table));
  if (rs.rows.empty()) return {};
  const auto& row = rs.rows.front();
  return Layout{row[0].toLongLong(), row[1].toInt(), row[2].toInt()};
}

void runAll(const Runner& run, const std::vector<Sql>& statements) {
  for (const Sql& s : statements) run(s);
}

// The table a view of this engine reads from ("... FROM "cs_rows_t"" as made, or the name
// another program renamed that table to, which SQLite writes into the view).
QString viewSource(const QString& sql) {
  const qsizetype from = sql.lastIndexOf(QLatin1String(" FROM "), -1, Qt::CaseInsensitive);
  if (from < 0) return {};
  QString name = sql.mid(from + 6).trimmed();
  if (name.size() >= 2 && (name.front() == QLatin1Char('"') || name.front() == QLatin1Char('`') ||
                           name.front() == QLatin1Char('[')))
    name = name.mid(1, name.size() - 2);
  return name;
}

// The rows table as this engine makes it: cs_key, cs_step, then the table's columns other
// than the time, in order. Another program may have added columns (ALTER TABLE ... ADD
// COLUMN), which every insert of ours would then fail on.
bool rowsTableAsMade(const QStringList& have, const QStringList& visible) {
  QStringList want{QStringLiteral("cs_key"), QStringLiteral("cs_step")};
  for (const QString& n : visible)
    if (!isTime(n)) want << n;
  if (have.size() != want.size()) return false;
  for (qsizetype i = 0; i < want.size(); ++i)
    if (have.at(i).compare(want.at(i), Qt::CaseInsensitive) != 0) return false;
  return true;
}

// Copies the rows table's rows, with the columns this engine made, into a fresh table that
// takes its name; the views and triggers over it must have been dropped first. Columns
// another program added are left behind (returned); a column of ours that is missing reads null.
QStringList rebuildRowsTable(const QString& table, const QStringList& visible, const QHash<QString, QString>& types,
                             const QStringList& have, const Runner& run) {
  const QString rows = quoted(rowsTableName(table));
  const QString fresh = quoted(QStringLiteral("cs_rebuild_") + table);
  QStringList defs{QStringLiteral("cs_key INTEGER PRIMARY KEY"), QStringLiteral("cs_step INTEGER")};
  QStringList targets{QStringLiteral("cs_key"), QStringLiteral("cs_step")}, sources = targets;
  for (const QString& n : visible) {
    if (isTime(n)) continue;
    const QString type = types.value(key(n));
    defs << (type.isEmpty() || !plainTypeName(type) ? n : n + QLatin1Char(' ') + type);
    targets << n;
    sources << (types.contains(key(n)) ? n : QStringLiteral("NULL"));
  }
  QStringList extra;
  for (const QString& h : have)
    if (!targets.contains(h, Qt::CaseInsensitive)) extra << h;
  runAll(run, {{QStringLiteral("DROP TABLE IF EXISTS %1").arg(fresh)},
               {QStringLiteral("CREATE TABLE %1 (%2)").arg(fresh, defs.join(QLatin1Char(',')))},
               {QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM %4")
                    .arg(fresh, targets.join(QLatin1Char(',')), sources.join(QLatin1Char(',')), rows)},
               {QStringLiteral("DROP TABLE %1").arg(rows)},
               {QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(fresh, rows)}});
  return extra;
}

}  // namespace

Found reconcile(const QString& table, const Runner& run) {
  Found found;
  found.storedName = table;
  const QString rowsName = rowsTableName(table), keyedName = keyedViewName(table);
  const QStringList triggers = triggerNames(table);
  QHash<QString, Object> objects;
  {
    const ResultSet rs = run({QStringLiteral("SELECT type, name, sql FROM sqlite_master WHERE name COLLATE NOCASE IN "
                                             "(?,?,?,?,?,?)"),
                              {table, rowsName, keyedName, triggers[0], triggers[1], triggers[2]},
                              true});
    for (const auto& row : rs.rows)
      objects.insert(key(row[1].toString()), {row[0].toString(), row[1].toString(), row[2].toString()});
  }
  const Object pub = objects.value(key(table));
  found.type = pub.type;
  if (!pub.name.isEmpty()) found.storedName = pub.name;
  const QString name = found.storedName;
  const bool hasRows = objects.value(key(rowsName)).type == QLatin1String("table");
  const bool hasKeyed = objects.value(key(keyedName)).type == QLatin1String("view");
  bool allTriggers = true;
  for (const QString& t : triggers) allTriggers &= objects.value(key(t)).type == QLatin1String("trigger");
  const std::optional<Layout> registered = registryRow(table, run);
  const bool ours = pub.type == QLatin1String("view") && pub.sql.contains(quoted(keyedViewName(name)), Qt::CaseInsensitive);

  if (ours && hasRows) {
    const bool touchedTable =
        !run({QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name=?"), {QLatin1String(kTouched)}, true})
             .rows.empty();
    const QStringList names = viewColumns(pub.sql);
    QHash<QString, QString> types;
    QStringList have;
    for (const auto& row : run({QStringLiteral("SELECT name, type FROM pragma_table_info(?)"), {rowsTableName(name)}}).rows) {
      types.insert(key(row[0].toString()), row[1].toString());
      have << row[0].toString();
    }
    const bool asMade = rowsTableAsMade(have, names);
    if (hasKeyed && allTriggers && registered && touchedTable && asMade) {
      found.layout = registered;
      return found;
    }
    std::vector<ColumnDef> columns;
    for (const QString& n : names)
      columns.push_back({n, isTime(n) ? QStringLiteral("double") : types.value(key(n))});
    if (!hasTimeColumn(columns)) return found;  // not a layout this engine made: left alone
    const long long base =
        registered ? registered->base
                   : scalar(run, {QStringLiteral("SELECT coalesce(min(cs_step), 0) FROM %1").arg(quoted(rowsTableName(name)))});
    runAll(run, {{QStringLiteral("DROP VIEW %1").arg(quoted(name))},
                 {QStringLiteral("DROP VIEW IF EXISTS %1").arg(quoted(keyedViewName(name)))}});
    if (!asMade) {
      const QStringList extra = rebuildRowsTable(name, names, types, have, run);
      found.repairs << QStringLiteral("%1: its rows table had been changed by another program%2; rows copied into a "
                                      "fresh one, every sample kept")
                           .arg(name, extra.isEmpty() ? QString()
                                                      : QStringLiteral(" (column(s) %1 added, left out)")
                                                            .arg(extra.join(QStringLiteral(", "))));
    }
    runAll(run, objectStatements(name, columns, base));
    found.layout = registryRow(name, run);
    if (asMade || !(hasKeyed && allTriggers && registered && touchedTable))
      found.repairs << (registered ? QStringLiteral("%1: hidden views and triggers made again").arg(name)
                                   : QStringLiteral("%1: registry entry lost, made again with its oldest row at 0").arg(name));
    return found;
  }

  if (ours) {
    // The view stands over rows that were dropped: nothing is left to show.
    const QStringList names = viewColumns(pub.sql);
    std::vector<ColumnDef> columns;
    for (const QString& n : names) columns.push_back({n, QStringLiteral("double")});
    std::vector<Sql> fix{{QStringLiteral("DROP VIEW %1").arg(quoted(name))},
                         {QStringLiteral("DROP VIEW IF EXISTS %1").arg(quoted(keyedViewName(name)))}};
    if (registered) fix.push_back({QStringLiteral("DELETE FROM %1 WHERE name=?").arg(QLatin1String(kRegistry)), {name}});
    if (hasTimeColumn(columns)) {
      for (Sql& s : createStatements(name, columns)) fix.push_back(std::move(s));
      runAll(run, fix);
      found.layout = registryRow(name, run);
      // Renamed by another program, SQLite has made our view read from the new name.
      const QString source = viewSource(objects.value(key(keyedName)).sql);
      const bool renamed =
          !source.isEmpty() && source.compare(rowsName, Qt::CaseInsensitive) != 0 &&
          !run({QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name=?"), {source}}).rows.empty();
      found.repairs << (renamed ? QStringLiteral("%1: its rows table was renamed to %2 by another program (its rows "
                                                 "are kept there); begun afresh, empty")
                                      .arg(name, source)
                                : QStringLiteral("%1: its rows table had been dropped; begun afresh, empty").arg(name));
    } else {
      runAll(run, fix);
      found.type.clear();
      found.repairs << QStringLiteral("%1: its rows table had been dropped; the broken view removed").arg(name);
    }
    return found;
  }

  if (hasRows || hasKeyed || registered) {
    // Hidden parts with no view of ours over them: what is left of a table someone dropped.
    std::vector<Sql> fix{{QStringLiteral("DROP VIEW IF EXISTS %1").arg(quoted(keyedName))},
                         {QStringLiteral("DROP TABLE IF EXISTS %1").arg(quoted(rowsName))}};
    if (registered) fix.push_back({QStringLiteral("DELETE FROM %1 WHERE name=?").arg(QLatin1String(kRegistry)), {table}});
    runAll(run, fix);
    found.repairs << QStringLiteral("%1: hidden parts of a dropped table removed").arg(name);
  }
  return found;
}

std::optional<Layout> adopt(const QString& table, const Runner& run, QString& why, long long* dropped) {
  if (dropped) *dropped = 0;
  const QString t = quoted(table);
  const auto info =
      run({QStringLiteral("SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?)"), {table}}).rows;
  std::vector<ColumnDef> columns;
  for (const auto& row : info) columns.push_back({row[0].toString(), row[1].toString()});
  // A table without the time column is no sample table (the settings, tables of other
  // programs): nothing to take over and nothing to say.
  why.clear();
  if (!hasTimeColumn(columns)) return {};
  for (const auto& row : info) {
    const QString name = row[0].toString();
    if (!plainIdentifier(name) || name.startsWith(QLatin1String("cs_"), Qt::CaseInsensitive)) {
      why = QStringLiteral("column '%1' needs quoting").arg(name);
      return {};
    }
    if (row[2].toInt() != 0 || !row[3].isNull() || row[4].toInt() != 0) {
      why = QStringLiteral("column %1 carries a constraint or default").arg(name);
      return {};
    }
    // The type goes into the rows table's CREATE TABLE: type words only, never SQL text.
    if (!plainTypeName(row[1].toString())) {
      why = QStringLiteral("column %1 has the type '%2', which is no plain type name").arg(name, row[1].toString());
      return {};
    }
  }
  if (scalar(run, {QStringLiteral("SELECT count(*) FROM sqlite_master WHERE tbl_name=? COLLATE NOCASE AND type IN "
                                  "('index','trigger')"),
                   {table}}) != 0) {
    why = QStringLiteral("it has indexes or triggers of its own");
    return {};
  }
  QString time;
  QStringList others;
  for (const ColumnDef& c : columns) {
    if (isTime(c.name)) time = c.name;
    else others << c.name;
  }
  const long long offStep = scalar(
      run, {QStringLiteral("SELECT count(*) FROM %1 WHERE %2 IS NOT NULL AND (typeof(%2) NOT IN ('integer','real') OR "
                           "abs(%2*20 - round(%2*20)) > 1e-6 OR abs(%2*20) > 1e12)")
                .arg(t, time)});
  if (offStep != 0) {
    why = QStringLiteral("%1 row(s) hold a %2 that is no multiple of 0.05").arg(offStep).arg(time);
    return {};
  }
  if (scalar(run, {QStringLiteral("SELECT coalesce(max(n), 0) FROM (SELECT count(*) AS n FROM %1 GROUP BY "
                                  "round(%2*20))")
                       .arg(t, time)}) > kBlock) {
    why = QStringLiteral("more than %1 rows share one time").arg(kBlock);
    return {};
  }

  // The view shows one day, 0 to 23.95; the station places a new row after the rows kept, so a
  // table of more rows, or of later times, would put every new sample beyond what is shown.
  // The newest day is kept: its base makes the newest row's time at most 23.95, and of more
  // rows than a day holds the newest are kept. What is older is dropped and counted.
  const long long maxStep = scalar(run, {QStringLiteral("SELECT coalesce(max(CAST(round(%1*20) AS INTEGER)), 0) FROM %2")
                                             .arg(time, t)});
  const long long total = scalar(run, {QStringLiteral("SELECT count(*) FROM %1").arg(t)});
  long long base = 0;
  QString keep;
  if (total > kDaySteps || maxStep >= kDaySteps) {
    base = maxStep >= kDaySteps ? maxStep - (kDaySteps - 1) : 0;
    keep = QStringLiteral(" WHERE rowid IN (SELECT rowid FROM %1 WHERE round(%2*20) >= %3 ORDER BY round(%2*20) DESC, "
                          "rowid DESC LIMIT %4)")
               .arg(t, time)
               .arg(base)
               .arg(kDaySteps);
  }

  // The rows go over with their values untouched; each time becomes its whole step, keyed in
  // its step's block. Rows without a time take free keys after all the others.
  std::vector<Sql> steps;
  const QString rows = quoted(rowsTableName(table));
  QStringList storeCols{QStringLiteral("cs_key INTEGER PRIMARY KEY"), QStringLiteral("cs_step INTEGER")};
  for (const ColumnDef& c : columns)
    if (!isTime(c.name)) storeCols << (c.type.isEmpty() ? c.name : c.name + QLatin1Char(' ') + c.type);
  const QString list = others.join(QLatin1Char(','));
  const QString comma = others.isEmpty() ? QString() : QStringLiteral(",");
  steps.push_back({QStringLiteral("CREATE TABLE %1 (%2)").arg(rows, storeCols.join(QLatin1Char(',')))});
  steps.push_back(
      {QStringLiteral("INSERT INTO %1 (cs_key, cs_step%2%3) SELECT CASE WHEN s IS NULL THEN NULL ELSE s*%4 + "
                      "row_number() OVER (PARTITION BY s ORDER BY rowid) - 1 END, s%2%3 FROM (SELECT rowid, "
                      "CAST(round(%5*20) AS INTEGER) AS s%2%3 FROM %6%7) ORDER BY s IS NULL, rowid")
           .arg(rows, comma, list)
           .arg(kBlock)
           .arg(time, t, keep)});
  const long long kept =
      keep.isEmpty() ? total : scalar(run, {QStringLiteral("SELECT count(*) FROM %1%2").arg(t, keep)});
  if (dropped) *dropped = total - kept;
  steps.push_back({QStringLiteral("DROP TABLE %1").arg(t)});
  for (Sql& s : objectStatements(table, columns, base)) steps.push_back(std::move(s));
  runAll(run, steps);
  if (scalar(run, {QStringLiteral("SELECT count(*) FROM %1").arg(rows)}) != kept)
    throw EDatabaseError(QStringLiteral("%1 could not be taken over whole").arg(table));
  return registryRow(table, run);
}

Sql snappedShift(const QString& table, long long steps) {
  const QString x = QStringLiteral("(%1 - %2/20.0)").arg(QLatin1String(kTimeColumn)).arg(steps);
  return {QStringLiteral("UPDATE %1 SET %2 = CASE WHEN abs(%3*20 - round(%3*20)) <= 1e-6 THEN round(%3*20)/20.0 "
                         "ELSE %3 END")
              .arg(quoted(table), QLatin1String(kTimeColumn), x)};
}

}  // namespace engine::window
