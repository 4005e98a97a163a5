#pragma once
// When a failing sampling run is worth a modal box. Every failed run goes to the station log;
// the operator, who may be away from the station for hours, is told at once when runs start
// failing and reminded at most once an hour while they keep failing, so a database that stays
// broken neither piles up boxes nor falls silent for good.
#include <chrono>
#include <functional>
#include <optional>

namespace store {

class FailureReminder {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::hours kRemindEvery{1};

  /// Reads the time from `now`; the default is the steady clock.
  void setClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

  /// A run failed: true when a box is due (the first failure since the last clear(), or the
  /// first failure an hour or more after the last box), which then counts as shown.
  bool failed();
  /// A run succeeded, or polling was started afresh: the next failure is shown at once.
  void clear() { lastShown_.reset(); }

 private:
  std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
  std::optional<Clock::time_point> lastShown_;
};

}  // namespace store
