// Sampling killed at varied moments: every kill leaves a whole database, whole windows, and a
// db1.mdb that opens on its own. Station-made tables, tables another program made with the
// plain create statement (killed while they are being taken over, too), and clearings. After a
// restart the archive holds every run the 24-hour tables hold.
#include <signal.h>

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include "archive/core/ArchiveReader.h"
#include "engine/TADOConnection.h"
#include "engine/Transaction.h"
#include "store/StoreThread.h"
#include "store/core/SamplingRun.h"
#include "store/core/Statements.h"
#include "support/LockHolder.h"
#include "support/StationFolder.h"

namespace {

constexpr int kUnits = 6;

void exec(QSqlQuery& q, const QString& sql) {
  if (!q.exec(sql)) throw std::runtime_error(q.lastError().text().toStdString());
}

// Fills units 1..6 with 476..481 rows, so runs cross the full-window boundary while killed:
// through the station's engine, or as plain tables through a connection of another program's.
void prefill(bool plainTables) {
  acquisition::CellRow cells{};
  if (!plainTables) {
    engine::TADOConnection c;
    c.setConnectionString(QStringLiteral("Data Source=db1.mdb"));
    engine::Transaction t(c);
    for (int u = 1; u <= kUnits; ++u) {
      c.Execute(store::createTable(u));
      for (int r = 0; r < 475 + u; ++r) c.Execute(store::insertSample(u, cells, u, r * store::kTimeStep));
    }
    t.commit();
    return;
  }
  const QString name = QStringLiteral("kill_client");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(QStringLiteral("db1.mdb"));
    if (!db.open()) throw std::runtime_error("cannot open db1.mdb");
    QSqlQuery q(db);
    exec(q, QStringLiteral("BEGIN"));
    for (int u = 1; u <= kUnits; ++u) {
      exec(q, store::createTable(u));
      for (int r = 0; r < 475 + u; ++r) exec(q, store::insertSample(u, cells, u, r * store::kTimeStep));
    }
    exec(q, QStringLiteral("COMMIT"));
  }
  QSqlDatabase::removeDatabase(name);
}

struct Check {
  QString integrity;
  QStringList faults;
};

// Reads the file the way any SQL client would, with no engine in between. Tables hold between
// minRows(u) and 481 rows at distinct exact multiples of 0.05, the oldest at 0.
Check inspect(const QString& path, const std::function<int(int)>& minRows) {
  Check out;
  const QString name = QStringLiteral("kill_check");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    if (!db.open()) {
      out.integrity = db.lastError().text();
    } else {
      QSqlQuery q(db);
      if (q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next()) out.integrity = q.value(0).toString();
      for (int u = 1; u <= kUnits; ++u) {
        const QString t = store::sampleTableName(u);
        if (!q.exec(QStringLiteral("select count(*), count(distinct measureTime), "
                                   "sum(measureTime <> round(measureTime*20)/20.0), min(measureTime) from ") + t) ||
            !q.next()) {
          out.faults << t + QStringLiteral(": ") + q.lastError().text();
          continue;
        }
        const int rows = q.value(0).toInt();
        if (rows > 481 || rows < minRows(u)) out.faults << t + QStringLiteral(" holds %1 rows").arg(rows);
        if (q.value(1).toInt() != rows) out.faults << t + QStringLiteral(" has repeated times");
        if (q.value(2).toInt() != 0) out.faults << t + QStringLiteral(" has times off the 0.05 steps");
        if (rows > 0 && q.value(3).toDouble() != 0) out.faults << t + QStringLiteral(" starts at %1").arg(q.value(3).toDouble());
      }
    }
  }
  QSqlDatabase::removeDatabase(name);
  return out;
}

// A copy of db1.mdb alone, as taken right after the kill (before anything recovers the file),
// opened read-only by the sqlite3 client in a folder of its own. Empty when it opens.
QString copyAloneOpens(const QString& folder) {
  QTemporaryDir elsewhere;
  const QString copy = elsewhere.filePath(QStringLiteral("db1.mdb"));
  if (!QFile::copy(folder + QStringLiteral("/db1.mdb"), copy)) return QStringLiteral("copy failed");
  QProcess p;
  p.start(QStringLiteral("sqlite3"),
          {QStringLiteral("-readonly"), QStringLiteral("-bail"), copy, QStringLiteral("select count(*) from sqlite_master;")});
  if (!p.waitForFinished(30000)) return QStringLiteral("sqlite3 did not finish");
  return p.exitCode() == 0 ? QString() : QString::fromUtf8(p.readAllStandardError());
}

// Starts the child `rounds` times and kills it at varied moments within and between runs.
void killRounds(StationFolder& folder, int rounds, const QStringList& extra, const std::function<void()>& beforeRound,
                const std::function<int(int)>& minRows) {
  int killedWhileRunning = 0;
  for (int round = 0; round < rounds; ++round) {
    beforeRound();
    QProcess child;
    child.start(QStringLiteral(STORE_KILL_CHILD), QStringList{folder.path(), QString::number(kUnits)} + extra);
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForReadyRead(30000)) << child.readAllStandardError().toStdString();
    std::this_thread::sleep_for(std::chrono::microseconds(500 + (round * 7919) % 60000));
    const bool running = child.state() == QProcess::Running;
    if (running) {
      ++killedWhileRunning;
      ASSERT_EQ(::kill(static_cast<pid_t>(child.processId()), SIGKILL), 0);
    }
    ASSERT_TRUE(child.waitForFinished(30000));
    EXPECT_TRUE(child.exitStatus() == QProcess::CrashExit || !running) << child.readAllStandardError().toStdString();

    EXPECT_EQ(copyAloneOpens(folder.path()), QString()) << "round " << round;
    const Check check = inspect(folder.file(QStringLiteral("db1.mdb")), minRows);
    ASSERT_EQ(check.integrity, QStringLiteral("ok")) << "round " << round;
    ASSERT_TRUE(check.faults.isEmpty()) << "round " << round << ": " << check.faults.join(QStringLiteral("; ")).toStdString();
  }
  EXPECT_EQ(killedWhileRunning, rounds);
}

int fullDay(int unit) { return 475 + std::min(unit, 5); }

// The totals of a unit's rows, oldest first, as any SQL client reads them.
std::vector<double> totals(const QString& path, int unit) {
  std::vector<double> out;
  const QString name = QStringLiteral("kill_totals");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    QSqlQuery q(db);
    if (db.open() && q.exec(QStringLiteral("select V from %1 order by measureTime").arg(store::sampleTableName(unit))))
      while (q.next()) out.push_back(q.value(0).toDouble());
  }
  QSqlDatabase::removeDatabase(name);
  return out;
}

// The totals of the unit's runs the archive holds, in mV, sorted.
std::vector<qint64> archivedTotals(const QString& folder, int unit) {
  archive::ArchiveReader reader(folder + QStringLiteral("/archive"));
  std::vector<qint64> out;
  for (const archive::StoredRun& r : reader.runs(unit, 0, std::numeric_limits<qint64>::max()))
    out.push_back(r.mv[archive::kTotalIndex]);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(KillDuringSampling, EveryKillLeavesWholeWindows) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), kUnits);
  prefill(false);
  killRounds(folder, 24, {}, [] {}, fullDay);
}

TEST(KillDuringSampling, TablesAnotherProgramMadeStayWholeWhileTakenOver) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), kUnits);
  prefill(true);
  const QString db = folder.file(QStringLiteral("db1.mdb"));
  const QString plain = folder.file(QStringLiteral("plain.template"));
  ASSERT_TRUE(QFile::copy(db, plain));
  int round = 0;
  // Every other round starts again from the plain tables, so kills land in their taking over.
  killRounds(folder, 20, {}, [&] {
    if (round++ % 2 != 0) return;
    // A file put in place goes without the killed run's side files (the log belongs to the
    // file it was written for).
    for (const char* side : {"-journal", "-wal", "-shm"}) QFile::remove(db + QLatin1String(side));
    ASSERT_TRUE(QFile::remove(db));
    ASSERT_TRUE(QFile::copy(plain, db));
  }, fullDay);
}

TEST(KillDuringSampling, AKilledClearingLeavesWholeTables) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), kUnits);
  prefill(false);
  killRounds(folder, 20, {QStringLiteral("clear")}, [] {}, [](int) { return 0; });
}

TEST(KillDuringSampling, AKillWhileRunsThatWaitedForALockAreWrittenKeepsEveryRowInOrderAndArchivesItAtRestart) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), kUnits);
  prefill(false);
  const QString db = folder.file(QStringLiteral("db1.mdb"));
  // What each unit's table must hold, oldest first: the prefilled rows (total u), then every
  // run written, each run whole or not at all, in the order taken.
  std::vector<std::vector<double>> expected(kUnits + 1);
  for (int u = 1; u <= kUnits; ++u) expected[static_cast<std::size_t>(u)].assign(static_cast<std::size_t>(475 + u), u);
  constexpr int kRuns = 60;
  int killedWhileRunning = 0;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    const int base = 1000 * (round + 1);
    // In the first round the archive cannot be written at all (a plain file where its folder
    // belongs): every run the child stores lives only in db1.mdb when it is killed.
    QFile blocker(folder.file(QStringLiteral("archive")));
    if (round == 0) {
      ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    LockHolder holder(folder.path());
    ASSERT_TRUE(holder.locked()) << holder.errors().toStdString();
    QProcess child;
    child.start(QStringLiteral(STORE_RETRY_CHILD), {folder.path(), QString::number(kUnits), QString::number(kRuns), QString::number(base)});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForReadyRead(30000)) << child.readAllStandardError().toStdString();
    ASSERT_EQ(child.readLine().trimmed(), QByteArray("delayed"));
    ASSERT_TRUE(holder.release()) << holder.errors().toStdString();
    std::this_thread::sleep_for(std::chrono::milliseconds(40 + round * 90));
    if (child.state() == QProcess::Running) {
      ++killedWhileRunning;
      ASSERT_EQ(::kill(static_cast<pid_t>(child.processId()), SIGKILL), 0);
    }
    ASSERT_TRUE(child.waitForFinished(30000));

    const Check check = inspect(db, fullDay);
    ASSERT_EQ(check.integrity, QStringLiteral("ok"));
    ASSERT_TRUE(check.faults.isEmpty()) << check.faults.join(QStringLiteral("; ")).toStdString();
    const std::vector<double> first = totals(db, 1);
    const auto written = std::count_if(first.begin(), first.end(), [base](double v) { return v > base; });
    for (int u = 1; u <= kUnits; ++u) {
      std::vector<double>& want = expected[static_cast<std::size_t>(u)];
      for (int r = 1; r <= written; ++r) {
        if (want.size() >= static_cast<std::size_t>(store::kWindowRows)) want.erase(want.begin());
        want.push_back(base + r);
      }
      EXPECT_EQ(totals(db, u), want) << "unit " << u << ", " << written << " runs written";
    }

    // The station starts again: every run of the 24-hour tables reaches the archive, once.
    if (round == 0) {
      ASSERT_TRUE(blocker.remove());
    }
    {
      store::StoreThread restarted;
      ASSERT_TRUE(restarted.waitIdle(std::chrono::seconds(60)));
    }
    for (int u = 1; u <= kUnits; ++u) {
      std::vector<qint64> runsInTables;
      for (double v : totals(db, u))
        if (v > 1000) runsInTables.push_back(std::llround(v * 1000));
      std::sort(runsInTables.begin(), runsInTables.end());
      EXPECT_EQ(archivedTotals(folder.path(), u), runsInTables) << "unit " << u;
    }
  }
  EXPECT_EQ(killedWhileRunning, 3);
}
