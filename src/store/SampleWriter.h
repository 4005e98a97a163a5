#pragma once
// One sampling run as the store's thread writes it: the 24-hour tables of db1.mdb through a
// connection of its own, then the long-term archive (archive/ in the station folder). Made,
// used and destroyed on that one thread: its connections are opened there.
#include <QString>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "acquisition/core/MeasurementTables.h"
#include "archive/core/ArchiveSettings.h"
#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "store/core/SamplingRun.h"

namespace archive {
class ArchiveWriter;
struct Run;
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
  /// The archive's disk after the run, when it went low or recovered since the last run.
  std::optional<archive::DiskSpace> diskChange;
};

/// True when the engine's text says another program holds the file's write lock.
bool lockedByAnotherProgram(const QString& engineText);

class SampleWriter {
 public:
  SampleWriter();
  ~SampleWriter();
  SampleWriter(const SampleWriter&) = delete;
  SampleWriter& operator=(const SampleWriter&) = delete;

  /// Stores one row per unit into the 24-hour tables, then hands the run to the archive (whose
  /// failure never costs the 24-hour rows: it is logged once while it lasts and the runs not
  /// yet archived go with the next run). Throws engine::EDatabaseError when the run as a whole
  /// failed; then nothing of it is stored and it may be written again.
  WriteOutcome write(const SampleJob& job);
  /// Free space under which the archive's disk counts as low; takes effect when the archive
  /// is (re)opened.
  void setLowDiskBytes(qint64 bytes) { lowDiskBytes_ = bytes; }
  /// Empties the sample tables of units 1..unitCount. Throws engine::EDatabaseError.
  void clear(int unitCount);

 private:
  std::optional<archive::DiskSpace> archiveRun(const SampleJob& job);

  engine::TADOConnection connection_;
  engine::TADOQuery query_{connection_};
  qint64 lowDiskBytes_ = archive::kLowDiskBytes;
  std::unique_ptr<archive::ArchiveWriter> archive_;
  /// Runs the archive could not take yet, oldest first (a day's worth at most).
  std::deque<archive::Run> unarchived_;
  bool archiveFailing_ = false;
};

}  // namespace store
