#pragma once
// Closing a unit's open block in a month file: its staging rows packed into one block row,
// their day summaries merged into daySummary, the staging rows removed. Runs inside the
// caller's transaction.
#include "archive/core/ArchiveDb.h"

#include <vector>

#include "archive/core/ArchiveTypes.h"

namespace archive {

/// One value's summary over some runs of a unit: a cell counts only in the runs whose unit
/// reported it, the total always.
struct ValueSummary {
  int cell = 0;  // 1..108, kTotalCell for the total
  qint64 minMv = 0, maxMv = 0, samples = 0;
  double sumMv = 0;
};

/// The summaries of the values with at least one sample, cells first, the total last.
std::vector<ValueSummary> summarizeRuns(const std::vector<StoredRun>& runs);

/// Returns the runs packed (0 when the block held none). Throws ArchiveError.
int closeBlockIn(const ArchiveDb& db, int unit, qint64 day, int compressionLevel);

}  // namespace archive
