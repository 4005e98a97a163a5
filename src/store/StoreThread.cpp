#include "store/StoreThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <algorithm>

#include "engine/EngineError.h"

namespace store {

namespace {

Q_LOGGING_CATEGORY(lcStoreThread, "cellstation.store")

using Clock = std::chrono::steady_clock;

}  // namespace

StoreThread::StoreThread(Options options, QObject* parent) : QObject(parent), options_(options) {
  thread_ = std::thread([this] { work(); });
}

StoreThread::StoreThread() : StoreThread(Options{}) {}

void StoreThread::setOptions(const Options& options) {
  {
    const std::lock_guard lock(mutex_);
    options_ = options;
  }
  wake_.notify_all();
}

StoreThread::~StoreThread() {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
    closeBy_ = Clock::now() + options_.closeWait;
  }
  wake_.notify_all();
  thread_.join();
  // Answers still posted to this object are dropped with it: nobody waits for them any more.
}

void StoreThread::enqueueRun(const acquisition::MeasurementTables& tables, int unitCount, qint64 takenMs) {
  auto job = std::make_unique<SampleJob>();
  job->tables = tables;
  job->unitCount = unitCount;
  job->takenMs = takenMs;
  {
    const std::lock_guard lock(mutex_);
    const auto isRun = [](const Job& j) { return std::holds_alternative<std::unique_ptr<SampleJob>>(j); };
    if (static_cast<std::size_t>(std::count_if(queue_.begin(), queue_.end(), isRun)) >= options_.maxWaiting) {
      const auto oldest = std::find_if(queue_.begin(), queue_.end(), isRun);
      qCWarning(lcStoreThread).noquote()
          << "sampling runs waiting for db1.mdb exceed" << options_.maxWaiting << "; the oldest, taken at"
          << QDateTime::fromMSecsSinceEpoch(std::get<std::unique_ptr<SampleJob>>(*oldest)->takenMs).toString(Qt::ISODate)
          << ", is dropped";
      queue_.erase(oldest);
    }
    queue_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void StoreThread::enqueueClear(int unitCount) {
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back(Clear{unitCount});
  }
  wake_.notify_one();
}

bool StoreThread::waitIdle(std::chrono::milliseconds timeout) {
  bool idle = false;
  {
    std::unique_lock lock(mutex_);
    idle = idle_.wait_for(lock, timeout, [this] { return queue_.empty() && !busy_; });
  }
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
  return idle;
}

template <typename F>
void StoreThread::post(F&& f) {
  QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

void StoreThread::work() {
  SampleWriter writer;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty() || (closing_ && Clock::now() >= closeBy_)) break;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    if (auto* run = std::get_if<std::unique_ptr<SampleJob>>(&job)) {
      if (!writeRun(writer, **run, lock)) {
        queue_.push_front(std::move(job));
        break;
      }
    } else {
      lock.unlock();
      doClear(writer, std::get<Clear>(job).unitCount);
      lock.lock();
    }
    busy_ = false;
    if (queue_.empty()) idle_.notify_all();
  }
  const auto runs = std::count_if(queue_.begin(), queue_.end(),
                                  [](const Job& j) { return std::holds_alternative<std::unique_ptr<SampleJob>>(j); });
  if (runs > 0)
    qCWarning(lcStoreThread).noquote() << runs << "sampling run(s) could not be written to db1.mdb before closing; they are lost";
  queue_.clear();
  busy_ = false;
  idle_.notify_all();
}

bool StoreThread::writeRun(SampleWriter& writer, const SampleJob& job, std::unique_lock<std::mutex>& lock) {
  for (;;) {
    const Options options = options_;
    writer.setLowDiskBytes(options.lowDiskBytes);
    lock.unlock();
    bool locked = false;
    QElapsedTimer clock;
    clock.start();
    try {
      const WriteOutcome outcome = writer.write(job);
      const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
      if (delayed_) {
        delayed_ = false;
        // The runs that waited: this one and those behind it, written right after.
        int waited = 1;
        {
          const std::lock_guard relock(mutex_);
          waited += static_cast<int>(std::count_if(queue_.begin(), queue_.end(), [](const Job& j) {
            return std::holds_alternative<std::unique_ptr<SampleJob>>(j);
          }));
        }
        qCInfo(lcStoreThread) << "db1.mdb is free again; the" << waited << "sampling run(s) that waited are written now";
        post([this, waited] { emit delayEnded(waited); });
      }
      if (outcome.diskChange) {
        const archive::DiskSpace disk = *outcome.diskChange;
        post([this, disk] { emit diskLow(disk.low, disk.text); });
      }
      if (outcome.failures.empty())
        post([this, seconds] { emit runStored(seconds); });
      else
        post([this, text = failureText(outcome.failures)] { emit runFailed(text); });
    } catch (const std::exception& e) {
      const auto* db = dynamic_cast<const engine::EDatabaseError*>(&e);
      const QString text = QString::fromUtf8(e.what());
      locked = db && lockedByAnotherProgram(db->engineText());
      if (locked && !delayed_) {
        delayed_ = true;
        qCWarning(lcStoreThread).noquote() << "sampling run delayed, kept and tried again every"
                                           << options.retryEvery.count() << "ms:" << text;
        post([this, text] { emit delayStarted(text); });
      } else if (!locked) {
        if (delayed_) {
          delayed_ = false;
          qCInfo(lcStoreThread) << "db1.mdb is no longer locked";
          post([this] { emit delayEnded(0); });
        }
        qCWarning(lcStoreThread).noquote() << "sampling run failed, no unit stored:" << text;
        post([this, text] { emit runFailed(text); });
      }
    }
    lock.lock();
    if (!locked) return true;
    const Clock::time_point retryAt = Clock::now() + options.retryEvery;
    for (;;) {
      const Clock::time_point now = Clock::now();
      if (closing_ && now >= closeBy_) return false;
      if (now >= retryAt) break;
      wake_.wait_until(lock, closing_ ? std::min(retryAt, closeBy_) : retryAt);
    }
  }
}

void StoreThread::doClear(SampleWriter& writer, int unitCount) {
  try {
    writer.clear(unitCount);
    qCInfo(lcStoreThread) << "stored samples cleared for units 1 to" << unitCount;
  } catch (const std::exception& e) {
    const QString text = QString::fromUtf8(e.what());
    qCWarning(lcStoreThread).noquote() << "clearing failed:" << text;
    post([this, text] { emit clearFailed(text); });
  }
}

}  // namespace store
