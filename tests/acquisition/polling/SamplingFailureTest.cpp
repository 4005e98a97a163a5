// A sampling run that fails must not end polling, and a database that stays broken must not
// raise a new error box at every sampling run.
#include "PollingStation.h"

namespace {

// Unit 2's sample table stands as a view over a table "measure2_lost" that does not exist: the
// station finds a table of that name, but every run fails on it, the same way each time.
void breakUnitTwo(StationDb db) {
  db.exec(QStringLiteral("create view measure2 as select * from measure2_lost"));
}

// Gives the view its table, and lets inserts through to it.
void repairUnitTwo(StationDb db) {
  QStringList columns, values;
  for (int k = 1; k <= 108; ++k) {
    columns << QStringLiteral("V%1 double").arg(k);
    values << QStringLiteral("new.V%1").arg(k);
  }
  columns << QStringLiteral("V double") << QStringLiteral("measureTime double");
  values << QStringLiteral("new.V") << QStringLiteral("new.measureTime");
  db.exec(QStringLiteral("create table measure2_lost (%1)").arg(columns.join(',')));
  db.exec(QStringLiteral("create trigger if not exists measure2_keep instead of insert on measure2 "
                         "begin insert into measure2_lost values (%1); end").arg(values.join(',')));
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
  repairUnitTwo(db());
  for (int u : {1, 2, 3}) ASSERT_EQ(tickAndRead(), u);
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 3);
  EXPECT_EQ(db().rows(QStringLiteral("measure2")), 1);
  EXPECT_EQ(db().rows(QStringLiteral("measure3")), 1);
  EXPECT_EQ(errors().size(), 1);

  // Broken again after a good run: the operator hears of it again.
  db().exec(QStringLiteral("drop table measure2_lost"));
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
