#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "common/ConvertError.h"
#include "engine/TADOCommand.h"
#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "engine/Transaction.h"
#include "support/LogCapture.h"

using engine::EDatabaseError;
using engine::TADOConnection;
using engine::TADOQuery;

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

// The first bytes of an Access 2000 file: what an old station folder holds as db1.mdb.
QByteArray accessFile() {
  QByteArray bytes(4096, '\0');
  bytes.replace(0, 19, QByteArray("\x00\x01\x00\x00Standard Jet DB\x00", 20).left(19));
  for (int i = 100; i < bytes.size(); ++i) bytes[i] = char(i * 7);
  return bytes;
}

int scalar(TADOConnection& c, const QString& sql) {
  TADOQuery q(c);
  q.setSQL(sql);
  q.Open();
  return q.Fields(0).AsInteger();
}

}  // namespace

TEST(Connection, MissingFileFailsAtOpenAndIsNeverCreated) {
  DatabaseFolder folder;
  TADOConnection c;
  c.setConnectionString(DatabaseFolder::connectionString());
  const QString text = engineErrorOf([&] { c.Open(); });
  EXPECT_TRUE(text.startsWith(QStringLiteral("Could not find file"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("db1.mdb")));
  EXPECT_FALSE(c.Connected());
  // Every operation tries to open first and fails the same way.
  EXPECT_FALSE(engineErrorOf([&] { c.Execute(QStringLiteral("select 1")); }).isEmpty());
  EXPECT_FALSE(engineErrorOf([&] { c.GetTableNames(); }).isEmpty());
  EXPECT_FALSE(QFileInfo::exists(folder.file(QStringLiteral("db1.mdb"))));
}

TEST(Connection, FilesThatAreNoStationDatabaseAreRefusedAndLeftUntouched) {
  DatabaseFolder folder;
  const QString path = folder.file(QStringLiteral("db1.mdb"));
  // Another program's SQLite database, in its own (rollback) journal.
  folder.plainExec(QStringLiteral("other.db"), QStringLiteral("CREATE TABLE customer (name text)"));
  const QByteArray otherDatabase = readAll(folder.file(QStringLiteral("other.db")));
  for (const QByteArray& content : {accessFile(), QByteArray(), otherDatabase}) {
    {
      QFile f(path);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write(content);
    }
    TADOConnection c;
    c.setConnectionString(DatabaseFolder::connectionString());
    const QString text = engineErrorOf([&] { c.Open(); });
    EXPECT_TRUE(text.contains(QStringLiteral("db1.mdb")) && text.contains(QStringLiteral("database")))
        << text.toStdString();
    EXPECT_FALSE(engineErrorOf([&] { c.Execute(QStringLiteral("CREATE TABLE x (a)")); }).isEmpty());
    EXPECT_EQ(readAll(path), content);
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-wal")));
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-journal")));
  }
}

TEST(Connection, AFileThatAppearsLaterIsPickedUp) {
  DatabaseFolder folder;
  TADOConnection c;
  c.setConnectionString(DatabaseFolder::connectionString());
  EXPECT_FALSE(engineErrorOf([&] { c.Open(); }).isEmpty());
  folder.makeDatabase();
  EXPECT_EQ(scalar(c, QStringLiteral("select measureTotal from setting")), 12);
  EXPECT_TRUE(c.Connected());
}

TEST(Connection, AFileThatDisappearsOrTurnsReadOnlyGivesTheEngineError) {
  DatabaseFolder folder;
  folder.makeDatabase();
  const QString path = folder.file(QStringLiteral("db1.mdb"));
  TADOConnection c;
  c.setConnectionString(DatabaseFolder::connectionString());
  c.Execute(QStringLiteral("update setting set secend=7"));

  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
  EXPECT_EQ(engineErrorOf([&] { c.Execute(QStringLiteral("update setting set secend=8")); }),
            QStringLiteral("数据库文件为只读：attempt to write a readonly database"));
  EXPECT_EQ(scalar(c, QStringLiteral("select secend from setting")), 7);  // reading goes on
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);

  c.Close();  // the copy below must hold everything written so far
  ASSERT_TRUE(QFile::copy(path, folder.file(QStringLiteral("copy.mdb"))));
  c.Open();
  for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) QFile::remove(path + suffix);
  const QString text = engineErrorOf([&] { c.Execute(QStringLiteral("update setting set secend=9")); });
  EXPECT_TRUE(text.startsWith(QStringLiteral("Could not find file"))) << text.toStdString();
  EXPECT_FALSE(QFileInfo::exists(path));

  // A file put back in its place is the one used from then on.
  ASSERT_TRUE(QFile::rename(folder.file(QStringLiteral("copy.mdb")), path));
  c.Execute(QStringLiteral("update setting set secend=10"));
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("select secend from setting")).toInt(), 10);
}

TEST(Connection, TableListIsFreshAndHoldsViewsAndTheSystemTable) {
  DatabaseFolder folder;
  folder.makeDatabase();
  TADOConnection c;
  c.setConnectionString(DatabaseFolder::connectionString());
  EXPECT_TRUE(c.GetTableNames().contains(QStringLiteral("setting")));
  EXPECT_TRUE(c.GetTableNames().contains(QStringLiteral("sqlite_master")));
  // Made by another client while this connection is open.
  folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("CREATE VIEW MEASURE3 AS SELECT * FROM setting"));
  EXPECT_TRUE(c.GetTableNames().contains(QStringLiteral("MEASURE3")));
  c.Execute(QStringLiteral("drop view MEASURE3"));
  EXPECT_FALSE(c.GetTableNames().contains(QStringLiteral("MEASURE3")));
  // A table made inside a transaction that is rolled back is gone from the list again.
  {
    engine::Transaction t(c);
    c.Execute(QStringLiteral("create table temp1 (a)"));
    EXPECT_TRUE(c.GetTableNames().contains(QStringLiteral("temp1")));
  }
  EXPECT_FALSE(c.GetTableNames().contains(QStringLiteral("temp1")));
}

TEST(Connection, EngineMessagesPassUnchanged) {
  DatabaseFolder folder;
  folder.makeDatabase();
  TADOConnection c;
  c.setConnectionString(DatabaseFolder::connectionString());
  EXPECT_EQ(engineErrorOf([&] { c.Execute(QStringLiteral("select count(*) from measure4")); }),
            QStringLiteral("no such table: measure4"));
  EXPECT_EQ(engineErrorOf([&] { c.Execute(QStringLiteral("update setting set nothere=1")); }),
            QStringLiteral("no such column: nothere"));
}

// Only sample tables (those with a time column) are taken into the windowed form; changing any
// other table, as every start of polling does with the settings, is no event worth a log line.
TEST(Connection, ChangingATableWithoutTimesLeavesItPlainAndLogsNothing) {
  DatabaseFolder folder;
  folder.makeDatabase();
  LogCapture log("cellstation.engine");
  TADOConnection c;
  c.setConnectionString(DatabaseFolder::connectionString());
  c.Execute(QStringLiteral("update setting set secend=2.5"));
  c.Execute(QStringLiteral("update setting set measureTotal=7"));
  EXPECT_TRUE(log.all().isEmpty()) << log.all().join('\n').toStdString();
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"),
                             QStringLiteral("select type from sqlite_master where name='setting'")).toString(),
            QStringLiteral("table"));
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("select measureTotal from setting")).toInt(), 7);
}

TEST(Connection, NestedTransactionsStandOrFallOnTheirOwn) {
  DatabaseFolder folder;
  folder.makeDatabase();
  TADOConnection c;
  c.setConnectionString(DatabaseFolder::connectionString());
  {
    engine::Transaction outer(c);
    c.Execute(QStringLiteral("update setting set secend=1"));
    {
      engine::Transaction inner(c);
      EXPECT_EQ(c.TransactionLevel(), 2);
      c.Execute(QStringLiteral("update setting set measureTotal=50"));
    }  // rolled back
    // Read inside the outer transaction, before anything writes the column again: the inner
    // change is gone and the outer one stands.
    const engine::ResultSet now = c.Execute(QStringLiteral("select secend, measureTotal from setting"));
    ASSERT_EQ(now.rows.size(), 1u);
    EXPECT_EQ(now.rows[0][0].toInt(), 1);
    EXPECT_EQ(now.rows[0][1].toInt(), 12);
    EXPECT_EQ(c.TransactionLevel(), 1);
    {
      engine::Transaction inner(c);
      c.Execute(QStringLiteral("update setting set measureTotal=60"));
      inner.commit();
    }
    outer.commit();
  }
  EXPECT_EQ(c.TransactionLevel(), 0);
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("select secend from setting")).toInt(), 1);
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("select measureTotal from setting")).toInt(), 60);
  {
    engine::Transaction outer(c);
    c.Execute(QStringLiteral("update setting set secend=2"));
  }
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("select secend from setting")).toInt(), 1);
  EXPECT_THROW(c.CommitTrans(), EDatabaseError);
}

TEST(Query, FieldsAreNullAwareAndConvert) {
  DatabaseFolder folder;
  folder.makeDatabase();
  TADOConnection c;
  c.setConnectionString(DatabaseFolder::connectionString());
  TADOQuery q(c);
  q.setSQL(QStringLiteral("select 5.0, 2.5, NULL, 'x', 12, 12.5, ' 7'"));
  EXPECT_FALSE(q.Active());
  EXPECT_THROW(q.Fields(0), EDatabaseError);  // closed
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), QStringLiteral("5"));
  EXPECT_EQ(q.Fields(0).AsInteger(), 5);
  EXPECT_EQ(q.Fields(1).AsString(','), QStringLiteral("2,5"));
  EXPECT_TRUE(q.Fields(2).IsNull());
  EXPECT_EQ(q.Fields(2).AsString(), QString());
  try {
    q.Fields(2).AsInteger();
    ADD_FAILURE() << "a null converted to an integer";
  } catch (const common::EConvertError& e) {
    EXPECT_STREQ(e.what(), "'' is not a valid integer value");
  }
  EXPECT_THROW(q.Fields(3).AsInteger(), common::EConvertError);
  EXPECT_EQ(q.Fields(4).AsInteger(), 12);
  EXPECT_THROW(q.Fields(5).AsInteger(), common::EConvertError);
  EXPECT_EQ(q.Fields(6).AsInteger(), 7);
  EXPECT_THROW(q.Fields(7), EDatabaseError);
  EXPECT_THROW(q.Fields(-1), EDatabaseError);
  // Setting a new text closes the query.
  q.setSQL(QStringLiteral("select * from setting where 0"));
  EXPECT_FALSE(q.Active());
  q.Open();
  EXPECT_EQ(q.RecordCount(), 0);
  EXPECT_THROW(q.Fields(0), EDatabaseError);  // no current record
  q.setSQL(QStringLiteral("select secend, measureTotal from setting"));
  q.Open();
  EXPECT_EQ(q.value(0, QStringLiteral("MEASURETOTAL")).toInt(), 12);
  EXPECT_THROW(q.value(0, QStringLiteral("nothere")), EDatabaseError);
  EXPECT_THROW(q.value(1, QStringLiteral("secend")), EDatabaseError);

  engine::TADOCommand cmd(c);
  cmd.setCommandText(QStringLiteral("update setting set measureTotal=3"));
  cmd.Execute();
  EXPECT_EQ(scalar(c, QStringLiteral("select measureTotal from setting")), 3);
}
