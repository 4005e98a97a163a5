// cellstation --backup as a script or cron runs it: no display, while sampling runs write the
// database in another process.
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include "engine/Backup.h"
#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "store/core/SamplingRun.h"
#include "support/StationFolder.h"

#ifndef CELLSTATION_PATH
#error "the process tests need CELLSTATION_PATH"
#endif

namespace {

constexpr int kUnits = 20;

QProcessEnvironment withoutDisplay() {
  auto env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(QString::fromLatin1(name));
  return env;
}

/// Row counts of measure1..measureN in a copy, read on a plain connection.
std::vector<int> rowCounts(const QString& path) {
  std::vector<int> counts;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copy"));
    db.setDatabaseName(path);
    if (db.open()) {
      QSqlQuery q(db);
      for (int u = 1; u <= kUnits; ++u)
        counts.push_back(q.exec(QStringLiteral("select count(*) from measure%1").arg(u)) && q.next() ? q.value(0).toInt() : -1);
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("copy"));
  return counts;
}

}  // namespace

TEST(BackupProcess, everyCopyTakenWhileRunsAreWrittenIsWholeAndHoldsWholeRuns) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), kUnits);
  engine::TADOConnection connection;
  connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db1.mdb"));
  engine::TADOQuery query(connection);
  acquisition::MeasurementTables tables;
  for (int u = 1; u <= kUnits; ++u) {
    for (int k = 1; k <= 24; ++k) tables.CellVoltage[u][k] = 2.2 + k / 1000.0;
    tables.TotalVoltage[u] = 53;
  }
  ASSERT_TRUE(store::storeRun(connection, query, kUnits, tables).empty());

  // Another folder, as cron would give: the file named is taken from there.
  QTemporaryDir elsewhere;
  int runs = 1;
  for (int round = 0; round < 12; ++round) {
    const QString name = QStringLiteral("copy%1.mdb").arg(round);
    QProcess p;
    p.setProcessEnvironment(withoutDisplay());
    p.setWorkingDirectory(elsewhere.path());
    p.start(QStringLiteral(CELLSTATION_PATH), {QStringLiteral("--backup"), name, QStringLiteral("--station"), folder.path()});
    ASSERT_TRUE(p.waitForStarted());
    // Runs go on while the copy is taken (at least one, whatever the timing).
    do {
      ASSERT_TRUE(store::storeRun(connection, query, kUnits, tables).empty());
      ++runs;
    } while (!p.waitForFinished(1));
    ASSERT_EQ(p.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QString copy = QDir(elsewhere.path()).filePath(name);
    EXPECT_EQ(engine::integrityCheck(copy), QStringLiteral("ok"));
    // A run is one transaction: every unit of a copy holds the same number of rows.
    const std::vector<int> counts = rowCounts(copy);
    ASSERT_EQ(counts.size(), std::size_t(kUnits));
    EXPECT_GE(counts.front(), 1);
    EXPECT_LE(counts.front(), runs);
    EXPECT_EQ(std::count(counts.begin(), counts.end(), counts.front()), kUnits) << "copy " << round;
  }
  for (const QString& side : {QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")})
    EXPECT_TRUE(QDir(elsewhere.path()).entryList({QStringLiteral("*") + side}).isEmpty());
}

TEST(BackupProcess, aFolderWithoutADatabaseIsRefusedWithItsReason) {
  StationFolder folder;
  QProcess p;
  p.setProcessEnvironment(withoutDisplay());
  p.start(QStringLiteral(CELLSTATION_PATH),
          {QStringLiteral("--backup"), folder.file(QStringLiteral("copy.mdb")), QStringLiteral("--station"), folder.path()});
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 1);
  const QString err = QString::fromUtf8(p.readAllStandardError());
  EXPECT_TRUE(err.contains(QStringLiteral("db1.mdb"))) << err.toStdString();
  EXPECT_FALSE(QFile::exists(folder.file(QStringLiteral("copy.mdb"))));
}
