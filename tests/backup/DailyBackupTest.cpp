// The daily backup in a real station folder: one whole copy a day, the newest 14 kept, the
// operator's own files left alone, and failures returned as text.
#include <QDir>
#include <QFile>
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
