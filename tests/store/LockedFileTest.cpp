// db1.mdb as the station meets it while another program holds its write lock: a lock shorter
// than the lock wait is waited out within the run; a longer one keeps the runs on the store's
// thread, bounded, and they arrive whole, in order, once the lock is gone, while the window's
// event loop carries on; every unit of a run reaches the archive; and the archive's disk
// running low is told once.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QDeadlineTimer>
#include <QTimer>
#include <chrono>
#include <climits>

#include "app/Unit1.h"
#include "archive/core/ArchiveReader.h"
#include "store/StoreThread.h"
#include "support/LockHolder.h"
#include "support/StationFolder.h"

namespace {

using namespace std::chrono_literals;
using Kind = toolkit::MessageBoxes::Kind;

template <typename Pred>
bool spinUntil(Pred done, int ms) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// A unit's column, oldest row first, as the station reads it.
QString column(TForm1& form, int unit, const QString& name) {
  engine::TADOQuery q(form.ADOConnection1);
  q.setSQL(QStringLiteral("select %1 from measure%2 order by measureTime").arg(name).arg(unit));
  q.Open();
  QStringList values;
  for (int r = 0; r < q.RecordCount(); ++r) values << q.value(r, name).toString();
  return values.join(QLatin1Char(','));
}

// Column `name` of a unit's samples, oldest row first, as another program reads it.
QString storedColumn(const QString& file, int unit, const QString& name) {
  const QString connection = QStringLiteral("look");
  QStringList values;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(file);
    if (db.open()) {
      QSqlQuery q(db);
      if (q.exec(QStringLiteral("select %1 from measure%2 order by measureTime").arg(name).arg(unit)))
        while (q.next()) values << q.value(0).toString();
    }
  }
  QSqlDatabase::removeDatabase(connection);
  return values.join(QLatin1Char(','));
}

struct ThreadSignals {
  explicit ThreadSignals(store::StoreThread& thread) {
    QObject::connect(&thread, &store::StoreThread::delayStarted, [this](const QString& text) { delays << text; });
    QObject::connect(&thread, &store::StoreThread::runStored, [this] { ++stored; });
    QObject::connect(&thread, &store::StoreThread::runFailed, [this](const QString& text) { failures << text; });
  }
  QStringList delays, failures;
  int stored = 0;
};

}  // namespace

TEST(LockedFile, ALockShorterThanTheLockWaitIsWaitedOutInTheRunAndEveryUnitIsArchived) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 3);
  store::StoreThread::Options options;
  options.retryEvery = 10min;  // a run that needed a retry would not be written within the test
  store::StoreThread thread(options);
  ThreadSignals told(thread);
  acquisition::MeasurementTables tables;
  const qint64 t0 = 1'765'000'000'000;
  thread.enqueueRun(tables, 3, t0);  // the file is opened and in its journal mode before the lock
  ASSERT_TRUE(thread.waitIdle(60s));

  LockHolder holder(folder.path());
  ASSERT_TRUE(holder.locked()) << holder.errors().toStdString();
  for (int u = 1; u <= 3; ++u) tables.TotalVoltage[u] = 50 + u;
  thread.enqueueRun(tables, 3, t0 + 180'000);
  // The run meets the lock and waits in the engine; the lock goes well within that wait.
  spinUntil([] { return false; }, 1000);
  ASSERT_TRUE(holder.release()) << holder.errors().toStdString();
  ASSERT_TRUE(thread.waitIdle(60s)) << "the run was kept for a retry";
  EXPECT_TRUE(told.delays.isEmpty()) << told.delays.join('\n').toStdString();
  EXPECT_TRUE(told.failures.isEmpty()) << told.failures.join('\n').toStdString();
  EXPECT_EQ(told.stored, 2);
  EXPECT_EQ(storedColumn(folder.file(QStringLiteral("db1.mdb")), 3, QStringLiteral("V")), QStringLiteral("0,53"));

  // Every unit up to the unit count, the last one too, is in the long-term archive.
  archive::ArchiveReader reader(folder.file(QStringLiteral("archive")));
  for (int u = 1; u <= 3; ++u) {
    const std::vector<archive::StoredRun> runs = reader.runs(u, t0, t0 + 180'001);
    ASSERT_EQ(runs.size(), 2u) << "unit " << u;
    EXPECT_EQ(runs.back().timeMs, t0 + 180'000);
    EXPECT_EQ(runs.back().mv[archive::kTotalIndex], (50 + u) * 1000) << "unit " << u;
  }
  EXPECT_TRUE(reader.runs(4, t0, t0 + 180'001).empty()) << "no unit past the count";
}

TEST(LockedFile, PastTheBoundOnWaitingRunsExactlyTheOldestWaitingRunIsDropped) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 1);
  store::StoreThread::Options options;
  options.retryEvery = 50ms;
  options.maxWaiting = 3;
  store::StoreThread thread(options);
  ThreadSignals told(thread);
  acquisition::MeasurementTables tables;
  const auto enqueue = [&](int run) {
    tables.TotalVoltage[1] = run;
    thread.enqueueRun(tables, 1, 1'765'000'000'000 + run * 180'000);
  };
  LockHolder holder(folder.path());
  ASSERT_TRUE(holder.locked()) << holder.errors().toStdString();
  enqueue(1);
  ASSERT_TRUE(spinUntil([&] { return !told.delays.isEmpty(); }, 30000));
  // Run 1 is being tried; 2, 3 and 4 fill the waiting runs to the bound, 5 goes past it.
  for (int run = 2; run <= 5; ++run) enqueue(run);
  ASSERT_TRUE(holder.release()) << holder.errors().toStdString();
  ASSERT_TRUE(thread.waitIdle(60s));
  EXPECT_EQ(storedColumn(folder.file(QStringLiteral("db1.mdb")), 1, QStringLiteral("V")), QStringLiteral("1,3,4,5"));
  EXPECT_EQ(told.stored, 4);
}

TEST(LockedFile, RunsWaitForAWritersLockAndArriveInOrderWhileTheWindowRuns) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 2);
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.show();
  store::StoreThread& thread = form.store.thread();
  store::StoreThread::Options options;
  options.retryEvery = 50ms;
  thread.setOptions(options);
  QStringList delays;
  QList<int> ends;
  int stored = 0;
  QObject::connect(&thread, &store::StoreThread::delayStarted, &form, [&](const QString& text) { delays << text; });
  QObject::connect(&thread, &store::StoreThread::delayEnded, &form, [&](int runs) { ends << runs; });
  QObject::connect(&thread, &store::StoreThread::runStored, &form, [&] { ++stored; });
  form.polling->UnitCount = 2;  // as the start takes it
  const auto sample = [&](int run) {
    for (int u = 1; u <= 2; ++u) form.polling->tables.TotalVoltage[u] = run * 10 + u;
    form.polling->ElapsedSeconds = 180;
    form.StoreSamples();
    EXPECT_EQ(form.polling->ElapsedSeconds, 0) << "the run counts as taken at once";
  };
  sample(1);
  ASSERT_TRUE(form.store.waitIdle());

  LockHolder holder(folder.path());
  ASSERT_TRUE(holder.locked()) << holder.errors().toStdString();
  int spins = 0;
  QTimer zero;
  zero.setInterval(0);
  QObject::connect(&zero, &QTimer::timeout, [&] { ++spins; });
  zero.start();
  sample(2);
  ASSERT_TRUE(spinUntil([&] { return !delays.isEmpty(); }, 30000));
  sample(3);
  sample(4);
  // One more lock wait of the engine's, so the run is tried again under the lock at least once.
  const int spinsWhileLocked = spins;
  spinUntil([] { return false; }, engine::kLockWaitMs + 500);
  EXPECT_GT(spins, spinsWhileLocked) << "the window's event loop stood still while the file was locked";
  EXPECT_EQ(stored, 1);
  ASSERT_TRUE(holder.release()) << holder.errors().toStdString();
  ASSERT_TRUE(form.store.waitIdle());

  // Every run's rows, in the order taken, at their places in the window.
  for (int u = 1; u <= 2; ++u) {
    EXPECT_EQ(column(form, u, QStringLiteral("V")), QStringLiteral("1%1,2%1,3%1,4%1").arg(u));
    EXPECT_EQ(column(form, u, QStringLiteral("measureTime")), QStringLiteral("0,0.05,0.1,0.15"));
  }
  EXPECT_EQ(stored, 4);
  ASSERT_EQ(delays.size(), 1);
  EXPECT_TRUE(delays.front().startsWith(QStringLiteral("数据库被其他程序锁定"))) << delays.front().toStdString();
  EXPECT_EQ(ends, QList<int>{3});
  EXPECT_EQ(boxes.texts(Kind::Error), delays) << "the delay is told once, in the failed run's box";
}

TEST(LockedFile, TheArchiveDiskRunningLowIsToldOnce) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 1);
  store::StoreThread::Options options;
  options.lowDiskBytes = LLONG_MAX;  // any disk is low
  store::StoreThread thread(options);
  QList<std::pair<bool, QString>> told;
  QObject::connect(&thread, &store::StoreThread::diskLow, [&](bool low, const QString& text) { told.append({low, text}); });
  acquisition::MeasurementTables tables;
  for (int run = 0; run < 2; ++run) thread.enqueueRun(tables, 1, 1'765'000'000'000 + run * 180'000);
  ASSERT_TRUE(thread.waitIdle(60s));
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told.front().first);
  EXPECT_TRUE(told.front().second.contains(QStringLiteral(" MB "))) << told.front().second.toStdString();
}
