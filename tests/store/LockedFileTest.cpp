// db1.mdb as the station meets it under other programs and a failing disk: sampling runs kept
// by another program's write lock or a full disk wait on the store's thread and arrive whole,
// in order, in the 24-hour tables and the archive, while the window's event loop carries on; a
// delay is in the event record while its box is still open; and a copy renamed over db1.mdb is
// never read with the old file's log.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>

#include "app/HealthWiring.h"
#include "app/StoreEvents.h"
#include "app/Unit1.h"
#include "archive/core/ArchiveReader.h"
#include "health/HealthMonitor.h"
#include "store/SampleWriter.h"
#include "store/StoreThread.h"
#include "support/LockHolder.h"
#include "support/StationFolder.h"
#include "toolkit/ArrowSpinBox.h"

namespace {

using namespace std::chrono_literals;
using Kind = toolkit::MessageBoxes::Kind;

template <typename Pred>
bool spinUntil(Pred done, int ms) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// A unit's column, oldest row first, as the station reads it.
QString column(TForm1& form, int unit, const QString& name) {
  engine::TADOQuery q(form.ADOConnection1);
  q.setSQL(QStringLiteral("select %1 from measure%2 order by measureTime").arg(name).arg(unit));
  q.Open();
  QStringList values;
  for (int r = 0; r < q.RecordCount(); ++r) values << q.value(r, name).toString();
  return values.join(QLatin1Char(','));
}

// The totals of the unit's runs in the archive of the current folder, in time order, in volts.
QString archivedTotals(int unit) {
  archive::ArchiveReader reader(QStringLiteral("archive"));
  QStringList out;
  for (const archive::StoredRun& r : reader.runs(unit, 0, std::numeric_limits<qint64>::max()))
    out << QString::number(archive::toVolts(r.mv[archive::kTotalIndex]));
  return out.join(QLatin1Char(','));
}

// What another program (python3's sqlite3) reads from db1.mdb in `folder`.
QString otherProgramReads(const QString& folder, const QString& sql) {
  QProcess p;
  p.setWorkingDirectory(folder);
  p.start(QStringLiteral("python3"), {QStringLiteral("-c"),
                                      QStringLiteral("import sqlite3, sys\n"
                                                     "c = sqlite3.connect('db1.mdb')\n"
                                                     "try:\n"
                                                     "    print(','.join(str(v) for v in c.execute(sys.argv[1]).fetchone()))\n"
                                                     "except Exception as e:\n"
                                                     "    print(e)\n"),
                                      sql});
  if (!p.waitForFinished(30000)) return QStringLiteral("python3 did not finish");
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed() + QString::fromUtf8(p.readAllStandardError()).trimmed();
}

// The modal error box as the window meets it: it stays open, its own event loop running,
// until whileOpen returns.
class ModalBoxes : public toolkit::RecordingMessageBoxes {
 public:
  std::function<void()> whileOpen;
  void error(QWidget* parent, const QString& text) override {
    RecordingMessageBoxes::error(parent, text);
    if (whileOpen) whileOpen();
  }
};

// A station folder on a disk of its own, 8 MiB (a tmpfs), made the working directory.
class SmallDisk {
 public:
  SmallDisk() : previous_(QDir::currentPath()) {
    if (::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0, "size=8m") != 0) {
      why_ = QString::fromLocal8Bit(std::strerror(errno));
      return;
    }
    mounted_ = true;
    QDir::setCurrent(dir_.path());
  }
  ~SmallDisk() {
    QDir::setCurrent(previous_);
    if (mounted_) ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const QString& why() const { return why_; }
  QString path() const { return dir_.path(); }
  /// Writes a filler file until the disk has no byte left.
  bool fill() {
    QFile f(dir_.filePath(QStringLiteral("filler")));
    if (!f.open(QIODevice::WriteOnly)) return false;
    const QByteArray block(4096, 'x');
    while (f.write(block) == block.size() && f.flush()) {
    }
    f.close();
    return QStorageInfo(dir_.path()).bytesAvailable() == 0;
  }
  bool free() { return QFile::remove(dir_.filePath(QStringLiteral("filler"))); }

 private:
  QString previous_;
  QTemporaryDir dir_;
  bool mounted_ = false;
  QString why_;
};

}  // namespace

TEST(LockedFile, RunsWaitForAWritersLockAndArriveInOrderWhileTheWindowRunsAndTheDelayIsRecordedBeforeItsBoxCloses) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 2);
  ModalBoxes boxes;
  TForm1 form(boxes);
  const auto health = attachHealth(form);
  noteStoreEvents(form, *health);
  form.show();
  store::StoreThread& thread = form.store.thread();
  store::StoreThread::Options options;
  options.retryEvery = 50ms;
  thread.setOptions(options);
  QStringList delays;
  QList<int> ends;
  int stored = 0;
  QObject::connect(&thread, &store::StoreThread::delayStarted, &form, [&](const QString& text) { delays << text; });
  QObject::connect(&thread, &store::StoreThread::delayEnded, &form, [&](int runs) { ends << runs; });
  QObject::connect(&thread, &store::StoreThread::runStored, &form, [&] { ++stored; });
  bool delayRecorded = false;
  QObject::connect(health.get(), &health::HealthMonitor::eventRecorded, &form, [&](const health::Event& e) {
    if (e.kind == health::EventKind::StoreDelayed) delayRecorded = true;
  });
  // The box stays open until the delay is in the record (or for long enough to know it will
  // not be while the box is open).
  bool recordedWhileBoxOpen = false;
  boxes.whileOpen = [&] { recordedWhileBoxOpen = spinUntil([&] { return delayRecorded; }, 15000); };
  form.polling->UnitCount = 2;  // as the start takes it
  const auto sample = [&](int run) {
    for (int u = 1; u <= 2; ++u) form.polling->tables.TotalVoltage[u] = run * 10 + u;
    form.polling->ElapsedSeconds = 180;
    form.StoreSamples();
    EXPECT_EQ(form.polling->ElapsedSeconds, 0) << "the run counts as taken at once";
  };
  sample(1);
  ASSERT_TRUE(form.store.waitIdle());

  LockHolder holder(folder.path());
  ASSERT_TRUE(holder.locked()) << holder.errors().toStdString();
  int spins = 0;
  QTimer zero;
  zero.setInterval(0);
  QObject::connect(&zero, &QTimer::timeout, [&] { ++spins; });
  zero.start();
  sample(2);
  ASSERT_TRUE(spinUntil([&] { return !boxes.texts(Kind::Error).isEmpty(); }, 30000));
  EXPECT_TRUE(recordedWhileBoxOpen) << "the delay waited for its box to close before it reached the event record";
  sample(3);
  sample(4);
  // One more lock wait of the engine's, so the run is tried again under the lock at least once.
  const int spinsWhileLocked = spins;
  spinUntil([] { return false; }, engine::kLockWaitMs + 500);
  EXPECT_GT(spins, spinsWhileLocked) << "the window's event loop stood still while the file was locked";
  EXPECT_EQ(stored, 1);
  ASSERT_TRUE(holder.release()) << holder.errors().toStdString();
  ASSERT_TRUE(form.store.waitIdle());

  // Every run's rows, in the order taken, at their places in the window.
  for (int u = 1; u <= 2; ++u) {
    EXPECT_EQ(column(form, u, QStringLiteral("V")), QStringLiteral("1%1,2%1,3%1,4%1").arg(u));
    EXPECT_EQ(column(form, u, QStringLiteral("measureTime")), QStringLiteral("0,0.05,0.1,0.15"));
  }
  EXPECT_EQ(stored, 4);
  ASSERT_EQ(delays.size(), 1);
  EXPECT_TRUE(delays.front().startsWith(QStringLiteral("数据库被其他程序锁定"))) << delays.front().toStdString();
  EXPECT_EQ(ends, QList<int>{3});
  EXPECT_EQ(boxes.texts(Kind::Error), delays) << "the delay is told once, in the failed run's box";
}

TEST(LockedFile, AFullDiskKeepsTheRunsUntilThereIsSpaceAndIsToldAtNoByteLeftWithoutARun) {
  SmallDisk disk;
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << disk.why().toStdString();
  {
    QProcess p;
    p.start(QStringLiteral("bash"), {QStringLiteral(CELLSTATION_SOURCE_DIR "/scripts/make-station-db.sh"), disk.path(),
                                     QStringLiteral("5"), QStringLiteral("1")});
    ASSERT_TRUE(p.waitForFinished(30000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
  }
  store::StoreThread::Options options;
  options.retryEvery = 50ms;
  options.diskCheckEvery = 100ms;
  options.lowDiskBytes = 1;  // low only with no byte left
  store::StoreThread thread(options);
  QList<std::pair<bool, QString>> told;
  QStringList delays;
  QList<int> ends;
  QObject::connect(&thread, &store::StoreThread::diskLow, [&](bool low, const QString& text) { told.append({low, text}); });
  QObject::connect(&thread, &store::StoreThread::delayStarted, [&](const QString& text) { delays << text; });
  QObject::connect(&thread, &store::StoreThread::delayEnded, [&](int runs) { ends << runs; });
  QStringList failures;
  QObject::connect(&thread, &store::StoreThread::runFailed, [&](const QString& text) { failures << text; });
  ASSERT_TRUE(thread.waitIdle(60s));  // db1.mdb is open, as in a running station
  acquisition::MeasurementTables tables;
  const qint64 t0 = 1'765'000'000'000;
  const auto run = [&](int r) {
    tables.TotalVoltage[1] = 50 + r;
    thread.enqueueRun(tables, 1, t0 + r * 180'000);
  };
  ASSERT_TRUE(told.isEmpty());

  ASSERT_TRUE(disk.fill());
  // Told on the disk check's own schedule, with no run written.
  ASSERT_TRUE(spinUntil([&] { return !told.isEmpty(); }, 30000));
  EXPECT_TRUE(told.front().first);
  EXPECT_TRUE(told.front().second.contains(QStringLiteral(" 0 MB "))) << told.front().second.toStdString();
  run(1);
  ASSERT_TRUE(spinUntil([&] { return !delays.isEmpty(); }, 30000)) << failures.join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(delays.front().startsWith(QStringLiteral("磁盘已满"))) << delays.front().toStdString();
  run(2);
  run(3);
  spinUntil([] { return false; }, 300);  // a few tries on the full disk
  ASSERT_TRUE(disk.free());
  ASSERT_TRUE(thread.waitIdle(60s));

  EXPECT_EQ(failures, QStringList());
  EXPECT_EQ(delays.size(), 1);
  EXPECT_EQ(ends, QList<int>{3});
  ASSERT_EQ(told.size(), 2);
  EXPECT_FALSE(told.back().first);
  // Every run in both stores, in order.
  engine::TADOConnection c;
  c.setConnectionString(QString::fromLatin1(store::kConnectionString));
  QStringList rows;
  for (const auto& row : c.Execute(QStringLiteral("select V from measure1 order by measureTime")).rows) rows << row.at(0).toString();
  c.Close();
  EXPECT_EQ(rows.join(QLatin1Char(',')), QStringLiteral("51,52,53"));
  EXPECT_EQ(archivedTotals(1), QStringLiteral("51,52,53"));
}

TEST(LockedFile, ACopyRenamedOverTheDatabaseIsReadWholeByAnotherProgramOnceTheStationNotices) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 2);
  QTemporaryDir other;
  {
    QProcess p;
    p.start(QStringLiteral("bash"), {QStringLiteral(CELLSTATION_SOURCE_DIR "/scripts/make-station-db.sh"), other.path(),
                                     QStringLiteral("7"), QStringLiteral("3")});
    ASSERT_TRUE(p.waitForFinished(30000) && p.exitCode() == 0) << p.readAllStandardError().toStdString();
  }
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  const auto health = attachHealth(form);
  noteStoreEvents(form, *health);
  form.show();
  ASSERT_EQ(form.SpinEdit1->value(), 2);
  // Runs leave pages of the station's file in its log.
  form.polling->UnitCount = 2;
  for (int run = 1; run <= 3; ++run) {
    for (int u = 1; u <= 2; ++u) form.polling->tables.TotalVoltage[u] = run * 10 + u;
    form.polling->ElapsedSeconds = 180;
    form.StoreSamples();
    ASSERT_TRUE(form.store.waitIdle());
  }
  ASSERT_GT(QFileInfo(folder.file(QStringLiteral("db1.mdb-wal"))).size(), 0);

  QSignalSpy noticed(&form.store.watch(), &store::ReplacementWatch::replaced);
  ASSERT_EQ(::rename(QFile::encodeName(other.filePath(QStringLiteral("db1.mdb"))).constData(),
                     QFile::encodeName(folder.file(QStringLiteral("db1.mdb"))).constData()),
            0);
  ASSERT_TRUE(noticed.wait(10000));
  // Another program reads the new file whole: nothing of the old file's log is read with it.
  EXPECT_EQ(otherProgramReads(folder.path(), QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
  EXPECT_EQ(otherProgramReads(folder.path(), QStringLiteral("select measureTotal from setting")), QStringLiteral("3"));
  // The station goes on with the new file.
  form.polling->tables.TotalVoltage[1] = 99;
  form.polling->ElapsedSeconds = 180;
  form.StoreSamples();
  ASSERT_TRUE(form.store.waitIdle());
  EXPECT_EQ(column(form, 1, QStringLiteral("V")), QStringLiteral("99"));
  EXPECT_EQ(otherProgramReads(folder.path(), QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
  EXPECT_TRUE(boxes.boxes.empty());
}
