// Sample tables: exact times through any number of shifts, and the same table as any SQL
// client sees it.
#include <QSqlRecord>
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "engine/Transaction.h"

using engine::TADOConnection;
using engine::TADOQuery;

namespace {

// A small sample table of the station's shape: V1, V2, V and measureTime.
const QString kCreate = QStringLiteral("CREATE TABLE measure1 ( V1 double,V2 double,V double,measureTime double)");

QString timeText(int place) {
  // The insert writes C * 0.05 in the general format; "0.15" for C = 3.
  return QString::number(place * 0.05, 'g', 15);
}

QString insert(int place, double v = 3.795) {
  return QStringLiteral("insert into measure1 values (%1,0,245.6,%2)").arg(v).arg(timeText(place));
}

std::vector<double> times(TADOConnection& c) {
  TADOQuery q(c);
  q.setSQL(QStringLiteral("select measureTime from measure1 order by measureTime"));
  q.Open();
  std::vector<double> out;
  for (int i = 0; i < q.RecordCount(); ++i) out.push_back(q.value(i, QStringLiteral("measureTime")).toDouble());
  return out;
}

int count(TADOConnection& c, const QString& table = QStringLiteral("measure1")) {
  TADOQuery q(c);
  q.setSQL(QStringLiteral("select count(*) from ") + table);
  q.Open();
  return q.Fields(0).AsInteger();
}

class TimeWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    folder.makeDatabase();
    c.setConnectionString(DatabaseFolder::connectionString());
    c.Execute(kCreate);
  }
  DatabaseFolder folder;
  TADOConnection c;
};

}  // namespace

TEST_F(TimeWindow, TimesStayExactThroughThousandsOfShifts) {
  constexpr int kRows = 480;
  // One transaction: the durability of each statement is not what this is about.
  engine::Transaction batch(c);
  for (int k = 0; k < kRows; ++k) c.Execute(insert(k));
  // The station's steady state: drop the oldest, shift, add at 23.95. Plain doubles would have
  // drifted off the multiples of 0.05 long before the end, and the drop would find nothing.
  for (int run = 0; run < 2000; ++run) {
    c.Execute(QStringLiteral("delete from measure1 where measureTime=0"));
    c.Execute(QStringLiteral("update measure1 set measureTime=measureTime-0.05"));
    c.Execute(insert(kRows - 1, run));
  }
  batch.commit();
  const std::vector<double> t = times(c);
  ASSERT_EQ(t.size(), std::size_t(kRows));
  for (int k = 0; k < kRows; ++k) ASSERT_EQ(t[std::size_t(k)], timeText(k).toDouble()) << "place " << k;
  // The newest row is the last one inserted.
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("select V1 from measure1 where measureTime=23.95"))
                .toDouble(),
            1999);
}

TEST_F(TimeWindow, AnySqlClientSeesTheDeclaredLayoutAndExactTimes) {
  for (int k = 0; k < 5; ++k) c.Execute(insert(k));
  c.Execute(QStringLiteral("update measure1 set measureTime=measureTime-0.05"));
  c.Close();

  const QString file = QStringLiteral("db1.mdb");
  EXPECT_EQ(folder.plainExec(file, QStringLiteral("select group_concat(name, ',') from pragma_table_info('measure1')"))
                .toString(),
            QStringLiteral("V1,V2,V,measureTime"));
  EXPECT_EQ(folder.plainExec(file, QStringLiteral("select count(*) from measure1 where measureTime in (-0.05,0,0.05,0.1,0.15)"))
                .toInt(),
            5);
  // Another client inserts through the view; the time keeps its place among the others.
  folder.plainExec(file, QStringLiteral("insert into measure1 values (1,2,3,0.2)"));
  EXPECT_EQ(folder.plainExec(file, QStringLiteral("select V from measure1 where measureTime=0.2")).toInt(), 3);
  EXPECT_THROW(folder.plainExec(file, QStringLiteral("insert into measure1 values (1,2,3,0.07)")), std::runtime_error);
  c.Open();
  EXPECT_EQ(count(c), 6);
}

TEST_F(TimeWindow, RefusesWhatWouldBreakTheWindow) {
  c.Execute(insert(0));
  EXPECT_EQ(engineErrorOf([&] { c.Execute(QStringLiteral("insert into measure1 values (1,2,3,0.07)")); }),
            QStringLiteral("measureTime in measure1 must be a multiple of 0.05"));
  EXPECT_EQ(engineErrorOf([&] { c.Execute(QStringLiteral("insert into measure1 values (1,2,0.05)")); }),
            QStringLiteral("table measure1 has 4 columns but 3 values were supplied"));
  EXPECT_FALSE(engineErrorOf([&] { c.Execute(QStringLiteral("update measure1 set measureTime=1 where V=245.6")); }).isEmpty());
  EXPECT_FALSE(engineErrorOf([&] { c.Execute(QStringLiteral("update measure1 set measureTime=measureTime-0.05 where V1=1")); })
                   .isEmpty());
  EXPECT_FALSE(engineErrorOf([&] { c.Execute(kCreate); }).isEmpty());  // already there
  EXPECT_EQ(count(c), 1);
  EXPECT_EQ(times(c), std::vector<double>{0});
}

TEST_F(TimeWindow, GeneralStatementsWorkOnTheVisibleColumns) {
  for (int k = 0; k < 6; ++k) c.Execute(insert(k, k));
  c.Execute(QStringLiteral("update measure1 set V2=V1*2 where measureTime>=0.2"));
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("select sum(V2) from measure1")).toInt(), 18);
  c.Execute(QStringLiteral("delete from measure1 where V1<2 or measureTime=0.25"));
  EXPECT_EQ(times(c), (std::vector<double>{0.1, 0.15, 0.2}));
  c.Execute(QStringLiteral("insert into measure1 (V1, measureTime) select 9, 0.3"));
  EXPECT_EQ(count(c), 4);
  // Duplicate times (an operator's own insert) are kept and dropped together.
  c.Execute(insert(2));
  c.Execute(QStringLiteral("delete from measure1 where measureTime=0.1"));
  EXPECT_EQ(times(c), (std::vector<double>{0.15, 0.2, 0.3}));
  c.Execute(QStringLiteral("delete * from measure1"));
  EXPECT_EQ(count(c), 0);
  // Dropped and made again: a fresh window at base 0.
  c.Execute(QStringLiteral("drop table measure1"));
  EXPECT_FALSE(c.GetTableNames().contains(QStringLiteral("measure1")));
  c.Execute(kCreate);
  c.Execute(insert(0));
  EXPECT_EQ(times(c), std::vector<double>{0});
}

TEST_F(TimeWindow, NamesKeepTheirLetterCase) {
  c.Execute(QStringLiteral("CREATE TABLE MEASURE3 ( V double,measureTime double)"));
  c.Execute(QStringLiteral("insert into measure3 values (1,0)"));
  c.Execute(QStringLiteral("update Measure3 set measureTime=measureTime-0.05"));
  EXPECT_TRUE(c.GetTableNames().contains(QStringLiteral("MEASURE3")));
  EXPECT_EQ(count(c, QStringLiteral("measure3")), 1);
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("select measureTime from MEASURE3")).toDouble(), -0.05);
}
