// Sampling runs and clearing on a real station database.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "engine/Backup.h"
#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "engine/Transaction.h"
#include "store/core/SamplingRun.h"
#include "store/core/Statements.h"
#include "store/core/TableNames.h"
#include "support/StationFolder.h"

namespace {

class SamplingRun : public ::testing::Test {
 protected:
  void SetUp() override {
    folder.makeDatabase(QStringLiteral("5"), 12);
    connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db1.mdb"));
    for (int u = 1; u <= acquisition::kUnits; ++u) {
      for (int k = 1; k <= acquisition::kCells; ++k) tables.CellVoltage[u][k] = 3 + k / 1000.0;
      tables.TotalVoltage[u] = 200 + u;
    }
  }

  /// Gives unit's table `rows` rows at the places 0, 0.05, ...
  void fill(int unit, int rows) {
    engine::Transaction t(connection);
    if (!store::tableExists(connection, store::sampleTableName(unit))) connection.Execute(store::createTable(unit));
    for (int r = 0; r < rows; ++r)
      connection.Execute(store::insertSample(unit, tables.CellVoltage[unit], tables.TotalVoltage[unit], r * store::kTimeStep));
    t.commit();
  }

  std::vector<double> times(int unit) {
    query.setSQL(QStringLiteral("select measureTime from measure%1 order by measureTime").arg(unit));
    query.Open();
    std::vector<double> out;
    for (int i = 0; i < query.RecordCount(); ++i) out.push_back(query.value(i, QStringLiteral("measureTime")).toDouble());
    query.Close();
    return out;
  }
  double newest(int unit) { return times(unit).back(); }
  int rows(int unit) { return int(times(unit).size()); }
  double value(const QString& sql) {
    query.setSQL(sql);
    query.Open();
    const double v = query.Fields(0).value().toDouble();
    query.Close();
    return v;
  }

  StationFolder folder;
  engine::TADOConnection connection;
  engine::TADOQuery query{connection};
  acquisition::MeasurementTables tables;
};

std::vector<double> places(int from, int to) {
  std::vector<double> out;
  for (int k = from; k <= to; ++k) out.push_back(QString::number(k * 0.05, 'g', 15).toDouble());
  return out;
}

}  // namespace

TEST_F(SamplingRun, FirstRunCreatesTheTablesWithOneRowAtZero) {
  acquisition::MeasurementTables silent;  // units that never answered
  (void)store::storeRun(connection, query, 3, silent);
  for (int u = 1; u <= 3; ++u) EXPECT_EQ(times(u), std::vector<double>{0}) << u;
  EXPECT_FALSE(store::tableExists(connection, QStringLiteral("measure4")));
  EXPECT_EQ(value(QStringLiteral("select V1+V108+V from measure2")), 0);
  EXPECT_FALSE(query.Active());
}

TEST_F(SamplingRun, RowsCarryTheMeasurementTables) {
  tables.CellVoltage[2][1] = 3.795;
  tables.CellVoltage[2][108] = 16;
  (void)store::storeRun(connection, query, 2, tables);
  EXPECT_EQ(value(QStringLiteral("select V1 from measure2")), 3.795);
  EXPECT_EQ(value(QStringLiteral("select V108 from measure2")), 16);
  EXPECT_EQ(value(QStringLiteral("select V from measure2")), 202);
}

TEST_F(SamplingRun, ARowHoldsWhatItsStatementTextGivesOnEveryRun) {
  // Values whose nearest double has more digits than the statement text carries, a whole
  // number, a tiny one: the first run creates the table through the statements, the later
  // runs write to the table as it stands. Every run's row holds the same values.
  tables.CellVoltage[1][1] = 0.1 + 0.2;
  tables.CellVoltage[1][2] = 1.0 / 3;
  tables.CellVoltage[1][3] = 1.5e-7;
  tables.CellVoltage[1][4] = 2.25;
  tables.TotalVoltage[1] = 48;
  for (int run = 0; run < 3; ++run) ASSERT_TRUE(store::storeRun(connection, query, 1, tables).empty());
  EXPECT_EQ(value(QStringLiteral("select count(*) from (select distinct V1, V2, V3, V4, V5, V108, V, typeof(V1), "
                                 "typeof(V) from measure1)")),
            1);
  EXPECT_EQ(value(QStringLiteral("select V1 from measure1 where measureTime=0.1")), 0.3);
  EXPECT_EQ(value(QStringLiteral("select V from measure1 where measureTime=0.1")), 48);
  EXPECT_EQ(times(1), places(0, 2));
}

TEST_F(SamplingRun, TimesFollowTheRowCountAndTheWindowStaysAtADay) {
  fill(1, 3);
  fill(2, 479);
  fill(3, 480);
  fill(4, 481);
  (void)store::storeRun(connection, query, 4, tables);
  EXPECT_EQ(times(1), places(0, 3));  // new row at 0.15
  EXPECT_EQ(times(2), places(0, 479));  // new row at 23.95, now full
  EXPECT_EQ(times(3), places(0, 479));  // row at 0 dropped, shifted, new row at 23.95
  EXPECT_EQ(times(4), places(0, 480));  // a table above the window keeps its size
  for (int run = 0; run < 30; ++run) (void)store::storeRun(connection, query, 4, tables);
  EXPECT_EQ(times(3), places(0, 479));
  EXPECT_EQ(times(4), places(0, 480));
}

TEST_F(SamplingRun, RaisedUnitCountAddsTablesAndKeepsTheOthersGoing) {
  for (int u = 1; u <= 5; ++u) fill(u, 200);
  (void)store::storeRun(connection, query, 8, tables);
  for (int u = 1; u <= 5; ++u) EXPECT_EQ(newest(u), 10) << u;
  for (int u = 6; u <= 8; ++u) EXPECT_EQ(times(u), std::vector<double>{0}) << u;
  // A count above the tables kept stops at unit 99.
  (void)store::storeRun(connection, query, 250, tables);
  EXPECT_TRUE(store::tableExists(connection, QStringLiteral("measure99")));
}

TEST_F(SamplingRun, AFailingUnitCostsOnlyItsOwnRow) {
  fill(1, 10);
  fill(2, 480);
  fill(3, 10);
  fill(4, 480);
  // Unit 2's insert fails after its drop and shift have run, as a full disk would make it.
  connection.Execute(QStringLiteral(
      "CREATE TRIGGER refuse BEFORE INSERT ON cs_rows_measure2 BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"));
  const std::vector<store::UnitFailure> failed = store::storeRun(connection, query, 4, tables);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed.front().unit, 2);
  EXPECT_EQ(failed.front().text, QStringLiteral("磁盘已满：database or disk is full"));
  EXPECT_EQ(rows(1), 11);
  EXPECT_EQ(times(2), places(0, 479));  // neither dropped nor shifted
  EXPECT_EQ(rows(3), 11);                // the units after the failing one are stored too
  EXPECT_EQ(times(4), places(0, 479));
  EXPECT_EQ(value(QStringLiteral("select V from measure4 where measureTime=23.95")), 204);
  EXPECT_EQ(connection.TransactionLevel(), 0);
  EXPECT_FALSE(query.Active());
  EXPECT_EQ(store::failureText(failed),
            QStringLiteral("以下检测仪的采样数据未能保存：\n2号 (measure2)：磁盘已满：database or disk is full"));

  connection.Execute(QStringLiteral("DROP TRIGGER refuse"));
  EXPECT_TRUE(store::storeRun(connection, query, 4, tables).empty());
  EXPECT_EQ(times(2), places(0, 479));
  EXPECT_EQ(rows(3), 12);
}

TEST_F(SamplingRun, AFileReplacedDuringARunIsReportedAsSuch) {
  for (int u = 1; u <= 3; ++u) fill(u, 3);
  // Another program puts a different database in place while the run is between statements:
  // after unit 1's insert, and after the last unit's insert, just before the commit.
  for (const int replacedAfter : {2, 6}) {
    SCOPED_TRACE(replacedAfter);
    int statements = 0;
    connection.setStatementObserver([&](const QString&) {
      if (++statements != replacedAfter) return;
      QFile::remove(folder.file(QStringLiteral("old.mdb")));
      ASSERT_TRUE(QFile::rename(folder.file(QStringLiteral("db1.mdb")), folder.file(QStringLiteral("old.mdb"))));
      folder.makeDatabase(QStringLiteral("5"), 2);
    });
    try {
      (void)store::storeRun(connection, query, 3, tables);
      ADD_FAILURE() << "the run reported success";
    } catch (const engine::EDatabaseError& e) {
      EXPECT_TRUE(e.text().contains(QStringLiteral("was replaced while a transaction was open"))) << e.text().toStdString();
    }
    connection.setStatementObserver({});
    EXPECT_EQ(connection.TransactionLevel(), 0);
    EXPECT_FALSE(query.Active());
    // The new file got nothing of the run, and the next run starts it afresh.
    EXPECT_FALSE(store::tableExists(connection, QStringLiteral("measure1")));
    EXPECT_TRUE(store::storeRun(connection, query, 3, tables).empty());
    EXPECT_EQ(times(1), std::vector<double>{0});
    // The next round replaces this file in turn, its tables holding 1 row each.
    for (int u = 1; u <= 3; ++u) fill(u, 2);
  }
}

namespace {

// What a program that has nothing but a copy of db1.mdb sees: the sqlite3 client reading the
// copy read-only, in a folder of its own.
QString readCopyAlone(const QString& folder, const QString& sql) {
  QTemporaryDir elsewhere;
  const QString copy = elsewhere.filePath(QStringLiteral("db1.mdb"));
  if (!QFile::copy(QDir(folder).filePath(QStringLiteral("db1.mdb")), copy)) return QStringLiteral("copy failed");
  QProcess p;
  p.start(QStringLiteral("sqlite3"), {QStringLiteral("-readonly"), QStringLiteral("-bail"), copy, sql});
  if (!p.waitForFinished(30000)) return QStringLiteral("sqlite3 did not finish");
  return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
}

}  // namespace

TEST_F(SamplingRun, TheDatabaseFileAloneHoldsEveryRunAndEveryClearing) {
  fill(1, 5);
  for (int run = 0; run < 3; ++run) ASSERT_TRUE(store::storeRun(connection, query, 2, tables).empty());
  const QString counts = QStringLiteral("select (select count(*) from measure1) || ',' || (select count(*) from measure2)");
  // The station still has the file open: nothing of it may wait in a side file.
  EXPECT_EQ(readCopyAlone(folder.path(), counts), QStringLiteral("8,3"));
  EXPECT_EQ(readCopyAlone(folder.path(), QStringLiteral("pragma integrity_check")), QStringLiteral("ok"));
  store::clearSamples(connection, query, 1);
  EXPECT_EQ(readCopyAlone(folder.path(), counts), QStringLiteral("0,3"));
}

TEST_F(SamplingRun, RunsWaitingForTheirCheckpointAreInEveryBackupAndInTheFileAfterClosing) {
  connection.setCheckpointInterval(store::kRunsPerCheckpoint);
  fill(1, 5);
  for (int run = 0; run < 3; ++run) ASSERT_TRUE(store::storeRun(connection, query, 2, tables).empty());
  const QString counts = QStringLiteral("select (select count(*) from measure1) || ',' || (select count(*) from measure2)");
  // A copy as the daily backup and 备份数据库… make it, while the station has the file open.
  QTemporaryDir elsewhere;
  ASSERT_EQ(engine::backupDatabase(folder.file(QStringLiteral("db1.mdb")), elsewhere.filePath(QStringLiteral("db1.mdb"))),
            QString());
  EXPECT_EQ(readCopyAlone(elsewhere.path(), counts), QStringLiteral("8,3"));
  connection.Close();
  EXPECT_EQ(readCopyAlone(folder.path(), counts), QStringLiteral("8,3"));
  EXPECT_FALSE(QFile::exists(folder.file(QStringLiteral("db1.mdb-wal"))));
}

TEST_F(SamplingRun, ClearingEmptiesTheCountedTablesOnly) {
  for (int u = 1; u <= 4; ++u) fill(u, 5);
  store::clearSamples(connection, query, 3);
  for (int u = 1; u <= 3; ++u) EXPECT_EQ(rows(u), 0) << u;
  EXPECT_EQ(rows(4), 5);
  (void)store::storeRun(connection, query, 1, tables);
  EXPECT_EQ(times(1), std::vector<double>{0});
}

TEST_F(SamplingRun, ARowAnotherProgramAddsBetweenRunsIsCounted) {
  for (int run = 0; run < 2; ++run) ASSERT_TRUE(store::storeRun(connection, query, 1, tables).empty());
  QProcess client;
  client.setWorkingDirectory(folder.path());
  client.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), QStringLiteral("db1.mdb"),
                                           QStringLiteral("insert into measure1 (V, measureTime) values (7, 0.1)")});
  ASSERT_TRUE(client.waitForFinished(30000));
  ASSERT_EQ(client.exitCode(), 0) << client.readAllStandardError().toStdString();
  ASSERT_TRUE(store::storeRun(connection, query, 1, tables).empty());
  EXPECT_EQ(times(1), places(0, 3));  // the station's row after the other program's, not beside it
}

TEST_F(SamplingRun, AnotherProgramHoldingAReadTransactionCostsNoSample) {
  fill(1, 3);
  // A report script: opens the file, begins a transaction, reads, and waits with it open.
  QProcess reader;
  reader.start(QStringLiteral("python3"),
               {QStringLiteral("-c"),
                QStringLiteral("import sqlite3, sys\n"
                               "c = sqlite3.connect('db1.mdb', isolation_level=None)\n"
                               "c.execute('BEGIN')\n"
                               "print(c.execute('select count(*) from measure1').fetchone()[0], flush=True)\n"
                               "sys.stdin.read()\n"
                               "print(c.execute('select count(*) from measure1').fetchone()[0], flush=True)\n"
                               "c.execute('COMMIT')\n")});
  ASSERT_TRUE(reader.waitForReadyRead(30000)) << reader.readAllStandardError().toStdString();
  ASSERT_EQ(reader.readLine().trimmed(), QByteArray("3"));
  for (int run = 0; run < 3; ++run) {
    const auto failed = store::storeRun(connection, query, 2, tables);  // throws when the commit cannot be had
    EXPECT_TRUE(failed.empty());
  }
  EXPECT_EQ(rows(1), 6);
  EXPECT_EQ(rows(2), 3);
  // The reader's snapshot stood all along; it ends normally.
  reader.closeWriteChannel();
  ASSERT_TRUE(reader.waitForFinished(30000));
  EXPECT_EQ(reader.readAllStandardOutput().trimmed(), QByteArray("3"));
  EXPECT_EQ(reader.exitCode(), 0) << reader.readAllStandardError().toStdString();
}
