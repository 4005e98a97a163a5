#pragma once
// Whether a table exists, by name, in the list the engine gives.
#include <QString>
#include <QStringList>

#include "engine/TADOConnection.h"

namespace store {

/// Upper case on the ASCII letters a..z only; every other character unchanged.
QString asciiUpper(const QString& text);

/// True when some entry equals `name` as a whole after asciiUpper of both, walking the list
/// in order.
bool listHoldsTable(const QStringList& names, const QString& name);

/// Asks the engine afresh (tables, views and system tables) on every call. Throws
/// engine::EDatabaseError.
bool tableExists(engine::TADOConnection& connection, const QString& name);

}  // namespace store
