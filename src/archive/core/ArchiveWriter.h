#pragma once
// Appends sampling runs to the archive. One writer per station, used from one thread (the
// store's): it opens its SQLite connections there, under names of its own, on the first append,
// so it may be made on another thread but must be used and destroyed on that one.
//
// A run goes into the month file of its UTC time as one staging row per unit, in one
// transaction: the run is stored whole or not at all (ArchiveError), so the caller can retry
// it. A unit's open block is closed (packed into one `block` row, its day summaries merged)
// when it holds runsPerBlock runs or when the first run of another UTC day arrives.
//
// Clock changes: runs are keyed by their UTC time, so daylight saving changes nothing. A run
// at or before the last one stored (the clock set back) is kept: it goes into the block of its
// own day in order of arrival, and readers return runs sorted by time. A run whose time equals
// one of the unit's open block is the same run again and is not stored twice.
//
// A damaged month file is renamed aside (NAME.corrupt-<time>), named in the outcome's notices,
// and a new file takes the run.
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <vector>

#include "archive/core/ArchiveSettings.h"
#include "archive/core/ArchiveTypes.h"

namespace archive {

class ArchiveDb;

struct WriterOptions {
  QString folder;  // the archive folder, made when missing (station folder + "/archive")
  int runsPerBlock = 480;  // a day at one run every 180 s
  int compressionLevel = 9;
  int busyTimeoutMs = 5000;
  Retention retention;
  qint64 lowDiskBytes = kLowDiskBytes;
};

struct AppendOutcome {
  /// For the event record and the log: files set aside, days dropped.
  QStringList notices;
  int blocksClosed = 0;
  int daysDropped = 0;
  /// The disk of the archive after the run; lowDiskChanged when it went low or recovered
  /// since the previous run (report the change once, not every run).
  DiskSpace disk;
  bool lowDiskChanged = false;
};

class ArchiveWriter {
 public:
  explicit ArchiveWriter(WriterOptions options);
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  /// Stores the run. Throws ArchiveError when it cannot; nothing of the run is stored then.
  AppendOutcome append(const Run& run);
  /// Closes every open block (before a long stop, or to read packed blocks only). Throws
  /// ArchiveError.
  int closeOpenBlocks();
  /// Takes effect at the next run.
  void setRetention(const Retention& retention);
  const WriterOptions& options() const { return options_; }

 private:
  struct OpenBlock {
    qint64 day = 0;
    std::vector<qint64> times;
  };
  void openMonth(const QString& fileName, AppendOutcome& outcome);
  void closeOthers(const QString& keep, AppendOutcome& outcome);
  void loadOpenBlocks();
  void storeRun(const Run& run, AppendOutcome& outcome);
  void closeBlock(int unit, qint64 day);
  int closeAll(ArchiveDb& db);

  WriterOptions options_;
  std::unique_ptr<ArchiveDb> current_;
  QString currentName_;
  std::map<int, OpenBlock> open_;
  bool openValid_ = false;
  bool othersSwept_ = false;
  bool lowDisk_ = false;
  qint64 lastDay_ = -1;
  qint64 lastAgeCheckDay_ = -1;
};

}  // namespace archive
