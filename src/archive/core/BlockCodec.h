#pragma once
// The packed form of a closed block (one unit's runs) and of a staging row (one run).
//
// A block is column-wise: the run times, the cell counts, then V1..V108 and V. Each column holds
// its first value, then the differences between neighbours divided by the column's step (their
// greatest common divisor: 10 mV for cells, 100 mV for totals), all as zigzag varints. A header
// gives every column's step and byte length, so one column is found without decoding the
// others. The whole is compressed with zstd. Floating cells change rarely and by one step, so
// most differences are one-byte zeros and zstd takes them down to a fraction of a bit.
#include <QByteArray>
#include <vector>

#include "archive/core/ArchiveTypes.h"

namespace archive {

/// Columns of a block: the time, the cell count, then the values.
inline constexpr int kBlockColumns = 2 + kValues;
inline constexpr int kTimeColumn = 0;
inline constexpr int kCountColumn = 1;
inline constexpr int valueColumn(int valueIndex) { return 2 + valueIndex; }

/// zstd level for closed blocks: 9 packs nearly as tight as 19 at a fraction of the time.
inline constexpr int kDefaultCompressionLevel = 9;

/// Throws ArchiveError when zstd fails.
QByteArray encodeBlock(const std::vector<StoredRun>& runs, int level = kDefaultCompressionLevel);
/// Every run of a block, in stored order. Throws ArchiveCorrupt on a damaged block.
std::vector<StoredRun> decodeBlock(const QByteArray& blob);

/// One column of a block: the times, the cell counts and the values of one value index.
struct BlockColumn {
  std::vector<qint64> times;
  std::vector<qint64> counts;
  std::vector<qint64> values;
};
BlockColumn decodeBlockColumn(const QByteArray& blob, int valueIndex);

/// A staging row: the cell count and the 109 values as varints (a run, before its block closes).
QByteArray encodeRow(const StoredRun& run);
/// `timeMs` comes from the row's own column. Throws ArchiveCorrupt on a damaged row.
StoredRun decodeRow(qint64 timeMs, const QByteArray& row);

}  // namespace archive
