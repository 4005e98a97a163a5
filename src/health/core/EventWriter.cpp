#include "health/core/EventWriter.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <algorithm>
#include <vector>

namespace health {

namespace {

Q_LOGGING_CATEGORY(lcRecord, "cellstation.health")


}  // namespace

EventWriter::EventWriter(const QString& databaseFile, Options options) : options_(std::move(options)) {
  if (options_.maxEvents < 1) options_.maxEvents = 1;
  // Taken as it stands now, as HealthDb takes it, whatever the current folder is later.
  thread_ = std::thread([this, file = QDir::current().absoluteFilePath(databaseFile)] { run(file); });
}

EventWriter::~EventWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
  writeLeftovers();
}

void EventWriter::append(Event e) {
  {
    std::lock_guard lock(mutex_);
    if (queue_.size() >= static_cast<std::size_t>(options_.maxEvents)) queue_.pop_front();
    queue_.push_back({nextSeq_++, std::move(e)});
  }
  wake_.notify_all();
}

bool EventWriter::flush(int timeoutMs) {
  std::unique_lock lock(mutex_);
  if (queue_.empty()) return true;
  flushAsked_ = true;
  const std::uint64_t before = tries_;
  wake_.notify_all();
  // Done when everything is written, or when a try made after this ask has failed.
  tried_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                  [&] { return queue_.empty() || (failing_ && !flushAsked_ && tries_ > before); });
  return queue_.empty();
}

std::size_t EventWriter::pending() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

void EventWriter::setRetryMs(int ms) {
  {
    std::lock_guard lock(mutex_);
    options_.retryMs = ms;
    if (failing_) nextTry_ = std::min(nextTry_, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms));
  }
  wake_.notify_all();
}

void EventWriter::letGoIfReplaced() {
  {
    std::lock_guard lock(mutex_);
    letGoAsked_ = true;
  }
  wake_.notify_all();
}

void EventWriter::readLimits(std::function<void(const LimitsRead&)> done) {
  {
    std::lock_guard lock(mutex_);
    limitsAsked_ = std::move(done);
  }
  wake_.notify_all();
}

void EventWriter::run(QString databaseFile) {
  // The connection is made, used and closed on this thread only.
  HealthDb db(databaseFile, options_.maxEvents);
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto ready = [this] {
      return stopping_ || limitsAsked_ || letGoAsked_ || (!queue_.empty() && (!failing_ || flushAsked_));
    };
    if (failing_ && !queue_.empty() && !ready())
      wake_.wait_until(lock, nextTry_, ready);
    else
      wake_.wait(lock, ready);
    const bool last = stopping_;

    if (letGoAsked_) {
      letGoAsked_ = false;
      lock.unlock();
      db.letGoIfReplaced();
      lock.lock();
      if (!last) continue;
    }

    if (limitsAsked_ && !last) {
      auto done = std::move(limitsAsked_);
      limitsAsked_ = nullptr;
      lock.unlock();
      LimitsRead read;
      try {
        read.limits = db.loadLimits(&read.problems);
      } catch (const std::exception& e) {
        read.failure = QString::fromUtf8(e.what());
      }
      done(read);
      lock.lock();
      continue;
    }

    if (!queue_.empty()) {
      std::vector<Event> batch;
      batch.reserve(queue_.size());
      for (const Queued& q : queue_) batch.push_back(q.event);
      const std::uint64_t lastSeq = queue_.back().seq;
      flushAsked_ = false;
      lock.unlock();
      QString failure;
      try {
        db.append(batch);
      } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
        if (failure.isEmpty()) failure = QStringLiteral("?");
      }
      lock.lock();
      ++tries_;
      if (failure.isEmpty()) {
        // Events dropped meanwhile at the bound have left the front: go by sequence numbers.
        while (!queue_.empty() && queue_.front().seq <= lastSeq) queue_.pop_front();
        if (failing_) qCInfo(lcRecord) << "event record written again";
        failing_ = false;
      } else {
        if (!failing_)
          qCWarning(lcRecord).noquote() << "event record not written, kept for a later try:" << failure;
        failing_ = true;
        nextTry_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.retryMs);
      }
      tried_.notify_all();
    }
    if (last) break;
  }
  if (limitsAsked_) limitsAsked_ = nullptr;
}

void EventWriter::writeLeftovers() {
  if (queue_.empty()) return;
  qCWarning(lcRecord).noquote() << queue_.size() << "events not written to the event record at exit:";
  QByteArray text;
  for (const Queued& q : queue_) {
    const QString line = q.event.time.toString(QString::fromLatin1(kEventTimeFormat)) + QLatin1Char('\t') + eventLogLine(q.event);
    qCWarning(lcRecord).noquote() << "event not recorded:" << line;
    text += line.toUtf8() + '\n';
  }
  if (options_.leftoverFile.isEmpty()) return;
  QFile file(options_.leftoverFile);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(text) != text.size())
    qCWarning(lcRecord).noquote() << "cannot append them to" << options_.leftoverFile;
  else
    qCInfo(lcRecord).noquote() << "they are appended to" << options_.leftoverFile;
  queue_.clear();
}

}  // namespace health
