#include "engine/WindowRun.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>

#include "common/NumberText.h"
#include "engine/DirectStatements.h"
#include "engine/TADOConnection.h"

namespace engine::window {

namespace {

void bindText(sqlite3_stmt* st, int place, const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  sqlite3_bind_text(st, place, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

// The value a number's statement text gives: the text has 15 significant digits, and a text
// without a point or an exponent is an integer literal (as the dialect's insert binds it).
void bindNumber(sqlite3_stmt* st, int place, double value, const QString& table) {
  if (!std::isfinite(value))
    throw EDatabaseError(QStringLiteral("a value for %1 is no finite number").arg(table));
  const std::string text = common::statementNumber(value);
  if (text.find_first_of(".E") == std::string::npos) {
    long long whole = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), whole).ec == std::errc()) {
      sqlite3_bind_int64(st, place, whole);
      return;
    }
  }
  double exact = 0;
  std::from_chars(text.data(), text.data() + text.size(), exact);
  sqlite3_bind_double(st, place, exact);
}

}  // namespace

long long storedRows(TADOConnection& connection, const QString& table) {
  // Counting walks every page of the table: the count is kept while no other connection has
  // committed since (and our own changes below keep it up to date).
  TADOConnection::RowCounts& counts = connection.rowCounts();
  DirectStatements& direct = connection.directStatements();
  const long long version = direct.integer(direct.get(QStringLiteral("PRAGMA data_version"))).value_or(-1);
  if (version != counts.dataVersion) {
    counts.rows.clear();
    counts.dataVersion = version;
  }
  const QString key = table.toLower();
  if (const auto known = counts.rows.constFind(key); known != counts.rows.cend()) return *known;
  sqlite3_stmt* st = connection.direct(QStringLiteral("SELECT count(*) FROM %1").arg(quoted(rowsTableName(table))));
  const long long rows = direct.integer(st).value_or(0);
  counts.rows.insert(key, rows);
  return rows;
}

int deleteAtStep(TADOConnection& connection, const QString& table, const Layout& layout, long long hoursSteps) {
  DirectStatements& direct = connection.directStatements();
  sqlite3_stmt* st = connection.direct(
      QStringLiteral("DELETE FROM %1 WHERE cs_key BETWEEN ? AND ? AND cs_step=?").arg(quoted(rowsTableName(table))));
  const long long step = layout.base + hoursSteps;
  sqlite3_bind_int64(st, 1, step * kBlock);
  sqlite3_bind_int64(st, 2, step * kBlock + kBlock - 1);
  sqlite3_bind_int64(st, 3, step);
  direct.run(st);
  const int deleted = direct.changes();
  if (const auto known = connection.rowCounts().rows.find(table.toLower()); known != connection.rowCounts().rows.end())
    *known -= deleted;
  return deleted;
}

void lowerTimes(TADOConnection& connection, const QString& table, Layout& layout, long long steps) {
  DirectStatements& direct = connection.directStatements();
  sqlite3_stmt* st =
      connection.direct(QStringLiteral("UPDATE %1 SET base = base + ? WHERE name=?").arg(QLatin1String(kRegistry)));
  sqlite3_bind_int64(st, 1, steps);
  bindText(st, 2, table);
  direct.run(st);
  layout.base += steps;
}

void insertAtStep(TADOConnection& connection, const QString& table, const Layout& layout, std::span<const double> values,
                  long long hoursSteps) {
  if (qsizetype(values.size()) + 1 != layout.columnCount)
    throw EDatabaseError(QStringLiteral("table %1 has %2 columns but %3 values were supplied")
                             .arg(table)
                             .arg(layout.columnCount)
                             .arg(values.size() + 1));
  DirectStatements& direct = connection.directStatements();
  sqlite3_stmt* st = connection.direct(insertStatement(table, layout.columnCount));
  // The key's places take the step five times, then the step itself (see insertStatement).
  const long long step = layout.base + hoursSteps;
  for (int place = 1; place <= 5; ++place) sqlite3_bind_int64(st, place, step);
  int place = 6;
  for (const double v : values) bindNumber(st, place++, v, table);
  direct.run(st);
  if (const auto known = connection.rowCounts().rows.find(table.toLower()); known != connection.rowCounts().rows.end())
    *known += 1;
}

}  // namespace engine::window
