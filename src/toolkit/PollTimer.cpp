#include "toolkit/PollTimer.h"

namespace toolkit {

PollTimer::PollTimer(int intervalMs, QObject* parent) : QObject(parent), interval_(intervalMs) {
  // Each tick schedules the next one a full interval later. A repeating QTimer would instead
  // fire early after a late tick to keep its phase, and an early poll cuts into the time the
  // previous unit has to answer.
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (enabled_ && interval_ > 0) timer_.start(interval_);
    emit tick();
  });
}

void PollTimer::setInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  apply();
}

void PollTimer::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  apply();
}

// Like the platform timer it stands in for, changing the interval or re-enabling restarts the
// count: the next tick comes one full interval later.
void PollTimer::apply() {
  timer_.stop();
  if (enabled_ && interval_ > 0) timer_.start(interval_);
}

}  // namespace toolkit
