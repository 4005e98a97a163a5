// Alarm debounce: two readings beyond a limit raise, two readings back inside by the margin
// clear, anything in between keeps the state.
#include <gtest/gtest.h>

#include "health/core/AlarmTracker.h"

namespace {

using health::AlarmChange;
using health::AlarmTracker;
using health::Limit;
using health::Limits;

class AlarmDebounce : public ::testing::Test {
 protected:
  void SetUp() override { tracker = std::make_unique<AlarmTracker>(); }

  void limit(Limit l, double v) {
    Limits limits = tracker->limits();
    limits[l] = v;
    std::vector<AlarmChange> cleared;
    tracker->setLimits(limits, cleared);
  }

  /// One reading of unit u with `n` cells all at `rest` except cell k at `v`.
  std::vector<AlarmChange> read(int u, int k, double v, int n = 24, double rest = 2.25) {
    acquisition::CellRow cells;
    for (int i = 1; i <= 108; ++i) cells[i] = rest;
    if (k) cells[k] = v;
    std::vector<AlarmChange> out;
    tracker->reading(u, cells, n, rest * n, out);
    return out;
  }

  std::unique_ptr<AlarmTracker> tracker;
};

TEST_F(AlarmDebounce, noLimitsNoAlarmsWhateverTheReadings) {
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(read(1, 3, 0.0).empty());
  EXPECT_FALSE(tracker->cellInAlarm(1, 3));
  EXPECT_TRUE(tracker->unitsInAlarm().empty());
}

TEST_F(AlarmDebounce, aCellLowRaisesOnTheSecondReadingAndClearsPastTheMargin) {
  limit(Limit::CellLow, 1.9);
  EXPECT_TRUE(read(2, 7, 1.8).empty()) << "one reading is noise";
  const auto raised = read(2, 7, 1.85);
  ASSERT_EQ(raised.size(), 1u);
  EXPECT_EQ(raised[0].unit, 2);
  EXPECT_EQ(raised[0].cell, 7);
  EXPECT_EQ(raised[0].limit, Limit::CellLow);
  EXPECT_TRUE(raised[0].raised);
  EXPECT_DOUBLE_EQ(raised[0].value, 1.85);
  EXPECT_TRUE(tracker->cellInAlarm(2, 7));
  EXPECT_FALSE(tracker->cellInAlarm(2, 8));
  EXPECT_EQ(tracker->unitsInAlarm(), std::vector<int>{2});

  // Staying beyond raises nothing more; back above the limit but within the margin keeps it.
  EXPECT_TRUE(read(2, 7, 1.7).empty());
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(read(2, 7, 1.91).empty()) << i;
  EXPECT_TRUE(tracker->cellInAlarm(2, 7));
  // Inside by the margin once, then a relapse: the count of good readings starts again.
  // Exactly the margin (1.92 V) counts as inside.
  EXPECT_TRUE(read(2, 7, 1.92).empty());
  EXPECT_TRUE(read(2, 7, 1.91).empty());
  EXPECT_TRUE(read(2, 7, 1.92).empty());
  const auto cleared = read(2, 7, 2.2);
  ASSERT_EQ(cleared.size(), 1u);
  EXPECT_FALSE(cleared[0].raised);
  EXPECT_DOUBLE_EQ(cleared[0].value, 2.2);
  EXPECT_FALSE(tracker->cellInAlarm(2, 7));
  EXPECT_TRUE(tracker->unitsInAlarm().empty());
}

TEST_F(AlarmDebounce, aNoisyCellAroundItsLimitDoesNotFlap) {
  limit(Limit::CellHigh, 2.4);
  int changes = 0;
  for (int i = 0; i < 20; ++i) changes += static_cast<int>(read(1, 1, i % 2 ? 2.41 : 2.39).size());
  EXPECT_EQ(changes, 0) << "never two readings in a row beyond";
  for (int i = 0; i < 20; ++i) changes += static_cast<int>(read(1, 1, i % 2 ? 2.41 : 2.42).size());
  EXPECT_EQ(changes, 1) << "raised once, and chatter just under the limit does not clear it";
  for (int i = 0; i < 20; ++i) changes += static_cast<int>(read(1, 1, i % 2 ? 2.39 : 2.41).size());
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(tracker->cellInAlarm(1, 1));
}

TEST_F(AlarmDebounce, totalAndSpreadAreJudgedPerUnit) {
  limit(Limit::TotalLow, 50.0);
  limit(Limit::Spread, 0.1);
  // 24 cells at 2.0 give 48 V; cell 5 at 1.85 gives a spread of 0.15.
  EXPECT_TRUE(read(4, 5, 1.85, 24, 2.0).empty());
  const auto raised = read(4, 5, 1.85, 24, 2.0);
  ASSERT_EQ(raised.size(), 2u);
  EXPECT_EQ(raised[0].limit, Limit::TotalLow);
  EXPECT_EQ(raised[0].cell, 0);
  EXPECT_EQ(raised[1].limit, Limit::Spread);
  EXPECT_NEAR(raised[1].value, 0.15, 1e-12);
  EXPECT_TRUE(tracker->totalInAlarm(4));
  EXPECT_TRUE(tracker->spreadInAlarm(4));
  EXPECT_FALSE(tracker->cellInAlarm(4, 5)) << "no cell limit is set";
  EXPECT_EQ(tracker->activeCount(4), 2);
  EXPECT_FALSE(tracker->totalInAlarm(3));
}

// The total clears only half a volt back inside, both ways: a total hovering a few tenths
// inside its limit is still the same fault.
TEST_F(AlarmDebounce, aTotalAlarmClearsOnlyHalfAVoltInside) {
  limit(Limit::TotalLow, 48.0);
  limit(Limit::TotalHigh, 60.0);
  auto total = [&](int u, double v) {
    acquisition::CellRow cells;
    for (int i = 1; i <= 108; ++i) cells[i] = 2.25;
    std::vector<AlarmChange> out;
    tracker->reading(u, cells, 24, v, out);
    return out;
  };
  struct Case {
    int unit;
    double beyond, withinMargin, pastMargin;
  };
  for (const Case& c : {Case{1, 47.0, 48.4, 48.6}, Case{2, 61.0, 59.6, 59.4}}) {
    total(c.unit, c.beyond);
    ASSERT_EQ(total(c.unit, c.beyond).size(), 1u) << c.unit;
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(total(c.unit, c.withinMargin).empty()) << c.unit;
    EXPECT_TRUE(tracker->totalInAlarm(c.unit)) << c.unit;
    EXPECT_TRUE(total(c.unit, c.pastMargin).empty()) << c.unit;
    const auto cleared = total(c.unit, c.pastMargin);
    ASSERT_EQ(cleared.size(), 1u) << c.unit;
    EXPECT_FALSE(cleared[0].raised);
    EXPECT_FALSE(tracker->totalInAlarm(c.unit)) << c.unit;
  }
}

TEST_F(AlarmDebounce, cellsAboveTheAnnouncedCountAreNotRead) {
  limit(Limit::CellLow, 1.9);
  read(1, 30, 0.0, 24);
  EXPECT_TRUE(read(1, 30, 0.0, 24).empty());
  EXPECT_FALSE(tracker->cellInAlarm(1, 30));
}

TEST_F(AlarmDebounce, aCellAlarmAboveASmallerNewCountClears) {
  limit(Limit::CellLow, 1.9);
  read(1, 30, 1.7, 40);
  ASSERT_EQ(read(1, 30, 1.7, 40).size(), 1u);
  ASSERT_TRUE(tracker->cellInAlarm(1, 30));
  // The unit now reports 24 cells: cell 30 is no longer read, and its alarm is cleared once.
  const auto changes = read(1, 0, 0, 24);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].cell, 30);
  EXPECT_FALSE(changes[0].raised);
  EXPECT_FALSE(tracker->cellInAlarm(1, 30));
  EXPECT_EQ(tracker->activeCount(1), 0);
  EXPECT_TRUE(tracker->unitsInAlarm().empty());
  EXPECT_TRUE(read(1, 0, 0, 24).empty());
}

TEST_F(AlarmDebounce, limitsTakenOffOrMovedClearTheirAlarms) {
  limit(Limit::CellLow, 1.9);
  limit(Limit::TotalHigh, 100.0);
  read(3, 2, 1.5);
  read(3, 2, 1.5);
  ASSERT_TRUE(tracker->cellInAlarm(3, 2));
  Limits limits = tracker->limits();
  limits[Limit::CellLow].reset();
  std::vector<AlarmChange> cleared;
  tracker->setLimits(limits, cleared);
  ASSERT_EQ(cleared.size(), 1u);
  EXPECT_FALSE(cleared[0].raised);
  EXPECT_EQ(cleared[0].cell, 2);
  EXPECT_DOUBLE_EQ(cleared[0].value, 1.5);
  EXPECT_FALSE(tracker->cellInAlarm(3, 2));
  EXPECT_TRUE(tracker->unitsInAlarm().empty());
  // An unchanged set clears nothing.
  cleared.clear();
  tracker->setLimits(limits, cleared);
  EXPECT_TRUE(cleared.empty());
}

}  // namespace
