// The limits and the event record when db1.mdb is not there, held by another program, or
// replaced: limits read once the file is back (and never overwritten with empty boxes
// meanwhile), events kept in order until the database takes them, never written on the
// window's thread, and written into the file that is there now.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <mutex>

#include "HealthStation.h"
#include "engine/Backup.h"
#include "health/LimitsDialog.h"
#include "protocol/Frames.h"

namespace {

using health::Event;
using health::EventKind;
using health::Limit;

void feedReply(TForm1& form, int u, int lowCell) {
  std::vector<double> cells;
  double total = 0;
  for (int k = 1; k <= 24; ++k) {
    cells.push_back(k == lowCell ? 1.5 : 2.23 + 0.01 * std::sin(k * 0.7 + u));
    total += cells.back();
  }
  const auto frame = protocol::buildReply(static_cast<std::uint8_t>(u), total, cells);
  form.Comm1ReceiveData(form.Comm1, frame.data(), static_cast<std::uint16_t>(frame.size()));
}

/// Another program (Python's sqlite3) holding db1.mdb's write lock until released.
class ForeignWriteLock {
 public:
  explicit ForeignWriteLock(const QString& path) {
    python_.start(QStringLiteral("python3"),
                  {QStringLiteral("-c"), QStringLiteral("import sqlite3, sys\n"
                                                        "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                                                        "c.execute('BEGIN IMMEDIATE')\n"
                                                        "print('locked', flush=True)\n"
                                                        "sys.stdin.readline()\n"
                                                        "c.execute('COMMIT')\n"),
                   path});
    locked_ = python_.waitForReadyRead(20000) && python_.readLine().trimmed() == "locked";
  }
  ~ForeignWriteLock() { release(); }
  bool locked() const { return locked_; }
  void release() {
    if (python_.state() == QProcess::NotRunning) return;
    python_.write("\n");
    python_.closeWriteChannel();
    python_.waitForFinished(20000);
  }

 private:
  QProcess python_;
  bool locked_ = false;
};

/// The health category's warnings with the thread that logged them.
struct ThreadedLog {
  ThreadedLog() {
    self() = this;
    previous = qInstallMessageHandler(&ThreadedLog::handle);
  }
  ~ThreadedLog() {
    qInstallMessageHandler(previous);
    self() = nullptr;
  }
  static ThreadedLog*& self() {
    static ThreadedLog* log = nullptr;
    return log;
  }
  static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    ThreadedLog* log = self();
    if (!log || type != QtWarningMsg || !context.category || QByteArray(context.category) != "cellstation.health") return;
    std::lock_guard lock(log->mutex);
    log->lines.push_back({text, QThread::currentThread()});
  }
  std::vector<std::pair<QString, QThread*>> linesWith(const QString& text) {
    std::lock_guard lock(mutex);
    std::vector<std::pair<QString, QThread*>> found;
    for (const auto& l : lines)
      if (l.first.contains(text)) found.push_back(l);
    return found;
  }
  QtMessageHandler previous = nullptr;
  std::mutex mutex;
  std::vector<std::pair<QString, QThread*>> lines;
};

Event failure(const QString& detail) {
  Event e;
  e.kind = EventKind::SamplingFailed;
  e.detail = detail;
  return e;
}

QStringList storedDetails(const QString& path) {
  QStringList details;
  health::HealthDb db(path);
  const auto rows = db.events();
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) details << it->detail;  // oldest first
  return details;
}

class RecordCustody : public HealthStation {
 protected:
  QString dbFile() const { return folder.file(QStringLiteral("db1.mdb")); }
};

TEST_F(RecordCustody, limitsAbsentAtStartAreShownUnknownNeverOverwrittenAndReadOnceThere) {
  folder.makeDatabase(QStringLiteral("60"), 1);
  {
    health::HealthDb db(QStringLiteral("db1.mdb"));
    health::Limits stored;
    stored[Limit::CellLow] = 1.9;
    db.saveLimits(stored);
  }
  showWindow();
  // The file is away (a share not mounted yet, a restore under way) when line health starts.
  const QString away = folder.file(QStringLiteral("away.mdb"));
  ASSERT_TRUE(QFile::rename(dbFile(), away));
  attach();
  monitor->setRetryIntervals(50, 50);
  EXPECT_FALSE(monitor->limitsKnown());
  EXPECT_TRUE(monitor->notice()->isVisible());
  EXPECT_EQ(monitor->notice()->text(), QStringLiteral("报警设置未能读取"));

  // The empty boxes are no limits: OK refuses to save them, with a message.
  onDialog = [&](QDialog& d) {
    auto* dialog = qobject_cast<health::LimitsDialog*>(&d);
    ASSERT_NE(dialog, nullptr);
    for (QLineEdit* e : dialog->edits) EXPECT_TRUE(e->text().isEmpty());
    dialog->edits[1]->setText(QStringLiteral("2.5"));
    // The file is back while the dialog is open: still no saving over limits it never showed.
    ASSERT_TRUE(QFile::rename(away, dbFile()));
    ASSERT_TRUE(waitUntil([&] { return monitor->limitsKnown(); }, 20000));
    dialog->accept();
    EXPECT_NE(dialog->result(), QDialog::Accepted);
  };
  choose(QStringLiteral("报警设置…"));
  ASSERT_EQ(errors().size(), 1u);
  EXPECT_FALSE(errors().front().isEmpty());
  EXPECT_TRUE(monitor->notice()->isHidden()) << monitor->notice()->text().toStdString();
  EXPECT_DOUBLE_EQ(*monitor->limits()[Limit::CellLow], 1.9);
  EXPECT_FALSE(monitor->limits()[Limit::CellHigh]);
  EXPECT_TRUE(db().value(QStringLiteral("select cellHigh from alarmLimit")).isNull()) << "nothing was saved";
  EXPECT_DOUBLE_EQ(db().value(QStringLiteral("select cellLow from alarmLimit")).toDouble(), 1.9);

  // The limits read late are judged like any others.
  for (int n = 0; n < 2; ++n) feedReply(*form, 1, 9);
  EXPECT_TRUE(monitor->alarms().cellInAlarm(1, 9));
  EXPECT_TRUE(monitor->notice()->text().startsWith(QStringLiteral("报警：1号"))) << monitor->notice()->text().toStdString();

  // A dialog opened now shows the stored limits and saves.
  boxes.clear();
  onDialog = [&](QDialog& d) {
    auto* dialog = qobject_cast<health::LimitsDialog*>(&d);
    EXPECT_FALSE(dialog->edits[0]->text().isEmpty());
    dialog->edits[1]->setText(QStringLiteral("2.5"));
    dialog->accept();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
  };
  choose(QStringLiteral("报警设置…"));
  EXPECT_TRUE(errors().isEmpty()) << errors().join('\n').toStdString();
  EXPECT_DOUBLE_EQ(db().value(QStringLiteral("select cellHigh from alarmLimit")).toDouble(), 2.5);
}

TEST_F(RecordCustody, eventsRecordedUnderAForeignWriteLockAreKeptAndArriveInOrderAfterwards) {
  folder.makeDatabase(QStringLiteral("60"), 1);
  showWindow();
  attach();
  monitor->note(failure(QStringLiteral("e0")));
  ASSERT_TRUE(monitor->flushEvents());
  monitor->setRetryIntervals(10000, 50);
  ThreadedLog log;
  int beats = 0;
  QTimer beat;
  QObject::connect(&beat, &QTimer::timeout, [&] { ++beats; });
  beat.start(5);
  {
    ForeignWriteLock lock(dbFile());
    ASSERT_TRUE(lock.locked());
    for (int i = 1; i <= 3; ++i) monitor->note(failure(QStringLiteral("e%1").arg(i)));
    // The record's writer waits out the lock and gives up on it, on a thread of its own ...
    ASSERT_TRUE(waitUntil([&] { return !log.linesWith(QStringLiteral("event record not written")).empty(); }, 30000));
    for (const auto& line : log.linesWith(QStringLiteral("event record not written")))
      EXPECT_NE(line.second, form->thread()) << "the window's thread waited for the lock";
    // ... while the window's event loop goes on, and more events come.
    const int before = beats;
    ASSERT_TRUE(waitUntil([&] { return beats > before + 2; }));
    for (int i = 4; i <= 6; ++i) monitor->note(failure(QStringLiteral("e%1").arg(i)));
    EXPECT_EQ(monitor->pendingEvents(), 6u);
  }
  ASSERT_TRUE(waitUntil([&] { return monitor->pendingEvents() == 0; }, 20000));
  EXPECT_EQ(storedDetails(dbFile()), (QStringList{QStringLiteral("e0"), QStringLiteral("e1"), QStringLiteral("e2"),
                                                   QStringLiteral("e3"), QStringLiteral("e4"), QStringLiteral("e5"),
                                                   QStringLiteral("e6")}));
}

TEST_F(RecordCustody, eventsAfterTheDatabaseIsReplacedByRenameGoToTheNewFile) {
  folder.makeDatabase(QStringLiteral("60"), 1);
  showWindow();
  attach();
  const QString restored = folder.file(QStringLiteral("restored.mdb"));
  ASSERT_TRUE(engine::backupDatabase(dbFile(), restored).isEmpty());
  monitor->note(failure(QStringLiteral("before")));
  ASSERT_TRUE(monitor->flushEvents());
  // A restore (or a sync tool) renames a copy into place while the station runs.
  ASSERT_EQ(::rename(QFile::encodeName(restored).constData(), QFile::encodeName(dbFile()).constData()), 0);
  monitor->note(failure(QStringLiteral("after")));
  ASSERT_TRUE(monitor->flushEvents());
  EXPECT_EQ(storedDetails(dbFile()), QStringList{QStringLiteral("after")});
}

}  // namespace
