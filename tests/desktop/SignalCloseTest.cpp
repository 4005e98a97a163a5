// The station in this process closed by a signal: the real handler, the real window offscreen,
// the real Comm1 on the simulator, a real db1.mdb. Each test ends the window as main() does
// after its event loop: by destroying it.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

#include "Cellsim.h"
#include "acquisition/polling/StationDb.h"
#include "app/Unit1.h"
#include "comm/TComm.h"
#include "desktop/SignalClose.h"
#include "support/StationFolder.h"
#include "toolkit/MessageBoxes.h"
#include "toolkit/PollTimer.h"

namespace {

using Kind = toolkit::MessageBoxes::Kind;

class SignalledStation : public ::testing::Test {
 protected:
  void start(int units) {
    folder.makeDatabase(QStringLiteral("60"), units);
    sim = std::make_unique<Cellsim>(folder.file(QStringLiteral("COM1")),
                                    QStringList{QStringLiteral("--units"), QString::number(units)});
    form = std::make_unique<TForm1>(boxes);
    closer = std::make_unique<desktop::SignalClose>([this] { form->close(); });
    form->show();
    ASSERT_TRUE(boxes.boxes.empty()) << boxes.texts(Kind::Error).join('\n').toStdString();
  }

  void TearDown() override {
    closer.reset();
    form.reset();
    if (sim) {
      EXPECT_EQ(sim->stop(), 0);
    }
  }

  bool present(const char* name) const { return QFile::exists(folder.file(QString::fromLatin1(name))); }

  StationFolder folder;
  toolkit::RecordingMessageBoxes boxes;
  std::unique_ptr<Cellsim> sim;
  std::unique_ptr<TForm1> form;
  std::unique_ptr<desktop::SignalClose> closer;
};

TEST_F(SignalledStation, sigtermClosesAPollingStationAndLeavesADatabaseWithNoJournalBehind) {
  start(2);
  form->SpeedButton1->click();
  ASSERT_TRUE(form->Comm1->IsOpen());
  // Three answered ticks of 60 s: one sampling run stores a row per unit.
  for (int t = 1; t <= 3; ++t) {
    form->guard().run([this] { form->Timer1Timer(); });
    ASSERT_TRUE(waitUntil([this] { return form->polling->ReplyReceived; })) << "tick " << t;
  }
  ASSERT_TRUE(boxes.texts(Kind::Error).isEmpty()) << boxes.texts(Kind::Error).join('\n').toStdString();
  ASSERT_TRUE(form->Timer1->ticking());
  ASSERT_TRUE(form->ADOConnection1.Connected()) << "the station should hold its database open while polling";

  ASSERT_EQ(::raise(SIGTERM), 0);
  ASSERT_TRUE(waitUntil([this] { return !form->isVisible(); })) << "the signal did not close the window";
  EXPECT_EQ(closer->lastSignal(), SIGTERM);
  EXPECT_FALSE(form->Comm1->IsOpen()) << "FormClose did not run";
  form.reset();

  EXPECT_FALSE(present("db1.mdb-journal"));
  EXPECT_FALSE(present("db1.mdb-wal"));
  EXPECT_FALSE(present("db1.mdb-shm"));
  StationDb db(folder.file(QStringLiteral("db1.mdb")));
  EXPECT_EQ(db.value(QStringLiteral("pragma integrity_check")).toString(), QStringLiteral("ok"));
  EXPECT_EQ(db.rows(QStringLiteral("measure1")), 1);
  EXPECT_EQ(db.rows(QStringLiteral("measure2")), 1);
}

TEST_F(SignalledStation, sigintAndSighupCloseTheWindowToo) {
  start(1);
  for (int signo : {SIGINT, SIGHUP}) {
    form->show();
    ASSERT_TRUE(form->isVisible());
    ASSERT_EQ(::raise(signo), 0);
    ASSERT_TRUE(waitUntil([this] { return !form->isVisible(); })) << "signal " << signo;
    EXPECT_EQ(closer->lastSignal(), signo);
  }
}

TEST_F(SignalledStation, aSignalWhileAModalBoxWaitsClosesTheBoxAndThenTheWindow) {
  start(1);
  QMessageBox box(QMessageBox::Question, QStringLiteral("cellstation"), QStringLiteral("确认要删除保存的所有数据吗？"),
                  QMessageBox::Yes | QMessageBox::No, form.get());
  QTimer::singleShot(0, [] { ::raise(SIGTERM); });
  // Should the box stay open, this ends the wait so the test fails instead of hanging.
  constexpr int kStillOpen = 99;
  QTimer::singleShot(30000, &box, [&box] { box.done(kStillOpen); });
  const int result = box.exec();
  EXPECT_NE(result, kStillOpen) << "the box was still open after the signal";
  EXPECT_NE(result, QMessageBox::Yes);
  EXPECT_FALSE(form->isVisible());
}

}  // namespace
