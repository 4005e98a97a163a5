#pragma once
// An archive scan (the comparison's pass over a range, an export) on a thread of its own while
// a progress window with 取消 shows and the window's event loop goes on: polling, replies and
// repaints never wait for the disk. The call returns once the scan has ended.
#include <QString>
#include <atomic>
#include <functional>

class QProgressDialog;
class QWidget;

namespace trend {

/// What a scan tells the window and learns from it; safe to use from the scan's thread.
class ScanControl {
 public:
  /// The work done so far and the work expected (an estimate; done may stop short of it).
  void progress(qint64 done, qint64 total) {
    total_.store(total, std::memory_order_relaxed);
    done_.store(done, std::memory_order_relaxed);
  }
  /// True once the operator pressed 取消: the scan should stop at its next step.
  bool cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

  qint64 done() const { return done_.load(std::memory_order_relaxed); }
  qint64 total() const { return total_.load(std::memory_order_relaxed); }
  void cancel() { cancelled_.store(true, std::memory_order_relaxed); }

 private:
  std::atomic<qint64> done_{0}, total_{0};
  std::atomic<bool> cancelled_{false};
};

/// Runs `work` on a thread of its own behind a window-modal progress window over `parent`
/// (`label`, with 取消) and returns when it has ended; an exception it threw is thrown again
/// here. `shown` (may be empty) is called with the window once before the work starts and at
/// every update after (tests cancel through it). Returns false when the operator cancelled.
bool runInBackground(QWidget* parent, const QString& title, const QString& label,
                     const std::function<void(ScanControl&)>& work,
                     const std::function<void(QProgressDialog&)>& shown = {});

}  // namespace trend
