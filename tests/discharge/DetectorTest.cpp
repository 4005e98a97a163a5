// Discharge detection on a 24-cell unit: T = 51.12 V, T + M = 51.6 V (2.13 and 0.02 V a cell),
// the maximum 60 minutes.
#include <gtest/gtest.h>

#include "discharge/core/Detector.h"

using namespace discharge;

namespace {

constexpr int kUnit = 4;
constexpr qint64 kMin = 60000;

Settings hourLong() {
  Settings s;
  s.maxMinutes = 60;
  return s;
}

/// Feeds totals (mV) one poll apart (10 s) from `t`; returns the outcomes.
std::vector<Outcome> feed(Detector& d, qint64& t, std::initializer_list<int> totals) {
  std::vector<Outcome> out;
  for (int mv : totals) {
    out.push_back(d.take({kUnit, t, mv >= 0, 24, mv}));  // -1: silent
    t += 10000;
  }
  return out;
}

int count(const std::vector<Outcome>& v, bool Outcome::*what) {
  int n = 0;
  for (const Outcome& o : v) n += o.*what ? 1 : 0;
  return n;
}

}  // namespace

TEST(Detector, noiseAboutEitherLineNeverFlipsTheStateAndAPairDoes) {
  Detector d(hourLong());
  qint64 t = 1000;
  // Chatter across T, never two lows in a row.
  auto o = feed(d, t, {51000, 51200, 51100, 51300, 51110, 54000});
  EXPECT_EQ(count(o, &Outcome::started), 0);
  EXPECT_EQ(d.state(kUnit), State::Idle);

  // A silence changes nothing: low, silent, low are two good lows in a row.
  const qint64 firstLow = t;
  o = feed(d, t, {51100, -1, 50000});
  ASSERT_TRUE(o[2].started);
  EXPECT_EQ(o[2].startMs, firstLow) << "the discharge begins at its first low reading";
  EXPECT_TRUE(o[2].record);
  EXPECT_EQ(o[2].startedBy, StartReason::Automatic);

  // Chatter across T + M (51.6 V) never ends it; every good reading is recorded.
  o = feed(d, t, {51700, 51500, 51700, 51600, 51700, 49000});
  EXPECT_EQ(count(o, &Outcome::ended), 0);
  EXPECT_EQ(count(o, &Outcome::record), 6);
  EXPECT_TRUE(d.discharging(kUnit));

  // A long poll cycle (80 s) between the two recovered readings: it ended at the first.
  const qint64 firstHigh = t;
  o = feed(d, t, {51700});
  EXPECT_TRUE(o[0].record) << "the first reading back up is its last sample";
  t += 70000;
  o = feed(d, t, {53000, 53000});
  ASSERT_TRUE(o[0].ended);
  EXPECT_EQ(o[0].endMs, firstHigh);
  EXPECT_EQ(o[0].endedBy, EndReason::Recovered);
  EXPECT_FALSE(o[0].record) << "the reading that confirms it lies after its end";
  EXPECT_FALSE(o[1].record);
  EXPECT_EQ(d.state(kUnit), State::Idle);
}

TEST(Detector, aTotalExactlyAtTheThresholdIsNotBelowItAndExactlyAtThresholdPlusMarginNotAbove) {
  Detector d(hourLong());
  qint64 t = 0;
  auto o = feed(d, t, {51120, 51120, 51120});
  EXPECT_EQ(count(o, &Outcome::started), 0);
  EXPECT_EQ(d.state(kUnit), State::Idle);
  o = feed(d, t, {51119, 51119});
  ASSERT_TRUE(o[1].started) << "a millivolt below it, twice, begins one";
  o = feed(d, t, {51600, 51600, 51600});
  EXPECT_EQ(count(o, &Outcome::ended), 0) << "exactly at T + M is not back above it";
  o = feed(d, t, {51601, 51601});
  EXPECT_TRUE(o[1].ended);
}

TEST(Detector, aSilentUnitPausesItsDischargeUntilItRecoversOrTheMaximumRunsOut) {
  Detector d(hourLong());
  qint64 t = 0;
  feed(d, t, {50000, 50000});
  const qint64 start = 0;
  // Silent for the rest of the hour: nothing ends, nothing is recorded.
  std::vector<Outcome> o;
  for (; t < start + 60 * kMin; t += 10000) o.push_back(d.take({kUnit, t, false, 0, 0}));
  EXPECT_EQ(count(o, &Outcome::ended) + count(o, &Outcome::record), 0);
  const Outcome late = d.take({kUnit, t, false, 0, 0});  // exactly at the maximum
  ASSERT_TRUE(late.ended);
  EXPECT_EQ(late.endMs, start + 60 * kMin);
  EXPECT_EQ(late.endedBy, EndReason::MaxTime);

  // Back, still low: no second discharge on the same low total until it has recovered twice.
  o = feed(d, t, {49000, 49000, 49000, 53000, 49000, 49000, 53000, 53000});
  EXPECT_EQ(count(o, &Outcome::started), 0);
  EXPECT_EQ(d.state(kUnit), State::Idle);
  o = feed(d, t, {49000, 49000});
  EXPECT_TRUE(o[1].started);
}

TEST(Detector, aStopAndStartOfPollingForgetsHalfStepsButNotTheDischarge) {
  Detector d(hourLong());
  qint64 t = 0;
  feed(d, t, {50000});
  d.pollingStarted();
  auto o = feed(d, t, {50000});
  EXPECT_FALSE(o[0].started) << "a low reading before the stop and one after are not two in a row";
  o = feed(d, t, {50000});
  ASSERT_TRUE(o[0].started);

  o = feed(d, t, {53000});
  d.pollingStarted();
  o = feed(d, t, {53000, 50000});
  EXPECT_FALSE(o[0].ended);
  EXPECT_TRUE(o[1].record);
  EXPECT_TRUE(d.discharging(kUnit));
}

TEST(Detector, aManualRecordingTakesOverAnAutomaticOneAndSuspendsDetectionAfterIt) {
  Detector d(hourLong());
  qint64 t = 0;
  feed(d, t, {50000, 50000});
  const Outcome take = d.startManual(kUnit, t);
  EXPECT_FALSE(take.started) << "one recording: the running one is taken over, not split";
  EXPECT_TRUE(take.takenOver);
  auto o = feed(d, t, {53000, 53000, 53000});
  EXPECT_EQ(count(o, &Outcome::ended), 0) << "a recording by hand ends only by hand";
  EXPECT_EQ(count(o, &Outcome::record), 3);
  const Outcome end = d.endManual(kUnit, t);
  ASSERT_TRUE(end.ended);
  EXPECT_EQ(end.endedBy, EndReason::Manual);
  EXPECT_FALSE(d.endManual(kUnit, t).ended);

  // A planned test on a floating string: starts at once, by hand; low readings after its end
  // begin nothing until the total has recovered.
  o = feed(d, t, {53000, 53000});
  const Outcome planned = d.startManual(kUnit, t);
  ASSERT_TRUE(planned.started);
  EXPECT_EQ(planned.startedBy, StartReason::Manual);
  feed(d, t, {50000, 48000});
  d.endManual(kUnit, t);
  o = feed(d, t, {48000, 48000, 48000});
  EXPECT_EQ(count(o, &Outcome::started), 0);
}
