#include "store/StoreThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QDir>
#include <algorithm>
#include <utility>

#include "engine/DatabaseFile.h"
#include "engine/EngineError.h"

namespace store {

namespace {

Q_LOGGING_CATEGORY(lcStoreThread, "cellstation.store")

using Clock = std::chrono::steady_clock;

}  // namespace

StoreThread::StoreThread(Options options, QObject* parent) : QObject(parent), options_(options) {
  busy_ = true;  // until the runs an earlier station left for the archive are archived
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
  // The answers, then the calls their handlers queued in turn (a box shown after the record).
  QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
  return idle;
}

template <typename F>
void StoreThread::post(F&& f) {
  QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::QueuedConnection);
}

void StoreThread::letGoIfReplaced() {
  {
    const std::lock_guard lock(mutex_);
    letGoAsked_ = true;
  }
  wake_.notify_all();
}

void StoreThread::work() {
  SampleWriter writer;
  // Runs an earlier station stored in db1.mdb but did not live to archive go first.
  writer.recoverQueued();
  std::unique_lock lock(mutex_);
  busy_ = false;
  if (queue_.empty()) idle_.notify_all();
  for (;;) {
    sideWork(writer, lock);
    if (queue_.empty() && !closing_) {
      wake_.wait_until(lock, nextDiskCheck_, [this] {
        return closing_ || !queue_.empty() || letGoAsked_ || Clock::now() >= nextDiskCheck_;
      });
      continue;
    }
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

void StoreThread::sideWork(SampleWriter& writer, std::unique_lock<std::mutex>& lock) {
  const bool letGo = std::exchange(letGoAsked_, false);
  const bool diskDue = Clock::now() >= nextDiskCheck_;
  if (!letGo && !diskDue) return;
  if (diskDue) nextDiskCheck_ = Clock::now() + options_.diskCheckEvery;
  const qint64 lowBytes = options_.lowDiskBytes;
  lock.unlock();
  if (letGo && writer.letGoIfReplaced()) qCInfo(lcStoreThread) << "the store's connection let go of the replaced db1.mdb";
  if (diskDue) checkDisk(lowBytes);
  lock.lock();
}

void StoreThread::checkDisk(qint64 lowBytes) {
  const archive::DiskSpace disk = archive::checkDiskSpace(QDir::currentPath(), lowBytes);
  if (disk.freeBytes < 0 || disk.low == diskLow_) return;
  diskLow_ = disk.low;
  QString text = disk.text;
  if (disk.low) {
    qCWarning(lcStoreThread).noquote() << text;
  } else {
    text = QStringLiteral("存放站点目录的磁盘可用空间 %1 MB").arg(disk.freeBytes / archive::kMiB);
    qCInfo(lcStoreThread).noquote() << "the disk has enough free space again:" << text;
  }
  post([this, low = disk.low, text] { emit diskLow(low, text); });
}

bool StoreThread::writeRun(SampleWriter& writer, const SampleJob& job, std::unique_lock<std::mutex>& lock) {
  for (;;) {
    const Options options = options_;
    // Closing waits closeWait in all: a try begun then waits for a lock only as long as is left.
    int lockWait = engine::kLockWaitMs;
    if (closing_)
      lockWait = static_cast<int>(std::clamp<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(closeBy_ - Clock::now()).count(), 0, engine::kLockWaitMs));
    lock.unlock();
    writer.setLockWait(lockWait);
    bool kept = false;
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
        qCInfo(lcStoreThread) << "db1.mdb takes runs again; the" << waited << "sampling run(s) that waited are written now";
        post([this, waited] { emit delayEnded(waited); });
      }
      for (const QString& damage : outcome.archiveDamage) post([this, damage] { emit archiveDamaged(damage); });
      if (outcome.failures.empty())
        post([this, seconds] { emit runStored(seconds); });
      else
        post([this, text = failureText(outcome.failures)] { emit runFailed(text); });
    } catch (const std::exception& e) {
      const auto* db = dynamic_cast<const engine::EDatabaseError*>(&e);
      const QString text = QString::fromUtf8(e.what());
      kept = db && worthRetrying(db->engineText());
      if (kept && !delayed_) {
        delayed_ = true;
        qCWarning(lcStoreThread).noquote() << "sampling run delayed, kept and tried again every"
                                           << options.retryEvery.count() << "ms:" << text;
        post([this, text] { emit delayStarted(text); });
      } else if (!kept) {
        if (delayed_) {
          delayed_ = false;
          qCInfo(lcStoreThread) << "the run that waited failed for another reason";
          post([this] { emit delayEnded(0); });
        }
        qCWarning(lcStoreThread).noquote() << "sampling run failed, no unit stored:" << text;
        post([this, text] { emit runFailed(text); });
      }
    }
    // A full disk shows at once, not at the next scheduled check.
    checkDisk(options.lowDiskBytes);
    lock.lock();
    nextDiskCheck_ = Clock::now() + options_.diskCheckEvery;
    if (!kept) return true;
    const Clock::time_point retryAt = Clock::now() + options.retryEvery;
    for (;;) {
      const Clock::time_point now = Clock::now();
      if (closing_ && now >= closeBy_) return false;
      if (now >= retryAt) break;
      sideWork(writer, lock);
      Clock::time_point until = std::min(retryAt, nextDiskCheck_);
      if (closing_) until = std::min(until, closeBy_);
      wake_.wait_until(lock, until);
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
