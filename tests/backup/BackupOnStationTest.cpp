// The backups of a running station, on the real window offscreen and a real db1.mdb: the daily
// backup taken at start and once a day, a failing one told once (one box, one event) however
// often it is retried, and 备份数据库… from the context menu copying on a thread of its own.
#include <QApplication>
#include <QContextMenuEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <gtest/gtest.h>

#include "app/BackupWiring.h"
#include "app/HealthWiring.h"
#include "app/Unit1.h"
#include "engine/Backup.h"
#include "support/StationFolder.h"
#include "toolkit/MessageBoxes.h"

namespace {

using Kind = toolkit::MessageBoxes::Kind;

template <typename Pred>
bool waitUntil(Pred done, int ms = 20000) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

class BackupOnStation : public ::testing::Test {
 protected:
  void open(backup::BackupService::Options options) {
    folder.makeDatabase(QStringLiteral("60"), 3);
    form = std::make_unique<TForm1>(boxes);
    form->show();
    ASSERT_TRUE(boxes.boxes.empty());
    health = attachHealth(*form);
    health->runMenu = [this](QMenu& menu, const QPoint&) {
      for (QAction* a : menu.actions())
        if (a->text() == menuChoice) a->trigger();
    };
    backups = attachBackups(*form, *health, options);
    backups->today = [this] { return today; };
    QObject::connect(backups.get(), &backup::BackupService::finished, [this](bool daily, const QString& failure) {
      (daily ? dailyEnded : byHandEnded) += 1;
      if (!failure.isEmpty()) ++failures;
    });
  }

  void TearDown() override {
    backups.reset();
    health.reset();
    if (form) form->close();
    form.reset();
  }

  void choose(const QString& entry) {
    menuChoice = entry;
    const QPoint at = form->Panel1->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, form->Panel1->mapToGlobal(at));
    QApplication::sendEvent(form->Panel1, &event);
  }

  QStringList dailyFiles() const {
    return QDir(folder.file(QStringLiteral("backup"))).entryList({QStringLiteral("db1-*.mdb")}, QDir::Files, QDir::Name);
  }

  StationFolder folder;
  toolkit::RecordingMessageBoxes boxes;
  std::unique_ptr<TForm1> form;
  std::unique_ptr<health::HealthMonitor> health;
  std::unique_ptr<backup::BackupService> backups;
  QDate today{2026, 12, 9};
  QString menuChoice;
  int dailyEnded = 0, byHandEnded = 0, failures = 0;
};

TEST_F(BackupOnStation, theDailyBackupIsTakenAtStartAndAgainWhenTheDateChanges) {
  open({.checkMs = 20, .retryMs = 0, .keep = 14});
  ASSERT_TRUE(waitUntil([&] { return dailyEnded == 1; }));
  EXPECT_EQ(dailyFiles(), QStringList{QStringLiteral("db1-20261209.mdb")});
  EXPECT_EQ(engine::integrityCheck(folder.file(QStringLiteral("backup/db1-20261209.mdb"))), QStringLiteral("ok"));
  // The same day again: nothing to do, nothing started.
  for (int i = 0; i < 3; ++i) {
    backups->checkDaily();
    EXPECT_FALSE(backups->busy());
  }
  today = today.addDays(1);
  ASSERT_TRUE(waitUntil([&] { return dailyEnded == 2; }));
  EXPECT_EQ(dailyFiles(), (QStringList{QStringLiteral("db1-20261209.mdb"), QStringLiteral("db1-20261210.mdb")}));
  EXPECT_EQ(failures, 0);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(BackupOnStation, aFailingDailyBackupIsToldOnceHoweverOftenItIsRetried) {
  // Something that is no folder stands where the backups go.
  QFile blocker(folder.file(QStringLiteral("backup")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  open({.checkMs = 20, .retryMs = 0, .keep = 14});
  ASSERT_TRUE(waitUntil([&] { return failures >= 3; }));
  ASSERT_EQ(boxes.texts(Kind::Error).size(), 1u);
  EXPECT_TRUE(boxes.texts(Kind::Error).front().contains(QStringLiteral("备份"))) << boxes.texts(Kind::Error).front().toStdString();
  ASSERT_TRUE(health->flushEvents());
  int recorded = 0;
  for (const auto& e : health->db().events()) recorded += e.kind == QStringLiteral("备份失败") ? 1 : 0;
  EXPECT_EQ(recorded, 1);

  // Once the way is clear the next try writes the day's backup, without another box.
  ASSERT_TRUE(QFile::remove(folder.file(QStringLiteral("backup"))));
  ASSERT_TRUE(waitUntil([&] { return dailyFiles().size() == 1; }));
  ASSERT_TRUE(waitUntil([&] { return !backups->busy(); }));
  EXPECT_EQ(boxes.texts(Kind::Error).size(), 1u);
}

TEST_F(BackupOnStation, backupByHandCopiesOnAThreadAndSaysWhereTo) {
  open({.checkMs = 3600000, .retryMs = 0, .keep = 14});
  ASSERT_TRUE(waitUntil([&] { return dailyEnded == 1; }));

  QString path = folder.file(QStringLiteral("mine.mdb"));
  QString suggested;
  backups->askSavePath = [&](const QString& s) {
    suggested = s;
    return path;
  };
  choose(QStringLiteral("备份数据库…"));
  EXPECT_TRUE(suggested.endsWith(QStringLiteral(".mdb"))) << suggested.toStdString();
  // The menu has returned before the copy ended: the window did not wait for it.
  EXPECT_TRUE(backups->busy());
  EXPECT_TRUE(boxes.boxes.empty());
  ASSERT_TRUE(waitUntil([&] { return byHandEnded == 1; }));
  EXPECT_EQ(boxes.texts(Kind::Plain), QStringList{QStringLiteral("备份完成：%1").arg(QDir::toNativeSeparators(path))});
  EXPECT_EQ(engine::integrityCheck(path), QStringLiteral("ok"));

  // No file chosen: nothing happens.
  path.clear();
  choose(QStringLiteral("备份数据库…"));
  EXPECT_FALSE(backups->busy());

  // A folder that is not there: the failure in the error box, nothing written.
  boxes.clear();
  path = folder.file(QStringLiteral("gone/mine.mdb"));
  choose(QStringLiteral("备份数据库…"));
  ASSERT_TRUE(waitUntil([&] { return byHandEnded == 2; }));
  ASSERT_EQ(boxes.texts(Kind::Error).size(), 1u);
  EXPECT_TRUE(boxes.texts(Kind::Error).front().contains(QDir::toNativeSeparators(folder.file(QStringLiteral("gone")))))
      << boxes.texts(Kind::Error).front().toStdString();
  EXPECT_TRUE(boxes.texts(Kind::Plain).isEmpty());
  EXPECT_FALSE(QFile::exists(path));
}

}  // namespace
