#pragma once
// A thread created suspended: the thread exists from create() on but runs Execute only after
// start(). A thread that is never started is discarded without running Execute.
#include <atomic>
#include <thread>

#include "comm/port/Event.h"

namespace comm {

class WorkerThread {
 public:
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  /// Lets the thread run Execute at the given priority step (best effort: 2 highest, 1 above
  /// normal; see port::setCurrentThreadPriority).
  void start(int priority) noexcept;
  /// Waits up to ms for Execute to end; true when it has ended.
  bool waitFor(int ms) const noexcept { return finished_.wait(ms); }
  /// Sets the terminate request. Execute of the component's threads does not look at it;
  /// only the stop event ends them.
  void terminate() noexcept { terminated_.store(true, std::memory_order_relaxed); }
  bool terminated() const noexcept { return terminated_.load(std::memory_order_relaxed); }

 protected:
  WorkerThread() = default;
  /// Derived classes call join() in their destructor, so Execute never outlives them.
  virtual ~WorkerThread();
  /// Creates the suspended thread. Throws std::system_error when it cannot be created.
  void create();
  /// Waits until the thread has ended; a thread never started is released first.
  void join() noexcept;
  virtual void Execute() = 0;

 private:
  void body() noexcept;

  port::Event go_;
  port::Event finished_;
  std::atomic<bool> abandoned_{false};
  std::atomic<bool> terminated_{false};
  std::atomic<int> priority_{0};
  std::thread thread_;
};

}  // namespace comm
