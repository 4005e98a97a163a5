#pragma once
// Keeping windowed tables whole when other programs change the schema, and taking plain sample
// tables into the windowed form.
//
// db1.mdb is opened with other tools too. Whatever they leave behind, the next statement that
// names a table meets one of these, and the table's rows end up where "select * from" it shows
// them:
//  - a windowed table with a hidden part missing (the registry emptied or dropped, a hidden view
//    or trigger dropped, a database from before the update and delete triggers): the missing
//    parts are made again over the rows, which stay as they are; a lost base is taken as the
//    oldest row's step, so the oldest row reads 0;
//  - the view of a windowed table whose rows table was dropped: the rows are gone, so the table
//    begins afresh, empty, with the same columns;
//  - hidden parts with no view over them (the view dropped, perhaps a plain table made under
//    the same name): they are what was dropped, and are removed;
//  - a plain table with the time column: adopted into the windowed form on the first statement
//    that changes it, in one savepoint, every row and value kept (see adopt()).
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "engine/TADOConnection.h"
#include "engine/TimeWindow.h"

namespace engine::window {

/// Runs one statement and returns its rows. Throws EDatabaseError.
using Runner = std::function<ResultSet(const Sql&)>;

struct Found {
  /// "table", "view" or empty (no such object), for the name as stored.
  QString type;
  QString storedName;
  /// Set for a windowed table (after any repair).
  std::optional<Layout> layout;
  /// What was repaired, for the log; empty when nothing was.
  QStringList repairs;
};

/// Looks at the objects behind `table` and makes them whole as described above. Must run
/// inside a savepoint of the caller's: a repair is several statements.
Found reconcile(const QString& table, const Runner& run);

/// Takes the plain sample table `table` into the windowed form, its rows and values kept.
/// A table holding more than a day (more than 480 rows, or times beyond 23.95) keeps its
/// newest day: the newest row's time becomes at most 23.95 and, of more rows than a day holds,
/// the newest 480 are kept; `dropped` (when given) counts the rows left out. Returns empty,
/// changing nothing, when the table has no time column (`why` empty: it is no sample table)
/// or cannot be taken as it stands (`why` says why: a constraint, index or trigger of its
/// own, a column type that is no plain type name, a time that is no multiple of 0.05). Must
/// run inside a savepoint of the caller's.
std::optional<Layout> adopt(const QString& table, const Runner& run, QString& why, long long* dropped = nullptr);

/// The shift "set measureTime=measureTime-<steps * 0.05>" for a plain table that could not be
/// adopted: each time that lands within a millionth of a step of a multiple of 0.05 is put on
/// it exactly, so the rows still reach 0 and the drop of the oldest finds them.
Sql snappedShift(const QString& table, long long steps);

}  // namespace engine::window
