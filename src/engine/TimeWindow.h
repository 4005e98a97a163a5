#pragma once
// Sample tables with a sliding time column.
//
// A table created with a column named measureTime keeps that column as a place in a window of
// 0.05-hour steps. What any SQL client sees under the table's name is a view with the columns in
// their declared order; behind it the rows live in "cs_rows_<name>" with an integer step instead
// of the time, and the table's base step lives in the registry "cs_window". A row's time is
// (step - base) / 20.0: the double nearest to the exact multiple of 0.05, the same double the
// insert's decimal text gave, so "where measureTime=0" always finds the oldest rows. Lowering
// every time by 0.05 ("set measureTime=measureTime-0.05") raises the base by one: a one-row
// change instead of rewriting every row.
//
// Caveat: times inserted into such a table must be multiples of 0.05 (or null); other values are
// refused with an error rather than rounded.
#include <QString>
#include <QStringList>
#include <vector>

#include "engine/Dialect.h"

namespace engine::window {

inline constexpr char kTimeColumn[] = "measureTime";
inline constexpr char kRegistry[] = "cs_window";

/// True when the definitions hold the time column (any letter case).
bool hasTimeColumn(const std::vector<ColumnDef>& columns);

/// The statements that create the registry (if missing), the row store, the views and the
/// insert trigger for a new windowed table, and register it at base 0.
QStringList createStatements(const QString& table, const std::vector<ColumnDef>& columns);

/// The statement that tells whether `table` is windowed (one row when it is).
QString lookupStatement(const QString& table);
/// The statement that tells whether a table or view of this name exists (any letter case).
QString nameTakenStatement(const QString& table);

/// The statements that carry out an update, delete or drop of a windowed table. Throws
/// EDatabaseError for an update that would move single times or set them to free values.
QStringList translate(const Statement& statement);

}  // namespace engine::window
