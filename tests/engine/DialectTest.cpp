#include <gtest/gtest.h>

#include "engine/Dialect.h"

using engine::parseStatement;
using Kind = engine::Statement::Kind;

TEST(Dialect, JetDeleteAllBecomesSqliteDelete) {
  const auto st = parseStatement(QStringLiteral("delete * from measure12"));
  EXPECT_EQ(st.kind, Kind::Delete);
  EXPECT_EQ(st.text, QStringLiteral("delete from measure12"));
  EXPECT_EQ(st.table, QStringLiteral("measure12"));
  EXPECT_TRUE(st.whereClause.isEmpty());
}

TEST(Dialect, ClausesAreFoundOutsideQuotesOnly) {
  const auto del = parseStatement(QStringLiteral("DELETE FROM t WHERE name='a where b'"));
  EXPECT_EQ(del.whereClause, QStringLiteral("name='a where b'"));
  const auto upd = parseStatement(QStringLiteral("update measure7 set measureTime=measureTime-0.05"));
  EXPECT_EQ(upd.kind, Kind::Update);
  EXPECT_EQ(upd.table, QStringLiteral("measure7"));
  EXPECT_EQ(upd.setClause, QStringLiteral("measureTime=measureTime-0.05"));
  EXPECT_TRUE(upd.whereClause.isEmpty());
  const auto upd2 = parseStatement(QStringLiteral("update t set a='x where' where (b=1)"));
  EXPECT_EQ(upd2.setClause, QStringLiteral("a='x where'"));
  EXPECT_EQ(upd2.whereClause, QStringLiteral("(b=1)"));
  // A quoted table name is left to SQLite as it stands.
  EXPECT_TRUE(parseStatement(QStringLiteral("delete from \"measure1\"")).table.isEmpty());
}

TEST(Dialect, RecognisesTheRowCountAndPlainInserts) {
  const auto count = parseStatement(QStringLiteral("select count(*) from measure3"));
  EXPECT_TRUE(count.countsAll);
  EXPECT_EQ(count.table, QStringLiteral("measure3"));
  EXPECT_FALSE(parseStatement(QStringLiteral("select count(*) from measure3 where V>1")).countsAll);
  EXPECT_FALSE(parseStatement(QStringLiteral("select count(V) from measure3")).countsAll);

  const auto ins = parseStatement(QStringLiteral("insert into measure7 values (3.795,0,-1.5e3,NULL,+2)"));
  EXPECT_EQ(ins.kind, Kind::Insert);
  EXPECT_EQ(ins.values, (QStringList{"3.795", "0", "-1.5e3", "NULL", "+2"}));
  // Anything but literals goes the general way.
  EXPECT_TRUE(parseStatement(QStringLiteral("insert into t values (1+1,2)")).values.isEmpty());
  EXPECT_TRUE(parseStatement(QStringLiteral("insert into t values ('1,2')")).values.isEmpty());
}

TEST(Dialect, ReadsPlainColumnDefinitionsOnly) {
  const auto st = parseStatement(QStringLiteral("CREATE TABLE measure1 ( V1 double,V double,measureTime double)"));
  ASSERT_EQ(st.kind, Kind::CreateTable);
  ASSERT_EQ(st.columns.size(), 3u);
  EXPECT_EQ(st.columns[0].name, QStringLiteral("V1"));
  EXPECT_EQ(st.columns[0].type, QStringLiteral("double"));
  EXPECT_EQ(st.columns[2].name, QStringLiteral("measureTime"));
  EXPECT_TRUE(parseStatement(QStringLiteral("create table t (a double default 1.5, b)")).columns.empty());
  EXPECT_EQ(parseStatement(QStringLiteral("create table t (a, b text)")).columns.size(), 2u);
  EXPECT_TRUE(parseStatement(QStringLiteral("create table t (a double check (a>0), b)")).columns.empty());
}

TEST(Dialect, ShiftAndLiteralForms) {
  EXPECT_EQ(engine::shiftSteps(QStringLiteral("measureTime=measureTime-0.05"), "measureTime", 0.05), 1);
  EXPECT_EQ(engine::shiftSteps(QStringLiteral(" MEASURETIME = measuretime - 0.15 "), "measureTime", 0.05), 3);
  EXPECT_EQ(engine::shiftSteps(QStringLiteral("measureTime=measureTime+0.05"), "measureTime", 0.05), -1);
  EXPECT_FALSE(engine::shiftSteps(QStringLiteral("measureTime=measureTime-0.07"), "measureTime", 0.05));
  EXPECT_FALSE(engine::shiftSteps(QStringLiteral("measureTime=V-0.05"), "measureTime", 0.05));
  EXPECT_FALSE(engine::shiftSteps(QStringLiteral("measureTime=measureTime-0.05,V=1"), "measureTime", 0.05));

  EXPECT_EQ(engine::numberLiteral(QStringLiteral("23.95")), 23.95);
  EXPECT_EQ(engine::numberLiteral(QStringLiteral("+.5")), 0.5);
  EXPECT_EQ(engine::numberLiteral(QStringLiteral("1.")), 1.0);
  for (const char* bad : {"", ".", "1e", "0x10", "1,5", "NaN", "inf", "1 2", "--1"})
    EXPECT_FALSE(engine::numberLiteral(QString::fromLatin1(bad))) << bad;
  EXPECT_EQ(engine::equalsNumber(QStringLiteral("measureTime=0"), "measureTime"), 0.0);
  EXPECT_FALSE(engine::equalsNumber(QStringLiteral("measureTime=0 or 1=1"), "measureTime"));
}
