// The chart's ranges moved and jumped, the fitted axis, the gaps of an exact curve.
#include <gtest/gtest.h>

#include <QDateTime>
#include <cstdlib>
#include <ctime>

#include "trend/core/AxisFit.h"
#include "trend/core/TrendCurve.h"
#include "trend/core/TrendRange.h"
#include "trend/core/TrendTexts.h"

using namespace trend;

namespace {
constexpr qint64 kDay = 86400000;
}

TEST(TrendRange, MovesByItsLengthNeverPastNowAndJumpsToTheEndOfADay) {
  const qint64 now = QDateTime(QDate(2026, 3, 20), QTime(14, 5)).toMSecsSinceEpoch();
  TrendRange r;
  EXPECT_TRUE(r.isStoredDay());
  r.later(now);  // nothing later than now
  EXPECT_TRUE(r.isStoredDay());
  r.earlier(now);
  EXPECT_FALSE(r.isStoredDay());  // yesterday's 24 hours come from the record
  EXPECT_EQ(r.at(now).toMs, now - kDay);
  r.choose(Span::Week);
  r.earlier(now);
  r.earlier(now);
  EXPECT_EQ(r.at(now).fromMs, now - 21 * kDay);
  EXPECT_EQ(r.at(now).toMs, now - 14 * kDay);
  r.later(now);
  r.later(now);
  EXPECT_TRUE(r.endsNow());
  EXPECT_EQ(r.at(now).toMs, now);

  r.endWith(QDate(2026, 3, 3), now);
  EXPECT_EQ(r.at(now).toMs, QDateTime(QDate(2026, 3, 4), QTime(0, 0)).toMSecsSinceEpoch());
  r.endWith(QDate(2026, 3, 20), now);  // today is not over: ends now
  EXPECT_TRUE(r.endsNow());

  r.choose(Span::All);
  r.earlier(now);
  EXPECT_TRUE(r.endsNow());
  EXPECT_EQ(r.at(now, std::make_pair(now - 5 * kDay, now - kDay)).fromMs, now - 5 * kDay);
  EXPECT_GT(r.at(now, std::make_pair(now - 5 * kDay, now - kDay)).toMs, now - kDay);  // the last run inside
}

TEST(AxisFit, AFlatCellGetsMillivoltsNotSixteenVolts) {
  for (const double v : {2.2, 2.23, 13.8}) {
    const auto [lo, hi] = fitAxis(v, v, 0.01);
    EXPECT_LE(lo, v - 0.02);
    EXPECT_GE(hi, v + 0.02);
    EXPECT_LT(hi - lo, 0.5) << v;
  }
  const auto [lo, hi] = fitAxis(2.05, 2.41, 0.01);
  EXPECT_LT(lo, 2.05);
  EXPECT_GT(hi, 2.41);
  EXPECT_GT(lo, 1.9);
  EXPECT_LT(hi, 2.6);
  // Never below zero, also where the margin reaches under it.
  for (const auto& [low, high] : {std::pair{0.0, 0.05}, std::pair{0.004, 2.3}, std::pair{0.0, 0.0}})
    EXPECT_EQ(fitAxis(low, high, 0.01).first, 0.0) << low << " " << high;
  const auto [tlo, thi] = fitAxis(243.1, 271.5, 0.1);
  EXPECT_LT(tlo, 243.1);
  EXPECT_GT(thi, 271.5);
  EXPECT_LT(thi - tlo, 45);
}

TEST(TrendCurve, ExactSamplesBreakWhereARunIsMissingEnvelopesWhereAColumnIsEmpty) {
  // Runs every 180 s; one step of exactly twice that (a late run, none missing), then one of a
  // millisecond more.
  archive::Series exact;
  for (const qint64 t : {0, 180000, 540000, 720000, 1080001, 1260001}) exact.points.push_back({t, 2.0 + double(t) / 1e8});
  exact.samples = 6;
  TrendCurve c = trendCurve(exact);
  ASSERT_EQ(c.runs.size(), 2u);
  ASSERT_EQ(c.runs[0].size(), 4u);
  EXPECT_EQ(c.runs[0].back().x, 720000.0) << "the line stops at the last sample before the gap";
  EXPECT_EQ(c.runs[1].front().x, 1080001.0) << "and goes on at the first one after it";
  // A station polling every 300 s stores a run every 300 s: no gap between them.
  archive::Series slow;
  for (int i = 0; i < 10; ++i) slow.points.push_back({i * 300000, 2.2});
  EXPECT_EQ(trendCurve(slow).runs.size(), 1u);

  archive::Series band;
  band.exact = false;
  for (int i = 0; i < 5; ++i) band.columns.push_back({i * 1000, (i + 1) * 1000, i == 2 ? 0 : 3, 2.1, 2.2, 2.3});
  c = trendCurve(band);
  ASSERT_TRUE(c.condensed);
  ASSERT_EQ(c.runs.size(), 2u);
  EXPECT_EQ(c.runs[0].back().x, 1500.0);
  EXPECT_EQ(c.runs[1].front().x, 3500.0);
  EXPECT_EQ(c.runs[1].front().low, 2.1);
  EXPECT_EQ(c.runs[1].front().high, 2.3);
}

TEST(TimeAxis, SevenDaysEndingAnyMinuteHaveALabelAtEveryLocalMidnight) {
  const QByteArray old = qgetenv("TZ");
  qputenv("TZ", "America/New_York");  // a week over the clocks going forward (2026-03-08)
  tzset();
  const qint64 now = QDateTime(QDate(2026, 3, 12), QTime(5, 51)).toMSecsSinceEpoch();
  const Range r{now - 7 * kDay, now};
  const TimeAxis a = timeAxis(Span::Week, r);
  EXPECT_LE(a.fromMs, r.fromMs);
  EXPECT_GE(a.toMs, r.toMs);
  ASSERT_EQ(a.ticks, 9);
  for (int i = 0; i < a.ticks; ++i) {
    // QDateTimeAxis spreads its labels evenly; within the week's 23-hour day by an hour at most.
    const qint64 at = a.fromMs + (a.toMs - a.fromMs) * i / (a.ticks - 1);
    const QTime t = QDateTime::fromMSecsSinceEpoch(at).time();
    EXPECT_TRUE(t == QTime(0, 0) || std::abs(t.msecsSinceStartOfDay() - kDay / 2) > kDay / 2 - 3600001)
        << i << " " << t.toString().toStdString();
  }
  EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(a.fromMs).time(), QTime(0, 0));
  EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(a.toMs).time(), QTime(0, 0));
  // Other spans keep their range.
  EXPECT_EQ(timeAxis(Span::Month, r).fromMs, r.fromMs);
  if (old.isNull()) qunsetenv("TZ");
  else qputenv("TZ", old);
  tzset();
}
