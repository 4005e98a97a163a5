#pragma once
// A manual-reset event: once set it stays set, and every waiter sees it, until reset.
// It can be waited on together with a port (its handle joins the port's wait).
#include "comm/port/Native.h"

namespace comm::port {

class Event {
 public:
  /// Created not set. Throws std::system_error when the platform has no event to give.
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set() noexcept;
  void reset() noexcept;
  /// Tests without waiting.
  bool isSet() const noexcept;
  /// Waits up to timeoutMs (negative: without limit); true when the event is set.
  bool wait(int timeoutMs) const noexcept;
  NativeHandle handle() const noexcept { return handle_; }

 private:
  NativeHandle handle_;
};

/// Waits without limit until first or second is set: 0 for first (which wins when both are),
/// 1 for second, -1 when the wait itself failed.
int waitForEither(const Event& first, const Event& second) noexcept;

/// Best effort: raises (level > 0) or lowers the calling thread's scheduling priority by the
/// given number of steps; a refusal by the system is ignored.
void setCurrentThreadPriority(int level) noexcept;

}  // namespace comm::port
