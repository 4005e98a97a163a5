// Sample tables other programs made or changed, met by the station's next statements: what is
// taken over, what is repaired, and what the log says about it.
#include <QSqlDatabase>
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "engine/TADOConnection.h"
#include "engine/Transaction.h"
#include "support/LogCapture.h"

using engine::TADOConnection;

namespace {

class TakeOver : public ::testing::Test {
 protected:
  void SetUp() override {
    folder.makeDatabase();
    c.setConnectionString(DatabaseFolder::connectionString());
  }
  QVariant plain(const QString& sql) { return folder.plainExec(QStringLiteral("db1.mdb"), sql); }
  QVariant first(const QString& sql) {
    const engine::ResultSet rs = c.Execute(sql);
    return rs.rows.empty() ? QVariant() : rs.rows.front().front();
  }
  bool logged(const QString& part) {
    for (const QString& line : log.all())
      if (line.contains(part)) return true;
    return false;
  }

  DatabaseFolder folder;
  TADOConnection c;
  LogCapture log{"cellstation.engine"};
};

}  // namespace

TEST_F(TakeOver, APlainTableOfMoreThanADayKeepsItsNewestDayWhereTheViewShowsIt) {
  // 2000 samples, 0 to 99.95 h, V1 numbering them from the oldest.
  plain(QStringLiteral("CREATE TABLE measure3 (V1 double, V double, measureTime double)"));
  plain(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i < 1999) "
                       "INSERT INTO measure3 SELECT i, 50, i*0.05 FROM n"));
  // The station's shift of a full table: the oldest row goes, every time moves down one step.
  engine::Transaction t(c);
  c.Execute(QStringLiteral("delete from measure3 where measureTime=0"));
  c.Execute(QStringLiteral("update measure3 set measureTime=measureTime-0.05"));
  c.Execute(QStringLiteral("insert into measure3 (V1, V, measureTime) values (2000, 50, 23.95)"));
  t.commit();
  EXPECT_EQ(first(QStringLiteral("select count(*) from measure3")).toInt(), 480);
  EXPECT_EQ(first(QStringLiteral("select min(measureTime) from measure3")).toDouble(), 0.0);
  // The newest stored sample and the new one are on show, in order.
  EXPECT_EQ(first(QStringLiteral("select V1 from measure3 where measureTime=23.9")).toInt(), 1999);
  EXPECT_EQ(first(QStringLiteral("select V1 from measure3 where measureTime=23.95")).toInt(), 2000);
  EXPECT_EQ(first(QStringLiteral("select V1 from measure3 where measureTime=0")).toInt(), 1521);
  EXPECT_TRUE(logged(QStringLiteral("measure3: plain table taken into the windowed form with its newest day (times 0 "
                                    "to 23.95); 1520 older row(s) dropped")))
      << log.all().join(QLatin1Char('\n')).toStdString();
}

TEST_F(TakeOver, HiddenRowsTablesChangedByOtherProgramsAreRepairedOrNamedTruly) {
  for (const char* table : {"measure4", "measure5"}) {
    c.Execute(QStringLiteral("CREATE TABLE %1 (V1 double, V double, measureTime double)").arg(QLatin1String(table)));
    for (int i = 0; i < 3; ++i)
      c.Execute(QStringLiteral("insert into %1 values (%2, 50, %3)").arg(QLatin1String(table)).arg(i).arg(i * 0.05));
  }
  c.Close();
  plain(QStringLiteral("ALTER TABLE cs_rows_measure4 ADD COLUMN note TEXT"));
  plain(QStringLiteral("ALTER TABLE cs_rows_measure5 RENAME TO kept5"));

  // An extra column: the next insert still lands, with every earlier sample.
  c.Execute(QStringLiteral("insert into measure4 values (3, 50, 0.15)"));
  EXPECT_EQ(first(QStringLiteral("select count(*) from measure4")).toInt(), 4);
  EXPECT_EQ(first(QStringLiteral("select group_concat(V1) from (select V1 from measure4 order by measureTime)")).toString(),
            QStringLiteral("0.0,1.0,2.0,3.0"));
  EXPECT_TRUE(logged(QStringLiteral("measure4: its rows table had been changed by another program (column(s) note "
                                    "added, left out); rows copied into a fresh one, every sample kept")))
      << log.all().join(QLatin1Char('\n')).toStdString();
  // A plain client's insert through the view works too.
  plain(QStringLiteral("insert into measure4 values (4, 50, 0.2)"));
  EXPECT_EQ(first(QStringLiteral("select count(*) from measure4")).toInt(), 5);

  // Renamed: the log says where the rows went, and they are still there.
  c.Execute(QStringLiteral("insert into measure5 values (9, 50, 0)"));
  EXPECT_TRUE(logged(QStringLiteral("measure5: its rows table was renamed to kept5 by another program")))
      << log.all().join(QLatin1Char('\n')).toStdString();
  EXPECT_FALSE(logged(QStringLiteral("measure5: its rows table had been dropped")));
  EXPECT_EQ(plain(QStringLiteral("select count(*) from kept5")).toInt(), 3);
}

TEST_F(TakeOver, AColumnTypeHoldingSqlTextIsNeverSplicedIntoATable) {
  plain(QStringLiteral("CREATE TABLE measure6 (V1 \"double, extra TEXT CHECK(extra<>'x')\", V double, measureTime double)"));
  plain(QStringLiteral("INSERT INTO measure6 VALUES (1, 50, 0)"));
  // Every run's statements work on the table as it stands, run after run.
  for (int run = 0; run < 2; ++run) {
    engine::Transaction t(c);
    c.Execute(QStringLiteral("update measure6 set measureTime=measureTime-0.05"));
    c.Execute(QStringLiteral("insert into measure6 (V1, V, measureTime) values (2, 50, 0.05)"));
    t.commit();
  }
  EXPECT_EQ(first(QStringLiteral("select count(*) from measure6")).toInt(), 3);
  EXPECT_EQ(plain(QStringLiteral("select count(*) from sqlite_master where name like 'cs_rows_measure6'")).toInt(), 0);
  EXPECT_TRUE(logged(QStringLiteral("which is no plain type name"))) << log.all().join(QLatin1Char('\n')).toStdString();
}
