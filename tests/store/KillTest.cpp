// Sampling killed at varied moments: every kill leaves a whole database and whole windows.
#include <signal.h>

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

#include "engine/TADOConnection.h"
#include "engine/Transaction.h"
#include "store/core/SamplingRun.h"
#include "store/core/Statements.h"
#include "support/StationFolder.h"

namespace {

constexpr int kUnits = 6;

// Fills units 1..6 with 476..481 rows, so runs cross the full-window boundary while killed.
void prefill() {
  engine::TADOConnection c;
  c.setConnectionString(QStringLiteral("Data Source=db1.mdb"));
  engine::Transaction t(c);
  acquisition::CellRow cells{};
  for (int u = 1; u <= kUnits; ++u) {
    c.Execute(store::createTable(u));
    for (int r = 0; r < 475 + u; ++r) c.Execute(store::insertSample(u, cells, u, r * store::kTimeStep));
  }
  t.commit();
}

struct Check {
  QString integrity;
  QStringList faults;
};

// Reads the file the way any SQL client would, with no engine in between.
Check inspect(const QString& path) {
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
        if (rows > 481 || rows < 475 + std::min(u, 5)) out.faults << t + QStringLiteral(" holds %1 rows").arg(rows);
        if (q.value(1).toInt() != rows) out.faults << t + QStringLiteral(" has repeated times");
        if (q.value(2).toInt() != 0) out.faults << t + QStringLiteral(" has times off the 0.05 steps");
        if (q.value(3).toDouble() != 0) out.faults << t + QStringLiteral(" starts at %1").arg(q.value(3).toDouble());
      }
    }
  }
  QSqlDatabase::removeDatabase(name);
  return out;
}

}  // namespace

TEST(KillDuringSampling, EveryKillLeavesWholeWindows) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), kUnits);
  prefill();
  int killedWhileRunning = 0;
  for (int round = 0; round < 24; ++round) {
    QProcess child;
    child.start(QStringLiteral(STORE_KILL_CHILD), {folder.path(), QString::number(kUnits)});
    ASSERT_TRUE(child.waitForStarted(10000));
    ASSERT_TRUE(child.waitForReadyRead(30000)) << child.readAllStandardError().toStdString();
    // Varied moments within and between runs.
    std::this_thread::sleep_for(std::chrono::microseconds(500 + (round * 7919) % 60000));
    const bool running = child.state() == QProcess::Running;
    if (running) {
      ++killedWhileRunning;
      ASSERT_EQ(::kill(static_cast<pid_t>(child.processId()), SIGKILL), 0);
    }
    ASSERT_TRUE(child.waitForFinished(30000));
    EXPECT_TRUE(child.exitStatus() == QProcess::CrashExit || !running) << child.readAllStandardError().toStdString();

    const Check check = inspect(folder.file(QStringLiteral("db1.mdb")));
    ASSERT_EQ(check.integrity, QStringLiteral("ok")) << "round " << round;
    ASSERT_TRUE(check.faults.isEmpty()) << "round " << round << ": " << check.faults.join(QStringLiteral("; ")).toStdString();
  }
  EXPECT_EQ(killedWhileRunning, 24);
}
