#pragma once
// Whole copies of the station database, taken while a station writes it.
#include <QString>

namespace engine {

/// Copies the SQLite file `sourcePath` to `targetPath` through SQLite itself (its online backup
/// of every page in one read transaction): the copy holds exactly what was committed when the
/// copy began, whatever the station commits meanwhile, and needs no side file. The copy is written
/// beside the target under a temporary name, checked with PRAGMA integrity_check and only then
/// renamed to `targetPath` (an existing file there is replaced whole, never half written).
/// Returns an empty text on success, otherwise what went wrong, for the operator.
QString backupDatabase(const QString& sourcePath, const QString& targetPath);

/// "ok" when PRAGMA integrity_check finds the file whole, otherwise its findings (or why it
/// could not be read).
QString integrityCheck(const QString& path);

}  // namespace engine
