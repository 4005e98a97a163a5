#pragma once
// Judging a recorded discharge cell by cell against the end-of-discharge voltage. Pure
// functions over a Recording; times are ms from the discharge's start.
#include <optional>
#include <vector>

#include "discharge/core/Recording.h"

namespace discharge {

struct CellJudgement {
  int cell = 0;
  int startMv = 0;  ///< first recorded value
  int minMv = 0;
  int endMv = 0;  ///< last recorded value under load (see judge)
  /// When it first read at or below the end-of-discharge voltage.
  std::optional<qint64> crossedMs;
  int rank = 0;  ///< 1 = weakest
  bool weak = false;
};

struct Judgement {
  int endVoltageMv = 0;  ///< per cell, as judged
  qint64 durationMs = 0;
  /// The first cell to reach the end voltage, and when.
  std::optional<qint64> firstCrossedMs;
  int firstCrossedCell = 0;
  /// firstCrossedMs over the rated runtime; without a crossing, the duration over it (then
  /// capacityAtLeast: the string held for the whole discharge).
  std::optional<double> capacity;
  bool capacityAtLeast = false;
  int startTotalMv = 0, minTotalMv = 0, endTotalMv = 0;
  /// Cells 1..n that have at least one value, by cell number.
  std::vector<CellJudgement> cells;
  /// Cell numbers, weakest first.
  std::vector<int> weakestFirst;
};

/// How far below the median of the cells' minimums a cell's minimum must lie to count as weak
/// when it never reached the end voltage.
inline constexpr int kWeakBelowMedianMv = 50;

/// Ranks the cells weakest first: the earlier a cell reached the end voltage the weaker; cells
/// that never did follow, by their minimum, then their end value, then their number. A cell is
/// weak when it reached the end voltage or its minimum lies kWeakBelowMedianMv or more below
/// the median minimum. `endVoltageMv` is per cell; `endMs` the discharge's end (the last
/// sample's time when none). The values "at end" (each cell's and the total's) are those of the
/// last sample under load: trailing samples whose total is back at or above the record's
/// threshold (the readings that showed the recovery) are left out of them, and only of them.
Judgement judge(const Recording& r, int endVoltageMv);

}  // namespace discharge
