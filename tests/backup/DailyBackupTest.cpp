// The daily backup in a real station folder: one whole copy a day, the newest 14 kept, the
// operator's own files left alone, a copy that fails its check never kept, and failures
// returned as text.
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <gtest/gtest.h>

#include "backup/core/DailyBackup.h"
#include "engine/Backup.h"
#include "support/StationFolder.h"

TEST(DailyBackup, OneCheckedCopyADayTheNewestFourteenKept) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 3);
  backup::DailyBackup daily(folder.path());
  const QDate first(2026, 11, 20);
  QDir().mkpath(folder.file(QStringLiteral("backup")));
  QFile mine(folder.file(QStringLiteral("backup/db1-before-upgrade.mdb")));
  ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
  mine.close();

  for (int d = 0; d < 16; ++d) {
    const backup::DailyBackup::Result r = daily.run(first.addDays(d));
    EXPECT_TRUE(r.written) << d;
    EXPECT_TRUE(r.failures.isEmpty()) << r.failures.join(QLatin1Char('\n')).toStdString();
  }
  // The same day again writes nothing.
  EXPECT_FALSE(daily.run(first.addDays(15)).written);
  const QStringList kept =
      QDir(folder.file(QStringLiteral("backup"))).entryList({QStringLiteral("db1-2*.mdb")}, QDir::Files, QDir::Name);
  ASSERT_EQ(kept.size(), 14);
  EXPECT_EQ(kept.front(), QStringLiteral("db1-20261122.mdb"));
  EXPECT_EQ(kept.back(), QStringLiteral("db1-20261205.mdb"));
  EXPECT_TRUE(QFile::exists(mine.fileName()));
  EXPECT_EQ(engine::integrityCheck(daily.fileFor(first.addDays(15))), QStringLiteral("ok"));
  // Nothing half written is left beside them.
  EXPECT_EQ(QDir(folder.file(QStringLiteral("backup"))).entryList(QDir::Files | QDir::Hidden).size(), 15);

  // A station folder whose database has gone: the failure comes back as text, nothing written.
  ASSERT_TRUE(QFile::remove(folder.file(QStringLiteral("db1.mdb"))));
  const backup::DailyBackup::Result failed = daily.run(first.addDays(16));
  EXPECT_FALSE(failed.written);
  ASSERT_EQ(failed.failures.size(), 1);
  EXPECT_TRUE(failed.failures.front().contains(QStringLiteral("db1.mdb"))) << failed.failures.front().toStdString();
  EXPECT_FALSE(QFile::exists(daily.fileFor(first.addDays(16))));
}

namespace {

// db1.mdb with an index that no longer matches its table (what a torn write or a bad sector
// leaves): the pages copy faithfully, the copy's integrity check finds the damage.
void damageAnIndex(const QString& file) {
  const QString name = QStringLiteral("damage");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(file);
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    for (const char* sql : {"CREATE TABLE note (a INTEGER, b INTEGER)", "CREATE INDEX noteA ON note (a)",
                            "INSERT INTO note VALUES (1, 100), (2, 200), (3, 300)", "PRAGMA writable_schema = ON",
                            "UPDATE sqlite_master SET sql = 'CREATE INDEX noteA ON note (b)' WHERE name = 'noteA'"})
      ASSERT_TRUE(q.exec(QString::fromLatin1(sql))) << sql << q.lastError().text().toStdString();
  }
  QSqlDatabase::removeDatabase(name);
}

}  // namespace

TEST(DailyBackup, ACopyThatFailsItsIntegrityCheckNeverTakesTheBackupsName) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 1);
  damageAnIndex(folder.file(QStringLiteral("db1.mdb")));
  ASSERT_NE(engine::integrityCheck(folder.file(QStringLiteral("db1.mdb"))), QStringLiteral("ok"));

  backup::DailyBackup daily(folder.path());
  const QDate day(2026, 12, 9);
  const backup::DailyBackup::Result r = daily.run(day);
  EXPECT_FALSE(r.written);
  ASSERT_EQ(r.failures.size(), 1);
  EXPECT_TRUE(r.failures.front().contains(QStringLiteral("integrity_check"))) << r.failures.front().toStdString();
  EXPECT_FALSE(QFile::exists(daily.fileFor(day)));
  // Nor is the rejected copy left under another name: the next day tries again from nothing.
  EXPECT_TRUE(QDir(folder.file(QStringLiteral("backup"))).entryList(QDir::Files | QDir::Hidden).isEmpty());
  EXPECT_TRUE(daily.due(day));
}
