// A sampling run that fails must not end polling, and a database that stays broken must not
// raise a new error box at every sampling run.
#include "PollingStation.h"

namespace {

// A table of unit 2 that the station can count but not insert into: every run fails there.
void breakUnitTwo(StationDb db) {
  // The station's own sample table may stand as a view over its rows.
  const QString kind = db.value(QStringLiteral("select type from sqlite_master where name='measure2'")).toString();
  if (!kind.isEmpty()) db.exec(QStringLiteral("drop %1 measure2").arg(kind));
  db.exec(QStringLiteral("create table measure2 (onlyOne double)"));
}

TEST_F(PollingStation, aFailedSamplingRunKeepsPollingAndIsReportedOnce) {
  open(QStringLiteral("60"), 3);
  breakUnitTwo(db());
  clickStartStop();
  for (int u : {1, 2, 3}) ASSERT_EQ(tickAndRead(), u);  // the third tick runs the sampling
  ASSERT_EQ(errors().size(), 1);
  const QString failure = errors().front();
  EXPECT_FALSE(failure.isEmpty());
  EXPECT_TRUE(form->Timer1->enabled()) << "polling stopped silently";
  EXPECT_TRUE(showsPolling());
  EXPECT_DOUBLE_EQ(form->ElapsedSeconds, 0) << "the failed run counts as a run";
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 1) << "units before the failing one keep their row";
  EXPECT_EQ(db().rows(QStringLiteral("measure3")), 0);

  // Polling goes on, and the next run, a full period later, fails the same way without a box.
  for (int u : {1, 2}) {
    ASSERT_EQ(tickAndRead(), u);
    EXPECT_EQ(db().rows(QStringLiteral("measure1")), 1) << "a retry at every tick";
  }
  ASSERT_EQ(tickAndRead(), 3);
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 2);
  EXPECT_EQ(errors().size(), 1);
  EXPECT_TRUE(form->Timer1->enabled());

  // Repaired: the next run stores a row for every unit, still without a box.
  db().exec(QStringLiteral("drop table measure2"));
  for (int u : {1, 2, 3}) ASSERT_EQ(tickAndRead(), u);
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 3);
  EXPECT_EQ(db().rows(QStringLiteral("measure2")), 1);
  EXPECT_EQ(db().rows(QStringLiteral("measure3")), 1);
  EXPECT_EQ(errors().size(), 1);

  // Broken again after a good run: the operator hears of it again.
  breakUnitTwo(db());
  for (int u : {1, 2, 3}) ASSERT_EQ(tickAndRead(), u);
  EXPECT_EQ(errors(), (QStringList{failure, failure}));
  EXPECT_TRUE(form->Timer1->enabled());
}

TEST_F(PollingStation, aRestartReportsAFailureThatPersistsAgain) {
  open(QStringLiteral("60"), 3);
  breakUnitTwo(db());
  clickStartStop();
  for (int t = 0; t < 3; ++t) ASSERT_GT(tickAndRead(), 0);
  ASSERT_EQ(errors().size(), 1);
  clickStartStop();
  clickStartStop();
  for (int t = 0; t < 3; ++t) ASSERT_GT(tickAndRead(), 0);
  EXPECT_EQ(errors().size(), 2);
}

}  // namespace
