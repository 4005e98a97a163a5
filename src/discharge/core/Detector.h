#pragma once
// Discharge detection per unit, from the unit's totals.
//
// Idle       --total < T-->            Falling   (the reading is held: it may be the first)
// Falling    --total < T-->            Discharging, begun at the held reading
// Falling    --total >= T, or start--> Idle
// Discharging--total > T+M-->          Rising
// Rising     --total > T+M-->          Idle, ended "recovered" at the reading that made it Rising
//                                      (this one only confirms it and is not recorded)
// Rising     --total <= T+M-->         Discharging
// Suspended  --two totals > T+M-->     Idle
// where T = threshold x cells and M = margin x cells. Noise about either line never flips the
// state on one reading.
//
// Decisions where the readings do not say:
// - A silent unit (no good reply) changes no state: its recording pauses; it ends when it
//   answers above T+M twice, or when the maximum duration runs out.
// - Polling stopped and started again: the discharge goes on (paused while stopped, like a
//   silent unit). A half-made step (Falling, Rising, one reading of Suspended) is forgotten on
//   the start, since readings hours apart are not two successive readings.
// - The maximum duration ends any discharge, by hand or automatic, at start + maximum; the
//   first reading or silence at or after that time ends it.
// - By hand: starting a unit already in an automatic discharge takes that discharge over (one
//   recording, nothing split); from then on only the operator or the maximum duration ends it.
//   Ending by hand (or by the maximum) while the total is still low leaves the unit Suspended:
//   automatic detection waits until the total has recovered, so no second record begins at
//   once on the same low total.
#include <QtGlobal>
#include <array>
#include <optional>

#include "discharge/core/Recording.h"
#include "discharge/core/Settings.h"

namespace discharge {

enum class State { Idle, Falling, Discharging, Rising, Suspended };

/// One poll's result for one unit.
struct Reading {
  int unit = 0;
  qint64 timeMs = 0;
  bool good = false;  ///< false: the unit was silent (or answered with nothing usable)
  int cells = 0;
  int totalMv = 0;
};

/// What a reading or an operator's action did.
struct Outcome {
  /// A discharge began at startMs; for an automatic one the held reading (the first low one)
  /// belongs to it and is recorded before this one.
  bool started = false;
  qint64 startMs = 0;
  StartReason startedBy = StartReason::Automatic;
  /// The reading belongs to the discharge and is recorded.
  bool record = false;
  /// The discharge ended at endMs (after any reading recorded with it).
  bool ended = false;
  qint64 endMs = 0;
  EndReason endedBy = EndReason::Recovered;
  /// An automatic discharge was taken over by hand.
  bool takenOver = false;
};

class Detector {
 public:
  explicit Detector(const Settings& settings = {}) : settings_(settings) {}

  /// New settings hold from the next reading; a running discharge goes on.
  void setSettings(const Settings& s) { settings_ = s; }
  const Settings& settings() const { return settings_; }

  Outcome take(const Reading& r);
  Outcome startManual(int unit, qint64 nowMs);
  Outcome endManual(int unit, qint64 nowMs);
  /// Ends a running discharge of the unit for the station closing (nothing when none runs).
  Outcome close(int unit, qint64 nowMs);
  void pollingStarted();
  /// A running discharge of the unit continues one begun at `startMs` before a restart of the
  /// station: the maximum duration counts from there.
  void continueFrom(int unit, qint64 startMs);

  State state(int unit) const { return at(unit).state; }
  bool manual(int unit) const { return at(unit).manual; }
  bool discharging(int unit) const { return state(unit) == State::Discharging || state(unit) == State::Rising; }

 private:
  struct Unit {
    State state = State::Idle;
    bool manual = false;
    qint64 startMs = 0;
    qint64 heldMs = 0;
    qint64 risingMs = 0;  // the first reading back above T+M
    int streak = 0;  // readings above T+M while Suspended
  };
  Unit& at(int unit);
  const Unit& at(int unit) const;
  Outcome finish(Unit& u, qint64 endMs, EndReason why, bool lowNow);

  Settings settings_;
  std::array<Unit, 100> units_{};
};

}  // namespace discharge
