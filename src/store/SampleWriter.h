#pragma once
// One sampling run as the store's thread writes it: the 24-hour tables of db1.mdb through a
// connection of its own, then the long-term archive (archive/ in the station folder). Made,
// used and destroyed on that one thread: its connections are opened there.
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "acquisition/core/MeasurementTables.h"
#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "store/ArchiveQueue.h"
#include "store/core/SamplingRun.h"

namespace archive {
class ArchiveWriter;
}  // namespace archive

namespace store {

/// db1.mdb in the working directory, as every connection of the store names it.
inline constexpr char kConnectionString[] = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db1.mdb;Persist Security Info=False";

/// A sampling run as the window took it: a copy of the measurement tables, the unit count and
/// the time the samples were taken (ms since the epoch, UTC), which the archive keeps whenever
/// the run is written.
struct SampleJob {
  acquisition::MeasurementTables tables;
  int unitCount = 0;
  qint64 takenMs = 0;
};

struct WriteOutcome {
  /// Units whose row could not be stored (empty when all were).
  std::vector<UnitFailure> failures;
  /// Archive month files found damaged and set aside meanwhile, as the archive tells it.
  QStringList archiveDamage;
};

class SampleWriter {
 public:
  SampleWriter();
  ~SampleWriter();
  SampleWriter(const SampleWriter&) = delete;
  SampleWriter& operator=(const SampleWriter&) = delete;

  /// Stores one row per unit into the 24-hour tables, and with them the run in the archive's
  /// queue (see ArchiveQueue.h), in one transaction; then hands the runs queued to the archive
  /// (whose failure never costs the 24-hour rows: it is logged once while it lasts and the runs
  /// stay queued for the next run). Throws engine::EDatabaseError when the run as a whole
  /// failed; then nothing of it is stored and it may be written again.
  WriteOutcome write(const SampleJob& job);
  /// Archives the runs an earlier station left queued in db1.mdb; done once, before the first
  /// run, and tried again with each run until it succeeds. Logs what it did; never throws.
  void recoverQueued() noexcept;
  /// Empties the sample tables of units 1..unitCount. Throws engine::EDatabaseError.
  void clear(int unitCount);
  /// How long a write waits for another program's lock (closing shortens it).
  void setLockWait(int ms) noexcept { connection_.setLockWait(ms); }
  /// Closes the connection when db1.mdb is now another file (see TADOConnection).
  bool letGoIfReplaced() noexcept { return connection_.letGoIfReplaced(); }

 private:
  /// Appends what waits; damaged files set aside meanwhile go to `damage` when given.
  void archiveQueued(QStringList* damage = nullptr);

  engine::TADOConnection connection_;
  engine::TADOQuery query_{connection_};
  std::unique_ptr<archive::ArchiveWriter> archive_;
  /// Runs the archive does not hold yet, oldest first (a day's worth at most), each also in
  /// db1.mdb's queue under its seq.
  std::deque<QueuedRun> unarchived_;
  bool recovered_ = false;
  bool archiveFailing_ = false;
};

}  // namespace store
