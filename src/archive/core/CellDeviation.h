#pragma once
// The weak-cell finder: every cell's deviation from its unit's cell mean over a range, its
// trend, and the cells drifting most with a curve of their deviation.
#include <functional>
#include <vector>

#include "archive/core/ArchiveReader.h"

namespace archive {

struct CellDeviation {
  int cell = 0;                  // 1..108
  qint64 samples = 0;
  double meanDeviationMv = 0;    // mean over the range of (cell - mean of the unit's cells)
  double trendMvPerMonth = 0;    // least-squares slope of that deviation; a month is 30 days
};

struct DeviationReport {
  /// Every cell reported in the range, by cell number.
  std::vector<CellDeviation> cells;
  /// The cells drifting most (largest |trend|), at most `top`, most first.
  std::vector<CellDeviation> drifting;
  /// Their deviation in mV per chart column (same order as `drifting`); count 0 is a gap.
  std::vector<std::vector<SeriesColumn>> curves;
  /// False when the pass was stopped before the range's end (the figures are then partial).
  bool complete = true;
};

/// Called after each month file with the runs read so far; return false to stop the pass.
using DeviationProgress = std::function<bool(qint64 runsRead)>;

/// Runs where the unit reported fewer than two cells say nothing about deviations and are left
/// out. Throws ArchiveError only for arguments out of range; unreadable files are gaps.
DeviationReport cellDeviations(ArchiveReader& reader, int unit, qint64 fromMs, qint64 toMs, int columns, int top = 10,
                               const DeviationProgress& progress = {});

}  // namespace archive
