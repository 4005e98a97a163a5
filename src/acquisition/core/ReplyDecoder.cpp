#include "acquisition/core/ReplyDecoder.h"

#include <algorithm>

#include "protocol/Frames.h"
#include "protocol/PackedVoltage.h"

namespace acquisition {

namespace {

double decodeAt(std::span<const std::uint8_t> block, std::size_t offset) {
  return protocol::decodePacked(block[offset], block[offset + 1]);
}

}  // namespace

ReplyOutcome applyReply(std::span<const std::uint8_t> block, MeasurementTables& tables) {
  ReplyOutcome outcome;
  if (block.size() > protocol::kUnitOffset) outcome.unit = block[protocol::kUnitOffset];
  if (block.size() <= protocol::kLengthOffset) return outcome;
  const int n = protocol::cellCountFromLength(block[protocol::kLengthOffset]);
  outcome.cells = n;
  const int u = outcome.unit;
  if (u < 1 || u > kUnits || n < 0 || n > kCells || block.size() < protocol::replySize(n))
    return outcome;

  // A damaged frame changes nothing: its length byte may be the damaged part, and a count
  // taken from it would show real cells as absent or stale cells as current.
  if (protocol::replyChecksum(block, n) != block[protocol::checksumOffset(n)]) {
    outcome.kind = ReplyOutcome::Kind::BadChecksum;
    return outcome;
  }
  tables.CellCount[u] = n;

  tables.TotalVoltage[u] = std::min(decodeAt(block, protocol::kTotalOffset), kMaxTotalVoltage);
  CellRow& cells = tables.CellVoltage[u];
  for (int k = 1; k <= n; ++k)
    cells[k] = std::min(decodeAt(block, protocol::cellOffset(k)), kMaxCellVoltage);
  outcome.kind = ReplyOutcome::Kind::Stored;
  return outcome;
}

}  // namespace acquisition
