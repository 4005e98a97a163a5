#pragma once
// What the station shows, as one immutable picture that other threads may read: the window's
// thread fills a StationSnapshot after every handled reply (and on the few other changes that
// matter to a reader: a silent unit, polling started or stopped, an alarm raised or cleared,
// the line down or up) and publishes it on a SnapshotBoard. Readers (the control-room servers)
// take the current picture without ever waiting for the serial line or the window.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "acquisition/core/MeasurementTables.h"

namespace acquisition {

/// The alarm kinds, in the order of health::kAllLimits (cell low, cell high, total low, total
/// high, spread).
inline constexpr int kAlarmKinds = 5;

/// One unit as the window shows it.
struct UnitSnapshot {
  /// Cells the unit reported in its last frame (0..108).
  int cellCount = 0;
  /// Voltages of cells 1..108 in volts, as the tables hold them; only 1..cellCount are
  /// meaningful. Index 0 is cell 1.
  std::array<double, kCells> cellVolts{};
  double totalVolts = 0;
  bool online = false;
  /// UTC milliseconds since the epoch of the last good reply; none before the first.
  std::optional<std::int64_t> lastGoodMs;
  /// Per alarm kind (order as kAlarmKinds): an alarm is active.
  std::array<bool, kAlarmKinds> alarm{};
  /// Cells with an active cell alarm (low or high).
  int cellsInAlarm = 0;
  // The line counters since the program started (or the operator reset them).
  std::uint64_t requests = 0;
  std::uint64_t replies = 0;
  std::uint64_t noReply = 0;
  std::uint64_t badChecksum = 0;
  std::uint64_t malformed = 0;
  std::uint64_t foreign = 0;
};

struct StationSnapshot {
  bool polling = false;
  /// Units polled, 0..99 (the count taken when polling last started).
  int unitCount = 0;
  /// The serial line is open and working.
  bool lineUp = false;
  /// UTC milliseconds since the epoch of the last sampling run; none before the first.
  std::optional<std::int64_t> lastSamplingMs;
  /// Units 1..99 (index 0 is unit 1).
  std::array<UnitSnapshot, kUnits> units{};

  const UnitSnapshot& unit(int u) const { return units.at(static_cast<std::size_t>(u - 1)); }
  UnitSnapshot& unit(int u) { return units.at(static_cast<std::size_t>(u - 1)); }
};

/// The latest published snapshot, shared between one writer and any number of readers. A
/// reader holds its picture as long as it likes; publishing never waits for it.
class SnapshotBoard {
 public:
  SnapshotBoard() : current_(std::make_shared<const StationSnapshot>()) {}

  void publish(std::shared_ptr<const StationSnapshot> snapshot) {
    if (!snapshot) return;
    std::lock_guard lock(mutex_);
    current_.swap(snapshot);
    // The old picture is released outside the lock when `snapshot` goes.
  }
  void publish(StationSnapshot snapshot) { publish(std::make_shared<const StationSnapshot>(std::move(snapshot))); }

  /// Never null: an empty station (nothing polled) until the first publish.
  std::shared_ptr<const StationSnapshot> current() const {
    std::lock_guard lock(mutex_);
    return current_;
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const StationSnapshot> current_;
};

}  // namespace acquisition
