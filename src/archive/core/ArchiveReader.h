#pragma once
// Reads the archive: one unit's runs over a time range, a value's curve condensed to the
// columns of a chart, the day summaries. Opens its own connections for each call, on the
// calling thread, so it may live on any one thread and sees the writer's committed runs
// (including blocks still open) without waiting for it.
//
// A file that cannot be read (damaged, locked too long) is skipped: its span reads as a gap,
// and the reason is kept in problems() for the log.
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "archive/core/ArchiveTypes.h"

namespace archive {

struct SeriesPoint {
  qint64 timeMs = 0;
  double volts = 0;
};

/// One pixel column of a chart: [fromMs, toMs); count 0 is a gap (no sample stored there).
struct SeriesColumn {
  qint64 fromMs = 0;
  qint64 toMs = 0;
  int count = 0;
  double min = 0, mean = 0, max = 0;
};

/// A value over a range: the exact samples when the range holds no more samples than columns
/// (`exact`; `points` in time order), else the envelope per column (`columns`, always exactly
/// as many as asked). In exact mode break the line where neighbours lie further apart than
/// the sampling interval allows (twice the 180 s, say).
struct Series {
  bool exact = true;
  std::vector<SeriesPoint> points;
  std::vector<SeriesColumn> columns;
  qint64 samples = 0;
};

struct DaySummary {
  int unit = 0;
  qint64 day = 0;   // UTC days since 1970 (dayOf)
  int cell = 0;     // 1..108, 0 = the total
  qint64 minMv = 0;
  double meanMv = 0;
  qint64 maxMv = 0;
  qint64 samples = 0;
};

class ArchiveReader {
 public:
  explicit ArchiveReader(QString folder, int busyTimeoutMs = 5000);

  /// The unit's runs with fromMs <= time < toMs, in time order (equal times in order of
  /// arrival).
  std::vector<StoredRun> runs(int unit, qint64 fromMs, qint64 toMs);
  /// The same month file by month, oldest first, for long ranges (an export): `f` gets each
  /// month's runs in time order and returns false to stop. Returns false when stopped.
  bool forEachMonth(int unit, qint64 fromMs, qint64 toMs, const std::function<bool(std::vector<StoredRun>&)>& f);
  /// Runs stored for the unit in the range, from the block index (blocks that reach past the
  /// range count whole): the measure for a progress bar.
  qint64 estimateRuns(int unit, qint64 fromMs, qint64 toMs);

  /// `cell` 1..108, or kTotalCell (0) for the total; `columns` >= 1. Cells a run's unit did
  /// not report are no samples.
  Series series(int unit, int cell, qint64 fromMs, qint64 toMs, int columns);

  /// Day summaries of the unit (0: every unit) for UTC days fromDay..toDay inclusive, by unit,
  /// day, cell; a day whose block is still open (today) counts the runs stored so far.
  std::vector<DaySummary> daySummaries(int unit, qint64 fromDay, qint64 toDay);

  /// The first and last run time stored for the unit, if any.
  std::optional<std::pair<qint64, qint64>> span(int unit);

  /// Months of [fromMs, toMs) whose file is missing (removed, or set aside as damaged) while
  /// the archive has files before and after them: "2026-11", oldest first.
  QStringList missingMonths(qint64 fromMs, qint64 toMs) const;

  /// Reasons files were skipped, since the last call.
  QStringList takeProblems();

 private:
  struct MonthFile {
    QString path;
    qint64 firstMs, endMs;
  };
  std::vector<MonthFile> filesFor(qint64 fromMs, qint64 toMs) const;
  std::vector<StoredRun> monthRuns(const MonthFile& f, int unit, qint64 fromMs, qint64 toMs);

  QString folder_;
  int busyTimeoutMs_;
  QStringList problems_;
};

}  // namespace archive
