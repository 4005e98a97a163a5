#pragma once
// Reading of an OLE DB style connection string ("Key=Value;Key=Value").
#include <QString>

namespace engine {

/// The value of one key, compared without regard to case and surrounding blanks; an empty
/// string when the key is missing. A value may be quoted with double quotes to hold a ';'.
QString connectionStringValue(const QString& connectionString, const QString& key);

}  // namespace engine
