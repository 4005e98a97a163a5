#pragma once
// The weak-cell finder: every cell's deviation from its unit's cell mean over a range, its
// trend, and the cells drifting most with a curve of their deviation.
#include <cmath>
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
};

/// A cell is marked as drifting when its trend reaches this many mV a month either way (the
/// operator may set another): a healthy string's cells stay within a few tenths.
inline constexpr double kDriftMarkMvPerMonth = 5.0;

/// Whether the cell's |trend| reaches `thresholdMvPerMonth`.
inline bool driftMarked(const CellDeviation& d, double thresholdMvPerMonth) {
  return std::abs(d.trendMvPerMonth) >= thresholdMvPerMonth;
}

/// Runs where the unit reported fewer than two cells say nothing about deviations and are left
/// out. Throws ArchiveError only for arguments out of range; unreadable files are gaps.
DeviationReport cellDeviations(ArchiveReader& reader, int unit, qint64 fromMs, qint64 toMs, int columns, int top = 10);

}  // namespace archive
