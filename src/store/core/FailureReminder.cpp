#include "store/core/FailureReminder.h"

namespace store {

bool FailureReminder::failed() {
  const Clock::time_point now = now_();
  if (lastShown_ && now - *lastShown_ < kRemindEvery) return false;
  lastShown_ = now;
  return true;
}

}  // namespace store
