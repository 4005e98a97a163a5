#pragma once
// Writes discharges into the archive on a thread of its own. The polling thread only puts
// commands into a bounded queue (a lock, a copy of the sample, a wake-up); the writer takes
// everything queued and stores it in one transaction per batch over its own connection.
//
// Samples are never dropped while the queue has room. A full queue (the disk stalled for
// minutes) refuses further samples and logs it, with the count once it has room again. The
// start and end of a record always go in, whatever the queue holds. A batch that cannot be
// written is kept and tried again every two seconds, in order.
//
// Records are named by a token the recorder hands out at once; the archive's id is assigned
// by the writer when the record is stored.
#include <QString>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>

#include "discharge/core/Recording.h"

namespace discharge {

class Recorder {
 public:
  /// 20 minutes of 99 units polled every 0.4 s (2.5 samples a second): about 1.4 MB a minute.
  static constexpr std::size_t kDefaultCapacity = 3000;

  /// Starts the writer, which opens (or makes) the archive and first ends every record left
  /// unfinished by an earlier run (EndReason::Interrupted): once, when it first opens it, so
  /// an archive opened again after a failed write leaves this run's records running.
  explicit Recorder(const QString& archiveFile, std::size_t capacity = kDefaultCapacity);
  /// Writes what is queued (trying a failing write a few times more) and stops the writer.
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  /// Queues a new record; returns its token.
  qint64 begin(const DischargeRecord& r);
  /// Queues the continuation of the interrupted record `id` (Archive::resumeRecord) from
  /// `resumedMs`; returns its token. When the record cannot be continued, `r` begins a new one.
  qint64 resume(qint64 id, qint64 resumedMs, const DischargeRecord& r);
  /// Queues a sample of the record; false (and logged) when the queue is full.
  bool add(qint64 token, const Sample& s);
  void end(qint64 token, qint64 endMs, EndReason why);

  /// Waits until everything queued so far has been written or given up.
  void flush();
  /// Samples refused because the queue was full, since the start.
  std::size_t refused() const;
  std::size_t capacity() const { return capacity_; }

 private:
  struct Command {
    enum class Kind { Begin, Sample, End } kind = Kind::Sample;
    qint64 token = 0;
    DischargeRecord record;  // Begin
    qint64 resumeId = 0;     // Begin: continue this interrupted record, if it still is one
    Sample sample;           // Sample
    qint64 endMs = 0;        // End
    EndReason why = EndReason::Recovered;
  };
  void push(Command&& c);
  void run();

  QString file_;
  std::size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Command> queue_;
  std::size_t queuedSamples_ = 0;
  std::size_t refused_ = 0;
  std::size_t refusedSinceLog_ = 0;
  bool busy_ = false;
  bool stop_ = false;
  qint64 nextToken_ = 1;
  std::thread thread_;
};

}  // namespace discharge
