#pragma once
// Reply frames from the detector units into the measurement tables, without any window.
//
// Each received block is taken on its own as one reply frame that begins at its first byte
// (layout in protocol/Frames.h). Blocks are never joined: a frame split over two blocks is read
// as two frames, and of a block that holds two frames only the first counts.
#include <cstdint>
#include <span>

#include "acquisition/core/MeasurementTables.h"

namespace acquisition {

/// What one block did to the measurement tables.
struct ReplyOutcome {
  enum class Kind {
    /// Checksum good: the unit's cell count, total and cells 1..n were written.
    Stored,
    /// Checksum bad: nothing was written.
    BadChecksum,
    /// No frame the tables can hold: a block too short for its own length byte, a unit
    /// address outside 1..99 or a length byte outside 4..222. Nothing was written.
    Malformed,
  };

  Kind kind = Kind::Malformed;
  /// The unit address the block carries (offset 5), even when out of range; -1 when the
  /// block is too short to carry one.
  int unit = -1;
  /// Cells the frame announces; -1 when the block is too short to carry a length byte.
  int cells = -1;

  /// True when new voltages were stored, i.e. when the unit's display needs a redraw.
  bool stored() const { return kind == Kind::Stored; }
};

/// Applies one received block to the tables when its checksum holds: the unit's cell count, the
/// total clamped to 300 V and cells 1..n clamped to 16 V; cells above n keep what they held.
/// Never reads outside the block and never throws.
ReplyOutcome applyReply(std::span<const std::uint8_t> block, MeasurementTables& tables);

/// The limits a stored voltage never exceeds; a value equal to the limit is kept as it is.
constexpr double kMaxTotalVoltage = 300.0;
constexpr double kMaxCellVoltage = 16.0;

}  // namespace acquisition
