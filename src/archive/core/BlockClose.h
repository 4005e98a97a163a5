#pragma once
// Closing a unit's open block in a month file: its staging rows packed into one block row,
// their day summaries merged into daySummary, the staging rows removed. Runs inside the
// caller's transaction.
#include "archive/core/ArchiveDb.h"

namespace archive {

/// Returns the runs packed (0 when the block held none). Throws ArchiveError.
int closeBlockIn(const ArchiveDb& db, int unit, qint64 day, int compressionLevel);

}  // namespace archive
