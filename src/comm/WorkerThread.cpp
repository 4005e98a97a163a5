#include "comm/WorkerThread.h"

namespace comm {

WorkerThread::~WorkerThread() { join(); }

void WorkerThread::create() { thread_ = std::thread([this] { body(); }); }

void WorkerThread::start(int priority) noexcept {
  priority_.store(priority, std::memory_order_relaxed);
  go_.set();
}

void WorkerThread::join() noexcept {
  if (!thread_.joinable()) return;
  if (!go_.isSet()) {
    abandoned_.store(true, std::memory_order_relaxed);
    go_.set();
  }
  thread_.join();
}

void WorkerThread::body() noexcept {
  go_.wait(-1);
  // The flags were stored before go_ was set; the atomics make that visible here.
  if (!abandoned_.load(std::memory_order_relaxed)) {
    port::setCurrentThreadPriority(priority_.load(std::memory_order_relaxed));
    Execute();
  }
  finished_.set();
}

}  // namespace comm
