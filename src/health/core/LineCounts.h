#pragma once
// Line health per unit, counted from the start of the program: what was asked, what came
// back and how, and whether the unit still answers.
//
// Every received block is charged to the unit the last tick asked, since that is whose
// conversation it disturbed: a bad checksum (the address byte itself may be damaged), a block
// that is no frame, or a good frame from another unit (foreign). A good frame from the unit
// asked is a decoded reply.
//
// A unit goes offline when three of its polls in a row brought no good frame from it, and
// comes back with its next good frame (asked or not: its values are fresh again).
#include <cstdint>
#include <vector>

#include "acquisition/core/MeasurementTables.h"
#include "acquisition/core/ReplyDecoder.h"

namespace health {

inline constexpr int kOfflinePolls = 3;

struct UnitCounts {
  std::uint64_t requests = 0;     ///< requests handed to the port
  std::uint64_t replies = 0;      ///< good frames from the unit asked
  std::uint64_t noReply = 0;      ///< ticks that found nothing came back
  std::uint64_t badChecksum = 0;
  std::uint64_t malformed = 0;
  std::uint64_t foreign = 0;
  /// Milliseconds since the epoch of the last good frame from this unit; 0 for never.
  std::int64_t lastGoodMs = 0;
};

struct OfflineChange {
  int unit = 0;
  bool offline = false;
};

class LineCounts {
 public:
  /// A tick asked `unit`. Judges the previous poll first (which may take its unit offline).
  void requestSent(int unit, bool queued, std::vector<OfflineChange>& out);
  /// A tick found that `unit` sent nothing back.
  void unitSilent(int unit);
  /// A block was applied to the tables while `polled` was the unit last asked.
  void replyHandled(const acquisition::ReplyOutcome& outcome, int polled, std::int64_t nowMs,
                    std::vector<OfflineChange>& out);
  /// Polling stopped: the poll in flight is not judged.
  void pollingStopped();
  /// Counts back to zero; offline states and the times of the last good frames stay.
  void resetCounts();

  const UnitCounts& counts(int u) const { return counts_[u]; }
  bool offline(int u) const { return offline_[u]; }
  /// Blocks that came while no unit had been asked yet (after a start, before the first tick).
  const UnitCounts& unasked() const { return unasked_; }

 private:
  UnitCounts& chargeTo(int polled) { return acquisition::IndexedArray<int, 1, acquisition::kUnits>::contains(polled) ? counts_[polled] : unasked_; }

  acquisition::IndexedArray<UnitCounts, 1, acquisition::kUnits> counts_{};
  acquisition::IndexedArray<int, 1, acquisition::kUnits> missed_{};
  acquisition::IndexedArray<bool, 1, acquisition::kUnits> offline_{};
  UnitCounts unasked_;
  int awaiting_ = 0;  ///< unit of the poll in flight; 0 for none
  bool answered_ = false;
};

}  // namespace health
