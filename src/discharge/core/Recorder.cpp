#include "discharge/core/Recorder.h"

#include <map>
#include <memory>
#include <vector>

#include "discharge/core/Archive.h"
#include "discharge/core/DischargeLog.h"

namespace discharge {

namespace {
constexpr std::size_t kBatch = 4000;
constexpr auto kRetry = std::chrono::seconds(2);
constexpr int kTriesWhenStopping = 3;
}  // namespace

Recorder::Recorder(const QString& archiveFile, std::size_t capacity)
    : file_(archiveFile), capacity_(capacity), thread_([this] { run(); }) {}

Recorder::~Recorder() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void Recorder::push(Command&& c) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(c));
  }
  wake_.notify_one();
}

qint64 Recorder::begin(const DischargeRecord& r) { return resume(0, 0, r); }

qint64 Recorder::resume(qint64 id, qint64 resumedMs, const DischargeRecord& r) {
  Command c;
  c.kind = Command::Kind::Begin;
  c.record = r;
  c.resumeId = id;
  c.endMs = resumedMs;
  {
    std::lock_guard lock(mutex_);
    c.token = nextToken_++;
  }
  const qint64 token = c.token;
  push(std::move(c));
  return token;
}

bool Recorder::add(qint64 token, const Sample& s) {
  std::size_t wasRefused = 0;
  {
    std::unique_lock lock(mutex_);
    if (queuedSamples_ >= capacity_) {
      ++refused_;
      if (refusedSinceLog_++ == 0) {
        lock.unlock();
        qCWarning(lcDischarge).noquote() << QStringLiteral("discharge recording queue full (%1 samples): samples are dropped until the archive catches up").arg(capacity_);
      }
      return false;
    }
    wasRefused = refusedSinceLog_;
    refusedSinceLog_ = 0;
    Command& c = queue_.emplace_back();
    c.kind = Command::Kind::Sample;
    c.token = token;
    c.sample = s;
    ++queuedSamples_;
  }
  wake_.notify_one();
  if (wasRefused)
    qCWarning(lcDischarge).noquote() << QStringLiteral("discharge recording queue has room again; %1 samples were dropped").arg(wasRefused);
  return true;
}

void Recorder::end(qint64 token, qint64 endMs, EndReason why) {
  Command c;
  c.kind = Command::Kind::End;
  c.token = token;
  c.endMs = endMs;
  c.why = why;
  push(std::move(c));
}

void Recorder::flush() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

std::size_t Recorder::refused() const {
  std::lock_guard lock(mutex_);
  return refused_;
}

void Recorder::run() {
  std::unique_ptr<Archive> archive;
  std::map<qint64, qint64> ids;  // token -> archive id
  std::vector<Command> batch;
  bool failing = false;
  bool swept = false;  // records of an earlier run ended as interrupted
  int triesLeft = kTriesWhenStopping;

  // Writes the batch in one transaction; on failure nothing of it is stored and it is kept.
  auto write = [&]() -> bool {
    try {
      if (!archive) {
        archive = std::make_unique<Archive>(file_);
        if (!swept) {
          if (const auto n = archive->closeInterrupted().size())
            qCWarning(lcDischarge).noquote() << QStringLiteral("%1 discharge record(s) left unfinished by the last run ended as interrupted").arg(n);
          swept = true;
        }
      }
      std::map<qint64, qint64> added;
      archive->begin();
      try {
        for (const Command& c : batch) {
          const auto known = [&](qint64 token) -> qint64 {
            if (auto i = added.find(token); i != added.end()) return i->second;
            if (auto i = ids.find(token); i != ids.end()) return i->second;
            return 0;
          };
          switch (c.kind) {
            case Command::Kind::Begin:
              added[c.token] = c.resumeId && archive->resumeRecord(c.resumeId, c.endMs) ? c.resumeId
                                                                                         : archive->insertRecord(c.record);
              break;
            case Command::Kind::Sample:
              if (const qint64 id = known(c.token)) archive->insertSample(id, c.sample);
              break;
            case Command::Kind::End:
              if (const qint64 id = known(c.token)) archive->endRecord(id, c.endMs, c.why);
              break;
          }
        }
        archive->commit();
      } catch (...) {
        archive->rollback();
        throw;
      }
      ids.merge(added);
      if (failing) qCInfo(lcDischarge) << "discharge archive written again";
      failing = false;
      return true;
    } catch (const std::exception& e) {
      if (!failing) qCWarning(lcDischarge).noquote() << "discharge archive not written, trying again:" << e.what();
      failing = true;
      archive.reset();  // opened afresh on the next try
      return false;
    }
  };

  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) break;  // stopping with nothing left
    const std::size_t n = std::min(queue_.size(), kBatch);
    batch.clear();
    batch.reserve(n);
    std::size_t samples = 0;
    for (std::size_t i = 0; i < n; ++i) {
      samples += queue_.front().kind == Command::Kind::Sample;
      batch.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
    busy_ = true;
    lock.unlock();
    bool written = write();
    lock.lock();
    while (!written) {
      if (stop_ && --triesLeft <= 0) {
        qCWarning(lcDischarge).noquote()
            << QStringLiteral("discharge archive could not be written; %1 queued commands lost").arg(batch.size() + queue_.size());
        queue_.clear();
        queuedSamples_ = 0;
        break;
      }
      wake_.wait_for(lock, kRetry, [this] { return stop_; });
      lock.unlock();
      written = write();
      lock.lock();
    }
    queuedSamples_ -= std::min(queuedSamples_, samples);
    busy_ = false;
    if (queue_.empty()) idle_.notify_all();
  }
  busy_ = false;
  idle_.notify_all();
  lock.unlock();
  archive.reset();
}

}  // namespace discharge
