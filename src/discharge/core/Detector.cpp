#include "discharge/core/Detector.h"

#include <stdexcept>
#include <string>

namespace discharge {

Detector::Unit& Detector::at(int unit) {
  if (unit < 1 || unit > 99) throw std::out_of_range("unit " + std::to_string(unit) + " outside 1..99");
  return units_[static_cast<std::size_t>(unit)];
}

const Detector::Unit& Detector::at(int unit) const { return const_cast<Detector*>(this)->at(unit); }

Outcome Detector::finish(Unit& u, qint64 endMs, EndReason why, bool lowNow) {
  Outcome o;
  o.ended = true;
  o.endMs = endMs;
  o.endedBy = why;
  u.manual = false;
  u.streak = 0;
  u.state = lowNow ? State::Suspended : State::Idle;
  return o;
}

Outcome Detector::take(const Reading& r) {
  Unit& u = at(r.unit);
  const qint64 low = qint64{settings_.thresholdMv} * r.cells;
  const qint64 high = qint64{settings_.thresholdMv + settings_.marginMv} * r.cells;
  const bool below = r.good && r.cells > 0 && r.totalMv < low;
  const bool above = r.good && (r.cells == 0 || r.totalMv > high);

  if (u.state == State::Discharging || u.state == State::Rising) {
    const qint64 until = u.startMs + qint64{settings_.maxMinutes} * 60000;
    // A recovered total leaves the unit Idle; one still low (or unknown) leaves it Suspended.
    if (r.timeMs >= until) return finish(u, until, EndReason::MaxTime, !above);
    if (!r.good) return {};
    Outcome o;
    o.record = true;
    if (u.manual) return o;
    if (!above) {
      u.state = State::Discharging;
    } else if (u.state == State::Discharging) {
      u.state = State::Rising;
      u.risingMs = r.timeMs;
    } else {
      // The second reading only confirms: the discharge ended at the first one back up, and
      // this one (after its end) is not part of it.
      return finish(u, u.risingMs, EndReason::Recovered, false);
    }
    return o;
  }
  if (!r.good) return {};
  switch (u.state) {
    case State::Idle:
      if (below) {
        u.state = State::Falling;
        u.heldMs = r.timeMs;
      }
      return {};
    case State::Falling: {
      if (!below) {
        u.state = State::Idle;
        return {};
      }
      u.state = State::Discharging;
      u.startMs = u.heldMs;
      Outcome o;
      o.started = true;
      o.startMs = u.heldMs;
      o.startedBy = StartReason::Automatic;
      o.record = true;
      return o;
    }
    case State::Suspended:
      u.streak = above ? u.streak + 1 : 0;
      if (u.streak >= 2) {
        u.state = State::Idle;
        u.streak = 0;
      }
      return {};
    case State::Discharging:
    case State::Rising: break;
  }
  return {};
}

Outcome Detector::startManual(int unit, qint64 nowMs) {
  Unit& u = at(unit);
  Outcome o;
  if (u.state == State::Discharging || u.state == State::Rising) {
    o.takenOver = !u.manual;
    u.manual = true;
    u.state = State::Discharging;
    return o;
  }
  u.state = State::Discharging;
  u.manual = true;
  u.startMs = nowMs;
  u.streak = 0;
  o.started = true;
  o.startMs = nowMs;
  o.startedBy = StartReason::Manual;
  return o;
}

Outcome Detector::endManual(int unit, qint64 nowMs) {
  Unit& u = at(unit);
  if (u.state != State::Discharging && u.state != State::Rising) return {};
  // Until the total has been seen back above T+M twice, no new automatic discharge begins.
  return finish(u, nowMs, EndReason::Manual, true);
}

Outcome Detector::close(int unit, qint64 nowMs) {
  Unit& u = at(unit);
  if (u.state != State::Discharging && u.state != State::Rising) return {};
  return finish(u, nowMs, EndReason::StationClosed, true);
}

void Detector::continueFrom(int unit, qint64 startMs) {
  Unit& u = at(unit);
  if (u.state == State::Discharging || u.state == State::Rising) u.startMs = startMs;
}

void Detector::pollingStarted() {
  for (Unit& u : units_) {
    if (u.state == State::Falling) u.state = State::Idle;
    if (u.state == State::Rising) u.state = State::Discharging;
    u.streak = 0;
  }
}

}  // namespace discharge
