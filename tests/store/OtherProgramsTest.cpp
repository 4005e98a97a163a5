// db1.mdb as other programs meet it: the sqlite3 client writing through the sample tables,
// sample tables it made itself, and schema changes it makes while the station runs or between
// runs. The station's next run must store its rows where "select * from measureN" shows them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <ostream>

#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "store/core/SamplingRun.h"
#include "store/core/Statements.h"
#include "support/StationFolder.h"

// Readable failure messages for texts.
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

struct Client {
  int exitCode = -1;
  QString out, err;
};

// The sqlite3 command-line client on the station's db1.mdb, statements on its standard input.
Client sqlite3(const QString& folder, const QString& input) {
  QProcess p;
  p.setWorkingDirectory(folder);
  p.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), QStringLiteral("db1.mdb")});
  if (!p.waitForStarted(10000)) return {};
  p.write(input.toUtf8());
  p.closeWriteChannel();
  if (!p.waitForFinished(60000)) return {};
  return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).trimmed(),
          QString::fromUtf8(p.readAllStandardError()).trimmed()};
}

// The station's create statement under another name, as an operator would paste it.
QString plainCreate(const QString& name) {
  QString sql = store::createTable(1);
  sql.replace(QStringLiteral("measure1 "), name + QLatin1Char(' '));
  return sql + QLatin1Char(';');
}

// A check that holds for every sample table the station keeps: times are distinct, exact
// multiples of 0.05 from 0 on (as the insert's decimal text gives them), at most 481 rows.
// One line per table with a fault; empty when all hold.
QString windowFaults(const QString& folder, const QStringList& tables) {
  QStringList parts;
  for (const QString& t : tables)
    parts << QStringLiteral("select '%1', count(*) as n, count(distinct measureTime) as d, "
                            "sum(measureTime <> round(measureTime*20)/20.0) as off, min(measureTime) as low from %1")
                 .arg(t);
  const Client c = sqlite3(folder, QStringLiteral("select * from (%1) where n > 481 or d <> n or off <> 0 or "
                                                  "(n > 0 and low <> 0);")
                                       .arg(parts.join(QStringLiteral(" union all "))));
  return c.exitCode == 0 ? c.out : c.err;
}

class OtherPrograms : public ::testing::Test {
 protected:
  void SetUp() override {
    folder.makeDatabase(QStringLiteral("5"), 3);
    connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db1.mdb"));
    for (int u = 1; u <= acquisition::kUnits; ++u)
      for (int k = 1; k <= acquisition::kCells; ++k) tables.CellVoltage[u][k] = u + k / 1000.0;
  }

  /// One sampling run for units 1..units, each unit's total the run number.
  std::vector<store::UnitFailure> sample(int units) {
    ++runs;
    for (int u = 1; u <= units; ++u) tables.TotalVoltage[u] = runs;
    return store::storeRun(connection, query, units, tables);
  }
  QString ask(const QString& sql) {
    const Client c = sqlite3(folder.path(), sql);
    return c.exitCode == 0 ? c.out : QStringLiteral("error: ") + c.err;
  }

  StationFolder folder;
  engine::TADOConnection connection;
  engine::TADOQuery query{connection};
  acquisition::MeasurementTables tables;
  int runs = 0;
};

}  // namespace

TEST_F(OtherPrograms, WritesThroughASampleTableWorkAsOnAPlainTable) {
  for (int run = 0; run < 6; ++run) ASSERT_TRUE(sample(1).empty());
  // The same rows in a plain table of the sample-table layout, for comparison.
  ASSERT_EQ(ask(plainCreate(QStringLiteral("plain1")) + QStringLiteral("insert into plain1 select * from measure1;")),
            QString());

  QString csv;
  for (int line = 0; line < 2; ++line) {
    QStringList fields;
    for (int k = 1; k <= 109; ++k) fields << QString::number(k + line);
    fields << (line == 0 ? QStringLiteral("0.3") : QStringLiteral("0.35"));
    csv += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
  }
  QFile file(folder.file(QStringLiteral("rows.csv")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(csv.toUtf8());
  file.close();
  QStringList values;
  for (int k = 1; k <= 109; ++k) values << QStringLiteral("7");
  values << QStringLiteral("0.4");

  const QStringList statements{
      QStringLiteral("update $T set V1 = V1 + 100, V = 1 where measureTime >= 0.15;"),
      QStringLiteral("update $T set V2 = 0;"),
      QStringLiteral("delete from $T where V = 3;"),
      QStringLiteral("insert into $T (V1, V, measureTime) values (1.5, 2.5, 0.25);"),
      QStringLiteral("insert into $T values (%1);").arg(values.join(QLatin1Char(','))),
      QStringLiteral(".import --csv rows.csv $T"),
      // Rows alike but for their time, moved onto each other's places: each moves once.
      QStringLiteral("update $T set V1=0, V3=0, V=0 where measureTime < 0.15;"),
      QStringLiteral("update $T set measureTime = measureTime + 0.05 where measureTime < 0.1;"),
      QStringLiteral("delete from $T where measureTime = 0.35;"),
  };
  const QString dump = QStringLiteral("select * from $T order by measureTime, V1, V;");
  for (const QString& s : statements) {
    for (const QString& t : {QStringLiteral("measure1"), QStringLiteral("plain1")}) {
      const Client c = sqlite3(folder.path(), QString(s).replace(QStringLiteral("$T"), t));
      EXPECT_EQ(c.exitCode, 0) << t.toStdString() << ": " << s.toStdString() << ": " << c.err.toStdString();
    }
    EXPECT_EQ(ask(QString(dump).replace(QStringLiteral("$T"), QStringLiteral("measure1"))).toStdString(),
              ask(QString(dump).replace(QStringLiteral("$T"), QStringLiteral("plain1"))).toStdString())
        << "after " << s.toStdString();
  }
  EXPECT_EQ(ask(QStringLiteral("select count(*) from measure1;")), QStringLiteral("8"));

  // The layout as any client lists it: 110 columns in order, each value column a double.
  QStringList expected;
  for (int k = 1; k <= 108; ++k) expected << QStringLiteral("V%1|double").arg(k);
  expected << QStringLiteral("V|double") << QStringLiteral("measureTime|");
  EXPECT_EQ(ask(QStringLiteral("select name || '|' || type from pragma_table_info('measure1');")),
            expected.join(QLatin1Char('\n')));

  // A time that is no step is refused, from a file too, and nothing of it is stored.
  EXPECT_NE(sqlite3(folder.path(), QStringLiteral("update measure1 set measureTime = 0.07 where V = 7;")).exitCode, 0);
  EXPECT_EQ(ask(QStringLiteral("select count(*) from measure1 where measureTime = 0.4;")), QStringLiteral("1"));

  // The station carries on with the window as the client left it.
  ASSERT_TRUE(sample(1).empty());
  EXPECT_EQ(ask(QStringLiteral("select count(*) from measure1;")), QStringLiteral("9"));
  // Its row goes after the 8 kept, at 0.4, beside the client's own row there.
  EXPECT_EQ(ask(QStringLiteral("select count(*) from measure1 where measureTime = 0.4;")), QStringLiteral("2"));
}

TEST_F(OtherPrograms, TablesTheClientMadeKeepAnExactBoundedWindowAndEveryRow) {
  // measure1: the station's create statement and a full day at exact times; measure2: times computed in
  // floating point, as an operator's "k * 0.05" gives them; measure3: one short of full.
  const QString fill = QStringLiteral(
      "with recursive k(n) as (select 0 union all select n+1 from k where n < %2) "
      "insert into %1 (V1, V, measureTime) select n, n, %3 from k;");
  ASSERT_EQ(ask(plainCreate(QStringLiteral("measure1")) + plainCreate(QStringLiteral("measure2")) +
                plainCreate(QStringLiteral("measure3")) +
                fill.arg(QStringLiteral("measure1")).arg(479).arg(QStringLiteral("round(n*0.05, 2)")) +
                fill.arg(QStringLiteral("measure2")).arg(99).arg(QStringLiteral("n*0.05")) +
                fill.arg(QStringLiteral("measure3")).arg(478).arg(QStringLiteral("round(n*0.05, 2)"))),
            QString());
  ASSERT_TRUE(sample(3).empty());
  // Not one row lost by the first run: the full table lost its oldest, the others none.
  EXPECT_EQ(ask(QStringLiteral("select count(*), min(V1), max(V1) from measure1 where V1 = V;")),
            QStringLiteral("479|1.0|479.0"));
  EXPECT_EQ(ask(QStringLiteral("select count(*) from measure2;")), QStringLiteral("101"));
  EXPECT_EQ(ask(QStringLiteral("select count(*), max(measureTime) from measure3;")), QStringLiteral("480|23.95"));
  for (int run = 0; run < 40; ++run) ASSERT_TRUE(sample(3).empty()) << run;
  EXPECT_EQ(windowFaults(folder.path(), {QStringLiteral("measure1"), QStringLiteral("measure2"), QStringLiteral("measure3")}),
            QString());
  EXPECT_EQ(ask(QStringLiteral("select count(*) from measure1;")), QStringLiteral("480"));
  EXPECT_EQ(ask(QStringLiteral("select count(*) from measure2;")), QStringLiteral("141"));
  EXPECT_EQ(ask(QStringLiteral("select count(*) from measure3;")), QStringLiteral("480"));
  // The operator's rows moved down one place a run: the row made at 2.05 (41 runs ago) is at 0.
  EXPECT_EQ(ask(QStringLiteral("select V1 from measure1 where measureTime = 0;")), QStringLiteral("41.0"));
  EXPECT_EQ(ask(QStringLiteral("select measureTime from measure2 where V1 = 99;")), QStringLiteral("4.95"));
}

TEST_F(OtherPrograms, ATableTheClientMadeWithTimesOffTheStepsStaysPlainAndStillBounded) {
  const QString fill = QStringLiteral(
      "with recursive k(n) as (select 0 union all select n+1 from k where n < 479) "
      "insert into measure1 (V1, measureTime) select n, case when n = 7 then 0.33 else n*0.05 end from k;");
  ASSERT_EQ(ask(plainCreate(QStringLiteral("measure1")) + fill), QString());
  for (int run = 0; run < 12; ++run) ASSERT_TRUE(sample(1).empty()) << run;
  EXPECT_EQ(ask(QStringLiteral("select type from sqlite_master where name = 'measure1';")), QStringLiteral("table"));
  // Every time but the odd row's is exact and the window holds; the odd row, never at 0, is
  // kept below it (it is the operator's) and takes one place more.
  EXPECT_EQ(ask(QStringLiteral("select count(*), count(distinct measureTime), "
                               "sum(measureTime <> round(measureTime*20)/20.0) from measure1;")),
            QStringLiteral("481|481|1"));
  EXPECT_EQ(ask(QStringLiteral("select min(measureTime), max(measureTime), count(*) from measure1 "
                               "where measureTime = round(measureTime*20)/20.0;")),
            QStringLiteral("0.0|24.0|480"));
  EXPECT_EQ(ask(QStringLiteral("select V1 from measure1 where measureTime < 0;")), QStringLiteral("7.0"));
}

namespace {

struct SchemaChange {
  const char* name;
  const char* sql;
};

// Every change leaves units 1 and 3 as they were and does something to unit 2.
const SchemaChange kChanges[] = {
    {"view dropped", "drop view measure2;"},
    {"view dropped, plain table made", "drop view measure2; CREATE_MEASURE2"},
    {"registry dropped", "drop table cs_window;"},
    {"registry emptied", "delete from cs_window;"},
    {"rows table dropped", "drop table cs_rows_measure2;"},
    {"hidden view dropped", "drop view cs_keyed_measure2;"},
    // As a database from before updates and deletes went through the views.
    {"update and delete triggers missing", "drop trigger cs_update_measure2; drop trigger cs_delete_measure2;"},
};

}  // namespace

TEST_F(OtherPrograms, SchemaChangesNeverLeaveTheRowsWhereNobodySeesThem) {
  for (const SchemaChange& change : kChanges) {
    for (const bool whileRunning : {true, false}) {
      SCOPED_TRACE(std::string(change.name) + (whileRunning ? ", station running" : ", between runs"));
      ASSERT_EQ(ask(QStringLiteral("drop view if exists measure1; drop view if exists measure2; "
                                   "drop view if exists measure3; drop table if exists measure2; "
                                   "drop table if exists cs_window;")),
                QString());
      connection.Close();
      for (int run = 0; run < 3; ++run) ASSERT_TRUE(sample(3).empty());
      if (!whileRunning) connection.Close();
      QString sql = QString::fromLatin1(change.sql);
      sql.replace(QStringLiteral("CREATE_MEASURE2"), plainCreate(QStringLiteral("measure2")));
      ASSERT_EQ(ask(QStringLiteral("select count(*) from measure2; ") + sql), QStringLiteral("3"));

      const std::vector<store::UnitFailure> failed = sample(3);
      for (const store::UnitFailure& f : failed) ADD_FAILURE() << f.unit << ": " << f.text.toStdString();
      // Units 1 and 3 go on where they were; unit 2's new row is where any client looks, and
      // any client may change the rows again.
      EXPECT_EQ(ask(QStringLiteral("select (select count(*) from measure1), (select count(*) from measure3), "
                                   "(select count(*) from measure2 where V = %1), (select max(measureTime) from measure1); "
                                   "pragma integrity_check; "
                                   "update measure2 set V1 = V1 + 1; delete from measure2 where V = -1;")
                        .arg(runs)),
                QStringLiteral("4|4|1|0.15\nok"));
      EXPECT_EQ(windowFaults(folder.path(), {QStringLiteral("measure1"), QStringLiteral("measure2"),
                                             QStringLiteral("measure3")}),
                QString());
      // And the next run too.
      ASSERT_TRUE(sample(3).empty());
      EXPECT_EQ(ask(QStringLiteral("select count(*) from measure2 where V = %1;").arg(runs)), QStringLiteral("1"));
    }
  }
}
