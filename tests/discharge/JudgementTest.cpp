// Judging hand-made recordings.
#include <gtest/gtest.h>

#include "discharge/core/Judgement.h"

using namespace discharge;

namespace {

/// Samples a minute apart from t0; each row: cells (mV, -1 absent) and the total.
Recording make(qint64 t0, const std::vector<std::vector<int>>& rows, std::optional<int> rated) {
  Recording r;
  r.record.startMs = t0;
  r.record.ratedMinutes = rated;
  r.cells = static_cast<int>(rows.front().size());
  qint64 t = t0;
  for (const auto& row : rows) {
    Sample s;
    s.timeMs = t;
    s.cells = 0;
    int total = 0;
    for (std::size_t k = 0; k < row.size(); ++k) {
      if (row[k] < 0) break;
      s.cellMv[k] = row[k];
      s.cells = static_cast<int>(k) + 1;
      total += row[k];
    }
    s.totalMv = total;
    r.append(s);
    t += 60000;
  }
  r.record.endMs = t - 60000 + 5000;
  return r;
}

}  // namespace

TEST(Judgement, ranksCellsByWhenTheyReachedTheEndVoltageThenByTheirLow) {
  // Cell 3 at 1.80 V after 2 min, cell 1 below it after 3 min; cell 4 low but above; cell 2 sound.
  // The last row comes from a reply with two cells only.
  const Recording r = make(1'000'000, {{2100, 2100, 2090, 2080},
                                       {2000, 2050, 1900, 1950},
                                       {1850, 2020, 1800, 1900},
                                       {1790, 2000, 1750, 1890},
                                       {1810, 1990, -1, -1}},
                           20);
  const Judgement j = judge(r, 1800);
  EXPECT_EQ(j.durationMs, 4 * 60000 + 5000);
  EXPECT_EQ(j.weakestFirst, (std::vector<int>{3, 1, 4, 2}));
  ASSERT_EQ(j.cells.size(), 4u);
  const CellJudgement& c3 = j.cells[2];
  EXPECT_EQ(c3.startMv, 2090);
  EXPECT_EQ(c3.minMv, 1750);
  EXPECT_EQ(c3.endMv, 1750) << "its last value, not the row it was missing from";
  EXPECT_EQ(c3.crossedMs, 2 * 60000) << "at or below the end voltage counts";
  EXPECT_EQ(j.cells[0].crossedMs, 3 * 60000);
  EXPECT_EQ(j.cells[0].endMv, 1810);
  EXPECT_FALSE(j.cells[3].crossedMs);
  EXPECT_EQ(c3.rank, 1);
  EXPECT_EQ(j.cells[1].rank, 4);
  EXPECT_TRUE(j.cells[0].weak && j.cells[2].weak);
  EXPECT_FALSE(j.cells[1].weak || j.cells[3].weak) << "cell 4 lies less than 50 mV under the median low";
  EXPECT_EQ(j.firstCrossedCell, 3);
  EXPECT_EQ(j.firstCrossedMs, 2 * 60000);
  ASSERT_TRUE(j.capacity);
  EXPECT_DOUBLE_EQ(*j.capacity, 0.1);  // 2 of 20 minutes
  EXPECT_FALSE(j.capacityAtLeast);
  EXPECT_EQ(j.startTotalMv, 8370);
  EXPECT_EQ(j.minTotalMv, 3800);
}

TEST(Judgement, aStringThatHeldGivesAtLeastItsDurationAndALowCellIsStillWeak) {
  std::vector<std::vector<int>> rows;
  for (int i = 0; i < 6; ++i) rows.push_back({2000 - 10 * i, 2000 - 10 * i, 1990 - 40 * i, 2000 - 10 * i});
  const Judgement j = judge(make(0, rows, 10), 1700);
  EXPECT_FALSE(j.firstCrossedMs);
  ASSERT_TRUE(j.capacity);
  EXPECT_TRUE(j.capacityAtLeast);
  EXPECT_DOUBLE_EQ(*j.capacity, (5 * 60000 + 5000) / 600000.0);
  EXPECT_EQ(j.weakestFirst.front(), 3);
  EXPECT_TRUE(j.cells[2].weak);
  EXPECT_EQ(judge(make(0, rows, std::nullopt), 1700).capacity, std::nullopt);
}

TEST(Judgement, theReadingsThatShowedTheRecoveryAreNotTheValuesAtTheEnd) {
  // Threshold 2.0 V a cell: two rows under load, then the charger back (two rows above).
  Recording r = make(0, {{2000, 1950}, {1900, 1700}, {2250, 2240}, {2260, 2250}}, std::nullopt);
  r.record.thresholdMv = 2000;
  r.record.cells = 2;
  const Judgement j = judge(r, 1800);
  EXPECT_EQ(j.cells[0].endMv, 1900);
  EXPECT_EQ(j.cells[1].endMv, 1700);
  EXPECT_EQ(j.endTotalMv, 3600);
  EXPECT_EQ(j.cells[1].minMv, 1700);
  EXPECT_EQ(j.durationMs, 3 * 60000 + 5000) << "the discharge still lasts until it ended";
  // A recording that never went under the line keeps its last values.
  r.record.thresholdMv = 1000;
  EXPECT_EQ(judge(r, 1800).cells[0].endMv, 2260);
}
