#pragma once
// The event record's way into db1.mdb: a thread of its own with a connection of its own, so a
// file held by another program never stalls the window. Events are written in the order they
// were recorded, a batch at a time; while the database refuses them they stay in memory and are
// tried again. The same thread reads the alarm limits when asked, for the same reason.
#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "health/core/Event.h"
#include "health/core/HealthDb.h"
#include "health/core/Limits.h"

namespace health {

/// What a read of the stored limits gave: the limits, or why there are none.
struct LimitsRead {
  std::optional<Limits> limits;
  QString failure;
  QStringList problems;  ///< stored values taken as off
};

class EventWriter {
 public:
  struct Options {
    /// Between tries while the database refuses the events.
    int retryMs = 10000;
    /// Events kept for the record: more than the record itself keeps would be pruned anyway.
    int maxEvents = kMaxEvents;
    /// A plain text file that what could not be written at exit is appended to; none if empty.
    QString leftoverFile;
  };

  /// `databaseFile` as HealthDb takes it. The thread starts here.
  EventWriter(const QString& databaseFile, Options options);
  /// One last try to write what is pending (bounded by the engine's lock wait); whatever is
  /// still not written then is logged and appended to the leftover file.
  ~EventWriter();
  EventWriter(const EventWriter&) = delete;
  EventWriter& operator=(const EventWriter&) = delete;

  /// Queues an event for the record. Never waits on the database.
  void append(Event e);
  /// Asks for an immediate write and waits up to `timeoutMs`; true when nothing is pending.
  bool flush(int timeoutMs);
  std::size_t pending() const;
  void setRetryMs(int ms);

  /// db1.mdb may have been replaced by another file: the writer's thread lets go of the old
  /// one at once (see HealthDb::letGoIfReplaced). Never waits.
  void letGoIfReplaced();

  /// Reads the stored limits on the writer's thread; `done` is called there with the result.
  /// A read asked for while one is waiting replaces it.
  void readLimits(std::function<void(const LimitsRead&)> done);

 private:
  struct Queued {
    std::uint64_t seq;
    Event event;
  };
  void run(QString databaseFile);
  void writeLeftovers();

  Options options_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable tried_;
  std::deque<Queued> queue_;
  std::uint64_t nextSeq_ = 0;
  std::uint64_t tries_ = 0;
  bool failing_ = false;
  bool flushAsked_ = false;
  bool stopping_ = false;
  bool letGoAsked_ = false;
  std::chrono::steady_clock::time_point nextTry_{};
  std::function<void(const LimitsRead&)> limitsAsked_;
  std::thread thread_;
};

}  // namespace health
