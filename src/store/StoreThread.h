#pragma once
// The store's own thread: sampling runs and clearings of db1.mdb, one after another in the
// order they were handed over, away from the window. The window only copies the tables and
// enqueues (a few hundred microseconds); the answers come back as queued signals on the
// thread that made this object.
//
// A run that meets another program's write lock, a full disk or a failing write is kept and
// tried again every retryEvery until it is written; runs handed over meanwhile wait behind it,
// so no run's rows overtake an earlier one's. The delay is announced once when it begins and
// once when it ends. Any other failure (a damaged file, a unit table of a bad layout) is
// answered at once as before.
//
// The free space of the station folder's disk is checked every diskCheckEvery and after every
// run tried, whether it was written or not.
//
// Its connections to db1.mdb (SampleWriter) are opened, used and closed on the thread.
#include <QObject>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <variant>

#include "archive/core/ArchiveSettings.h"
#include "store/SampleWriter.h"

namespace store {

class StoreThread : public QObject {
  Q_OBJECT
 public:
  struct Options {
    /// How long a run kept by a lock waits before it is tried again.
    std::chrono::milliseconds retryEvery{10000};
    /// Runs that may wait behind a delayed one: a day at one run every 180 s. Beyond it the
    /// oldest waiting run is dropped, and the log says so.
    std::size_t maxWaiting = 480;
    /// How long closing waits for the runs still waiting to be written, the try under way
    /// included.
    std::chrono::milliseconds closeWait{10000};
    /// Free space under which the station folder's disk counts as low.
    qint64 lowDiskBytes = archive::kLowDiskBytes;
    /// Between checks of the free space while no run is written.
    std::chrono::milliseconds diskCheckEvery{60000};
  };

  explicit StoreThread(Options options, QObject* parent = nullptr);
  StoreThread();
  /// Writes what waits, for at most closeWait; what could not be written is logged by count.
  ~StoreThread() override;
  StoreThread(const StoreThread&) = delete;
  StoreThread& operator=(const StoreThread&) = delete;

  /// Takes effect from the next attempt (tests shorten the retry this way).
  void setOptions(const Options& options);

  /// Hands over a sampling run of the tables as they are now, taken at `takenMs`.
  void enqueueRun(const acquisition::MeasurementTables& tables, int unitCount, qint64 takenMs);
  /// Hands over a clearing of the sample tables of units 1..unitCount, done after every run
  /// handed over before it.
  void enqueueClear(int unitCount);

  /// Waits until everything handed over has been written or has failed, at most `timeout`,
  /// then delivers the answers that wait for this thread (and the calls their handlers
  /// queued). True when nothing is left. For tests and for closing; the window never waits on
  /// it.
  bool waitIdle(std::chrono::milliseconds timeout);

  /// db1.mdb may have been replaced by another file: the thread lets go of the old one as soon
  /// as the run under way (if any) is done. Never waits.
  void letGoIfReplaced();

 signals:
  /// A sampling run stored every unit; writing it took `seconds`.
  void runStored(double seconds);
  /// A sampling run failed (the whole run, or some units: one line each); the text the
  /// operator reads.
  void runFailed(const QString& text);
  /// A run met another program's lock (or a full disk, a failing write) and is kept to be
  /// tried again; the text with its reason.
  void delayStarted(const QString& text);
  /// The lock that delayed runs is gone: `runs` were written late (0 when the run that waited
  /// then failed for another reason).
  void delayEnded(int runs);
  /// A month file of the archive was found damaged and set aside; the archive's text.
  void archiveDamaged(const QString& text);
  /// A clearing failed; the engine's text.
  void clearFailed(const QString& text);
  /// The disk holding the station folder went below the low mark (`low`, with a text giving
  /// the free space) or came back above it.
  void diskLow(bool low, const QString& text);

 private:
  struct Clear {
    int unitCount = 0;
  };
  using Job = std::variant<std::unique_ptr<SampleJob>, Clear>;

  void work();
  /// What the thread does besides runs: letting go of a replaced file, the disk check when due.
  /// Called with the mutex held; unlocks it meanwhile.
  void sideWork(SampleWriter& writer, std::unique_lock<std::mutex>& lock);
  void checkDisk(qint64 lowBytes);
  /// Writes one run, trying again while the file is locked. False when closing gave up on it.
  bool writeRun(SampleWriter& writer, const SampleJob& job, std::unique_lock<std::mutex>& lock);
  void doClear(SampleWriter& writer, int unitCount);
  template <typename F>
  void post(F&& f);

  mutable std::mutex mutex_;
  Options options_;  ///< guarded by mutex_
  std::condition_variable wake_;   ///< work arrived, or closing began
  std::condition_variable idle_;   ///< the queue ran empty
  std::deque<Job> queue_;
  bool busy_ = false;
  bool closing_ = false;
  bool letGoAsked_ = false;
  std::chrono::steady_clock::time_point closeBy_;
  // Worker-only state.
  bool delayed_ = false;  ///< a run is being kept (told once)
  bool diskLow_ = false;  ///< as last told
  std::chrono::steady_clock::time_point nextDiskCheck_{};
  std::thread thread_;
};

}  // namespace store
