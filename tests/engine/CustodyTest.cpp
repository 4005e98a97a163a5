// The file under other programs: readers beside the station's writes, locks, damaged and
// replaced files, each told to the operator with a reason.
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "engine/DatabaseFile.h"
#include "engine/TADOConnection.h"
#include "engine/Transaction.h"

using engine::EDatabaseError;
using engine::TADOConnection;

namespace {

/// A second connection of this process holding the file's write lock until destroyed.
class WriteLock {
 public:
  explicit WriteLock(const QString& path) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    db.setDatabaseName(path);
    if (!db.open() || !QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE")))
      throw std::runtime_error("no write lock");
  }
  ~WriteLock() {
    {
      QSqlDatabase db = QSqlDatabase::database(name_, false);
      QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
      db.close();
    }
    QSqlDatabase::removeDatabase(name_);
  }

 private:
  QString name_ = QStringLiteral("write_lock");
};

}  // namespace

TEST(Custody, TheFileIsKeptInAWriteAheadLogThatIsGoneAfterClosing) {
  DatabaseFolder folder;
  folder.makeDatabase();
  const QString path = folder.file(QStringLiteral("db1.mdb"));
  {
    TADOConnection c;
    c.setConnectionString(DatabaseFolder::connectionString());
    c.Execute(QStringLiteral("update setting set secend=6"));
    EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("pragma journal_mode")).toString(),
              QStringLiteral("wal"));
    EXPECT_TRUE(QFileInfo::exists(path + QStringLiteral("-wal")));
    // A second connection of the station (the health record) still open: closing the engine
    // still leaves the file itself whole.
    engine::openDatabaseFile(QStringLiteral("second"), path);
    c.Close();
    QFile::copy(path, folder.file(QStringLiteral("alone.mdb")));
    EXPECT_EQ(folder.plainExec(QStringLiteral("alone.mdb"), QStringLiteral("select secend from setting")).toInt(), 6);
    QSqlDatabase::database(QStringLiteral("second"), false).close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("second"));
  EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-wal")));
  EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral("-shm")));
}

TEST(Custody, CommonFailuresGiveTheOperatorAReasonBeforeTheEnginesText) {
  DatabaseFolder folder;
  folder.makeDatabase();
  const QString path = folder.file(QStringLiteral("db1.mdb"));
  TADOConnection c;
  c.setConnectionString(DatabaseFolder::connectionString());
  c.Execute(QStringLiteral("select 1"));

  {  // another program holds the write lock longer than the station waits
    WriteLock lock(path);
    const QString text = engineErrorOf([&] { c.Execute(QStringLiteral("update setting set secend=8")); });
    EXPECT_EQ(text, QStringLiteral("数据库被其他程序锁定：database is locked"));
  }

  {  // replaced by rename while a run's transaction is open
    QFile::copy(path, folder.file(QStringLiteral("restored.mdb")));
    engine::Transaction t(c);
    c.Execute(QStringLiteral("update setting set secend=9"));
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::rename(folder.file(QStringLiteral("restored.mdb")), path));
    const QString text = engineErrorOf([&] { t.commit(); });
    EXPECT_TRUE(text.startsWith(QStringLiteral("数据库文件已被替换：'"))) << text.toStdString();
  }
  c.Close();

  {  // damaged: the header overwritten by another program
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.write(QByteArray(100, 'x'));
  }
  for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) QFile::remove(path + suffix);
  const QString text = engineErrorOf([&] { c.Open(); });
  EXPECT_TRUE(text.startsWith(QStringLiteral("数据库文件已损坏或不是数据库：'"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("file is not a database"))) << text.toStdString();
}

TEST(Custody, AFileReplacedWhileOpenIsNeverReadWithTheOldFilesLog) {
  DatabaseFolder folder;
  folder.makeDatabase();
  const QString path = folder.file(QStringLiteral("db1.mdb"));
  folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("CREATE TABLE filler (x)"));
  ASSERT_TRUE(QFile::copy(path, folder.file(QStringLiteral("restored.mdb"))));
  folder.plainExec(QStringLiteral("restored.mdb"), QStringLiteral("update setting set secend=42"));
  {
    TADOConnection c;
    c.setConnectionString(DatabaseFolder::connectionString());
    // Another connection of the station keeps the log from being removed at a close.
    engine::openDatabaseFile(QStringLiteral("health"), path);
    for (int i = 0; i < 20; ++i)
      c.Execute(QStringLiteral("insert into filler values (randomblob(3000))"));
    // A restore renames a copy into place while both are open.
    ASSERT_EQ(::rename(QFile::encodeName(folder.file(QStringLiteral("restored.mdb"))).constData(),
                       QFile::encodeName(path).constData()),
              0);
    c.Execute(QStringLiteral("update setting set measureTotal=13"));
    c.Close();
    QSqlDatabase::database(QStringLiteral("health"), false).close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("health"));
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("pragma integrity_check")).toString(),
            QStringLiteral("ok"));
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("select secend || ',' || measureTotal from setting"))
                .toString(),
            QStringLiteral("42.0,13"));
  EXPECT_EQ(folder.plainExec(QStringLiteral("db1.mdb"), QStringLiteral("select count(*) from filler")).toInt(), 0);
}
