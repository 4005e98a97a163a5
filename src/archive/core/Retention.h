#pragma once
// Dropping old archive days: by age (everything before the day `yearsKept` years back) and by
// size (the oldest day of any unit first, until the files fit the limit). The open blocks and
// the day `keepDay` are never dropped, so a limit below one day's size keeps just that.
#include <QString>
#include <QStringList>

#include "archive/core/ArchiveSettings.h"

namespace archive {

class ArchiveDb;

/// Gives all of the file's free pages back to the file system (the file shrinks at the
/// checkpoint that follows, unless a reader holds it back). Throws ArchiveError.
void shrinkFile(const ArchiveDb& db);

struct PruneResult {
  int daysDropped = 0;
  QStringList notices;
};

/// Throws ArchiveError when a file cannot be changed; what was dropped until then stays dropped.
/// `keepFile` (the file being written) is emptied but never removed.
PruneResult pruneByAge(const QString& folder, int yearsKept, qint64 nowMs, const QString& keepFile, int busyTimeoutMs);
/// Sizes count the pages in use, so a checkpoint held back by a reader never drops more days.
PruneResult pruneBySize(const QString& folder, qint64 limitBytes, qint64 keepDay, const QString& keepFile,
                        int busyTimeoutMs);

}  // namespace archive
