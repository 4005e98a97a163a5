// The Qt side of the serial component: its events raised on the main thread by the event
// loop, errors of handlers reaching the error box, and Comm1 in the window.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <stdexcept>
#include <thread>

#include "PtyPair.h"
#include "app/Unit1.h"
#include "comm/TComm.h"
#include "protocol/Frames.h"
#include "toolkit/CommEventPump.h"
#include "toolkit/HandlerGuard.h"
#include "toolkit/MessageBoxes.h"

using commtest::PtyPair;

namespace {

// Runs the event loop until done() holds; the limit only ends a failing test.
bool processUntil(const std::function<bool()>& done, int limitMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > limitMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return true;
}

struct PumpedComm {
  PtyPair pty;
  toolkit::RecordingMessageBoxes boxes;
  toolkit::HandlerGuard guard{boxes, nullptr};
  comm::TComm comm;
  toolkit::CommEventPump pump{comm, guard};
  PumpedComm() {
    comm.SetCommName(pty.path());
    comm.SetTxContinueOnXoff(false);
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
  }
};

}  // namespace

TEST(CommEventPump, EventsArriveOnTheMainThreadInPostingOrder) {
  PumpedComm p;
  std::vector<std::string> seen;
  bool allOnMainThread = true;
  const QThread* main = QCoreApplication::instance()->thread();
  p.comm.SetOnSendDataEmpty([&](comm::TComm* s) {
    allOnMainThread &= QThread::currentThread() == main && s == &p.comm;
    seen.push_back("empty");
  });
  p.comm.SetOnReceiveData([&](comm::TComm* s, const std::uint8_t* b, std::uint16_t n) {
    allOnMainThread &= QThread::currentThread() == main && s == &p.comm;
    seen.push_back(std::string(reinterpret_cast<const char*>(b), n));
  });
  p.comm.OpenPort();
  ASSERT_TRUE(processUntil([&] { return seen.size() == 1; }));  // the send side's first report
  p.pty.send({'a', 'b', 'c'});
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  p.pty.send({'d', 'e'});
  ASSERT_TRUE(processUntil([&] { return seen.size() == 3; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"empty", "abc", "de"}));
  EXPECT_TRUE(allOnMainThread);
  p.comm.ClosePort();
}

TEST(CommEventPump, AHandlerErrorGoesToTheErrorBoxAndLaterBlocksStillCome) {
  PumpedComm p;
  int calls = 0;
  p.comm.SetOnReceiveData([&](comm::TComm*, const std::uint8_t*, std::uint16_t) {
    if (++calls == 1) throw std::runtime_error("块无效");
  });
  p.comm.OpenPort();
  p.pty.send({1, 2, 3});
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  p.pty.send({4, 5});
  ASSERT_TRUE(processUntil([&] { return calls == 2; }));
  EXPECT_EQ(p.boxes.texts(toolkit::MessageBoxes::Kind::Error), QStringList{QStringLiteral("块无效")});
}

TEST(CommEventPump, AHandlerRunningANestedLoopStillSeesLaterBlocks) {
  // An error box runs its own event loop inside a handler; blocks arriving meanwhile are
  // raised from there, in order, and none is lost or raised twice.
  PumpedComm p;
  std::vector<std::string> seen;
  p.comm.SetOnReceiveData([&](comm::TComm*, const std::uint8_t* b, std::uint16_t n) {
    const std::string text(reinterpret_cast<const char*>(b), n);
    seen.push_back(text + "+");
    if (text == "first") {
      p.pty.send({'s', 'e', 'c', 'o', 'n', 'd'});
      processUntil([&] { return seen.size() >= 3; });
    }
    seen.push_back(text + "-");
  });
  p.comm.OpenPort();
  p.pty.send({'f', 'i', 'r', 's', 't'});
  ASSERT_TRUE(processUntil([&] { return seen.size() == 4; }));
  QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
  EXPECT_EQ(seen, (std::vector<std::string>{"first+", "second+", "second-", "first-"}));
}

TEST(Comm1, HasTheWindowsStoredValuesAndIsClosedUntilPollingStarts) {
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  ASSERT_NE(form.Comm1, nullptr);
  comm::TComm& c = *form.Comm1;
  EXPECT_FALSE(c.IsOpen());
  EXPECT_EQ(c.CommName(), "COM1");
  const comm::LineSettings s = c.BuildLineSettings({});
  EXPECT_EQ(s.Flags, 0x1011u);
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, 0);
  EXPECT_EQ(s.StopBits, 0);
  EXPECT_EQ(c.BuildTimeouts(), (comm::CommTimeouts{100, 0, 0, 0, 0}));
  EXPECT_TRUE(static_cast<bool>(c.OnReceiveData()));
}

TEST(Comm1, ARepliesReachTheWindowAndClosingTheWindowClosesThePort) {
  PtyPair pty;
  toolkit::RecordingMessageBoxes boxes;
  TForm1 form(boxes);
  form.Comm1->SetCommName(pty.path());
  form.Comm1->OpenPort();
  const double cells[3] = {3.25, 3.5, 3.75};
  pty.send(protocol::buildReply(2, 10.5, cells));
  ASSERT_TRUE(processUntil([&] { return form.polling->tables.TotalVoltage[2] > 0; }));
  EXPECT_TRUE(boxes.texts(toolkit::MessageBoxes::Kind::Error).isEmpty());
  form.close();
  EXPECT_FALSE(form.Comm1->IsOpen());
}
