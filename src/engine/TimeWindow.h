#pragma once
// Sample tables with a sliding time column.
//
// A table created with a column named measureTime keeps that column as a place in a window of
// 0.05-hour steps. What any SQL client sees under the table's name is a view with the columns in
// their declared order; behind it the rows live in "cs_rows_<name>" with an integer step in
// place of the time, and the table's base step lives in the registry "cs_window". A row's time
// is (step - base) / 20.0: the double nearest to the exact multiple of 0.05, the same double the
// insert's decimal text gave, so "where measureTime=0" always finds the oldest rows. Lowering
// every time by 0.05 ("set measureTime=measureTime-0.05") raises the base by one: a one-row
// change instead of rewriting every row.
//
// The station's own statements on such a table (row count, insert, delete at one time, shift)
// go straight to the row store; other statements read through the view. Its triggers take
// inserts (with or without a column list, numbers given as text as sqlite3's .import gives
// them), updates and deletes from any SQL client, with a plain table's outcome.
//
// Caveats: times stored in such a table must be multiples of 0.05 (or null); other values are
// refused with an error rather than rounded. A view cannot show a declared type for a computed
// column, so the time column lists none. An update through the view finds the row behind each
// visible row by its values, and tells one statement from the next by the first row's OLD.rowid
// being 1 (SQLite numbers the rows it has read for the statement from 1); the client tests
// check this on every build.
#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

#include "engine/Dialect.h"

namespace engine::window {

inline constexpr char kTimeColumn[] = "measureTime";
inline constexpr char kRegistry[] = "cs_window";
/// Rows an UPDATE through a table's view has changed so far (its triggers' own bookkeeping).
inline constexpr char kTouched[] = "cs_touched";
/// Rows are keyed step * kBlock + n, so the rows of one time sit together in key order and
/// "the rows at time t" is a key range: deleting the oldest rows touches only them.
inline constexpr long long kBlock = 1024;

/// A name in double quotes, as SQLite reads identifiers.
inline QString quoted(const QString& name) { return QLatin1Char('"') + name + QLatin1Char('"'); }
/// Whether `column` is the time column (SQLite compares names without case).
inline bool isTime(const QString& column) {
  return column.compare(QLatin1String(kTimeColumn), Qt::CaseInsensitive) == 0;
}

/// One statement for SQLite, with its values bound to the '?' places in order. Statements that
/// recur (inserts, counts, deletes and shifts of one table) are kept prepared.
struct Sql {
  Sql(QString text_, QVariantList binds_ = {}, bool keepPrepared_ = false)
      : text(std::move(text_)), binds(std::move(binds_)), keepPrepared(keepPrepared_) {}
  QString text;
  QVariantList binds;
  bool keepPrepared = false;
};

/// What the registry holds for one windowed table.
struct Layout {
  long long base = 0;
  int timeIndex = 0;    ///< 0-based position of the time column among the table's columns
  int columnCount = 0;  ///< columns the table shows
};

/// The steps a day holds: what a windowed table's times 0 to 23.95 cover.
inline constexpr long long kDaySteps = 480;

/// True for a column type that is type words only ("double", "UNSIGNED BIG INT",
/// "VARCHAR(20)", "DECIMAL(10, 5)") or empty: what may be written after a column's name in a
/// CREATE TABLE this engine makes. Anything else (a comma, a constraint, a quote) is refused.
bool plainTypeName(const QString& type);

/// True when the definitions hold the time column (any letter case).
bool hasTimeColumn(const std::vector<ColumnDef>& columns);

/// The statements that create the row store, the views and the triggers for a new windowed
/// table (and the registry if missing), and register it at base 0. Throws EDatabaseError for a
/// column type that is no plain type name.
std::vector<Sql> createStatements(const QString& table, const std::vector<ColumnDef>& columns);
/// The same without the row store: the registry and bookkeeping tables if missing, the views,
/// the insert, update and delete triggers, and the registry row at `base` (replacing one).
/// None of the objects may exist yet.
std::vector<Sql> objectStatements(const QString& table, const std::vector<ColumnDef>& columns, long long base);

/// The kept insert into the row store of a table with `columns` columns: the new key (the step
/// bound to its first four places), the step (the fifth), then the other columns' values in
/// order. The same text for the same table, under which the statement is kept.
QString insertStatement(const QString& table, int columns);

/// Names of the hidden objects behind a windowed table.
QString rowsTableName(const QString& table);
QString keyedViewName(const QString& table);
QStringList triggerNames(const QString& table);

/// The statement that reads a table's Layout (base, time index, column count); no row when the
/// table is not windowed.
Sql lookupStatement(const QString& table);
/// The statement that tells whether a table or view of this name exists (any letter case).
Sql nameTakenStatement(const QString& table);

/// The statements that carry out a statement on a windowed table. Throws EDatabaseError for an
/// update that would move single times or set them to free values, for an insert with the
/// wrong number of values, and for a time that is not a multiple of 0.05.
std::vector<Sql> translate(const Statement& statement, const Layout& layout);

}  // namespace engine::window
