// A sampling run that fails must not end polling, and a database that stays broken must not
// raise a new error box at every sampling run.
#include "PollingStation.h"

#include <QDir>
#include <QFile>
#include <chrono>

#include "log/StationLog.h"
#include "store/core/FailureReminder.h"

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

// Lines of the station log that name a failed sampling run of `unit`.
int loggedFailures(const QString& folder, int unit) {
  QFile log(QDir(folder).filePath(QLatin1String(stationlog::kFileName)));
  if (!log.open(QIODevice::ReadOnly)) return 0;
  const QByteArray needle = QStringLiteral("unit %1 not stored").arg(unit).toUtf8();
  int n = 0;
  for (const QByteArray& line : log.readAll().split('\n'))
    if (line.contains("cellstation.store") && line.contains(needle)) ++n;
  return n;
}

struct StationLogInstalled {
  explicit StationLogInstalled(const QString& folder) { stationlog::install(folder); }
  ~StationLogInstalled() { stationlog::uninstall(); }
};

TEST_F(PollingStation, aFailingUnitCostsOnlyItsRowAndIsRemindedHourly) {
  open(QStringLiteral("60"), 3);
  StationLogInstalled log(folder.path());
  store::FailureReminder::Clock::time_point now{};
  form->sampleFailureReminder().setClock([&] { return now; });
  breakUnitTwo(db());
  clickStartStop();
  for (int u : {1, 2, 3}) ASSERT_EQ(tickAndRead(), u);  // the third tick runs the sampling
  ASSERT_EQ(errors().size(), 1);
  const QString failure = errors().front();
  EXPECT_TRUE(failure.contains(QStringLiteral("2号 (measure2)"))) << failure.toStdString();
  EXPECT_FALSE(failure.contains(QStringLiteral("measure1"))) << failure.toStdString();
  EXPECT_TRUE(form->Timer1->enabled()) << "polling stopped silently";
  EXPECT_TRUE(showsPolling());
  EXPECT_DOUBLE_EQ(form->polling->ElapsedSeconds, 0) << "the failed run counts as a run";
  EXPECT_EQ(db().rows(QStringLiteral("measure1")), 1);
  EXPECT_EQ(db().rows(QStringLiteral("measure3")), 1) << "units after the failing one keep their row";
  EXPECT_EQ(loggedFailures(folder.path(), 2), 1);

  // Polling goes on; the next run, a full period later, fails the same way: logged, no box.
  for (int u : {1, 2}) {
    ASSERT_EQ(tickAndRead(), u);
    EXPECT_EQ(db().rows(QStringLiteral("measure1")), 1) << "a retry at every tick";
  }
  now += std::chrono::minutes(59);
  ASSERT_EQ(tickAndRead(), 3);
  EXPECT_EQ(db().rows(QStringLiteral("measure3")), 2);
  EXPECT_EQ(errors().size(), 1);
  EXPECT_EQ(loggedFailures(folder.path(), 2), 2);

  // Still failing an hour after the box: the operator is reminded.
  now += std::chrono::minutes(1);
  for (int u : {1, 2, 3}) ASSERT_EQ(tickAndRead(), u);
  EXPECT_EQ(errors(), (QStringList{failure, failure}));
  EXPECT_EQ(loggedFailures(folder.path(), 2), 3);

  // Repaired: the next run stores a row for every unit, without a box.
  repairUnitTwo(db());
  for (int u : {1, 2, 3}) ASSERT_EQ(tickAndRead(), u);
  EXPECT_EQ(db().rows(QStringLiteral("measure2")), 1);
  EXPECT_EQ(db().rows(QStringLiteral("measure3")), 4);
  EXPECT_EQ(errors().size(), 2);

  // Broken again after a good run: the operator hears of it at once.
  db().exec(QStringLiteral("drop table measure2_lost"));
  for (int u : {1, 2, 3}) ASSERT_EQ(tickAndRead(), u);
  EXPECT_EQ(errors().size(), 3);
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
