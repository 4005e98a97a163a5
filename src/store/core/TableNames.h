#pragma once
// Whether a table exists, by name, in the list the engine gives.
#include <QString>
#include <QStringList>

#include "engine/TADOConnection.h"

namespace store {


/// True when some entry equals `name` as a whole once the ASCII letters a..z of both are upper
/// case (every other character compared as it stands), walking the list in order.
bool listHoldsTable(const QStringList& names, const QString& name);

/// Asks the engine afresh (tables, views and system tables) on every call. Throws
/// engine::EDatabaseError.
bool tableExists(engine::TADOConnection& connection, const QString& name);

}  // namespace store
