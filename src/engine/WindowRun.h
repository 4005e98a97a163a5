#pragma once
// The steps of a sampling run on one windowed table (TimeWindow.h), straight on the
// connection's kept statements: the same statements on the row store and the registry as the
// station's dialect statements translate to (count, delete at one time, shift, insert), with
// the values bound as numbers instead of passing through statement text. For a table whose
// layout TADOConnection::windowLayout gave.
#include <QString>
#include <span>

#include "engine/TimeWindow.h"

namespace engine {
class TADOConnection;
}

namespace engine::window {

/// Rows the table holds (select count(*) from the table): counted once, then kept up to date by
/// the calls below until another connection commits (TADOConnection::rowCounts).
long long storedRows(TADOConnection& connection, const QString& table);
/// Deletes the rows at time `hoursSteps` * 0.05 (delete from the table where measureTime=...);
/// returns how many there were.
int deleteAtStep(TADOConnection& connection, const QString& table, const Layout& layout, long long hoursSteps);
/// Lowers every time by `steps` * 0.05 (set measureTime=measureTime-0.05 for one step);
/// `layout`'s base follows.
void lowerTimes(TADOConnection& connection, const QString& table, Layout& layout, long long steps);
/// Inserts one row at time `hoursSteps` * 0.05; `values` are the other columns in the table's
/// order (layout.columnCount - 1 of them), each stored as its statement text
/// (common::statementNumber) would store it. Throws EDatabaseError for a count that does not
/// match and for a value that is no finite number.
void insertAtStep(TADOConnection& connection, const QString& table, const Layout& layout, std::span<const double> values,
                  long long hoursSteps);

}  // namespace engine::window
