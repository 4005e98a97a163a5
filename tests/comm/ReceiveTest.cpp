// The receive path over a real pseudo-terminal: where blocks end, what each block holds,
// delivery after closing, and a far end that goes away.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "OpenComm.h"
#include "comm/ReadThread.h"
#include "comm/TComm.h"
#include "comm/port/SerialPort.h"

using namespace comm;
using commtest::EventLog;
using commtest::PtyPair;
using commtest::Raised;
using std::chrono::milliseconds;

namespace {

// Longer than the 100 ms gap by a wide margin, so a busy machine cannot blur it.
constexpr milliseconds kSplittingGap{400};
constexpr milliseconds kJoiningPause{1};
// Time for the receive thread to end and post a block, on a loaded machine too.
constexpr milliseconds kSettle{1000};

struct OpenComm : commtest::OpenComm {
  bool awaitBytes(std::size_t n) {
    return log.pumpUntil([&] { return log.receivedBytes() >= n; });
  }
};

}  // namespace

TEST(Receive, OneBurstIsOneBlockWithAZeroByteAfterIt) {
  OpenComm o;
  const auto frame = commtest::pattern(228, 0x31);
  o.pty.send(frame);
  ASSERT_TRUE(o.awaitBytes(228));
  o.log.pumpFor(300);
  ASSERT_EQ(o.log.blocks().size(), 1u);
  const Raised& data = o.log.events.back();
  EXPECT_EQ(data.bytes, frame);
  EXPECT_TRUE(data.zeroAfter);
  EXPECT_EQ(data.sender, &o.comm);
}

TEST(Receive, AGapOverTheIntervalSplitsAShortPauseDoesNot) {
  OpenComm o;
  const auto a = commtest::pattern(5, 1), b = commtest::pattern(7, 50);
  o.pty.send(a);
  std::this_thread::sleep_for(kSplittingGap);
  o.pty.send(b);
  ASSERT_TRUE(o.awaitBytes(12));
  ASSERT_EQ(o.log.blocks().size(), 2u);
  EXPECT_EQ(o.log.blocks()[0], a);
  EXPECT_EQ(o.log.blocks()[1], b);

  o.log.events.clear();
  o.pty.send(a);
  std::this_thread::sleep_for(kJoiningPause);
  o.pty.send(b);
  ASSERT_TRUE(o.awaitBytes(12));
  o.log.pumpFor(300);
  ASSERT_EQ(o.log.blocks().size(), 1u);
  auto joined = a;
  joined.insert(joined.end(), b.begin(), b.end());
  EXPECT_EQ(o.log.blocks()[0], joined);

  // A longer interval set while open takes effect for the next read.
  o.comm.SetReadIntervalTimeout(1500);
  o.log.events.clear();
  o.pty.send(a);
  std::this_thread::sleep_for(kSplittingGap);
  o.pty.send(b);
  ASSERT_TRUE(o.awaitBytes(12));
  EXPECT_EQ(o.log.blocks().size(), 1u);

  // The interval is the longest gap between bytes, not the longest block: bytes that keep
  // coming for longer than the interval, never that far apart, are one block.
  o.log.events.clear();
  for (int i = 0; i < 5; ++i) {
    o.pty.send(a);
    std::this_thread::sleep_for(kSplittingGap);
  }
  ASSERT_TRUE(o.awaitBytes(25));
  EXPECT_EQ(o.log.blocks().size(), 1u);
}

TEST(Receive, MoreThan4096BytesComeAsAFullBlockAndTheRest) {
  OpenComm o;
  const auto bytes = commtest::pattern(5000, 9);
  o.pty.send(bytes);
  ASSERT_TRUE(o.awaitBytes(5000));
  const auto blocks = o.log.blocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].size(), 4096u);
  EXPECT_EQ(blocks[1].size(), 904u);
  auto joined = blocks[0];
  joined.insert(joined.end(), blocks[1].begin(), blocks[1].end());
  EXPECT_EQ(joined, bytes);
  for (const auto& e : o.log.events) {
    if (e.kind == Raised::Kind::Data) {
      EXPECT_TRUE(e.zeroAfter);
    }
  }
}

TEST(Receive, WithoutAHandlerBlocksAreStillTakenAndReleased) {
  OpenComm o;
  o.comm.SetOnReceiveData(nullptr);
  o.pty.send(commtest::pattern(100, 3));
  std::size_t handled = 0;
  while (handled < 2 && o.comm.waitForNotification(5000)) handled += o.comm.dispatchPending();
  EXPECT_GE(handled, 2u);  // the send side's first report and the block
  // The unhandled block is gone: a handler assigned now sees only what comes next.
  EventLog later(o.comm);
  const auto next = commtest::pattern(10, 77);
  o.pty.send(next);
  ASSERT_TRUE(later.pumpUntil([&] { return later.receivedBytes() >= 10; }));
  EXPECT_EQ(later.blocks(), std::vector<std::vector<std::uint8_t>>{next});
}

TEST(Receive, BlocksPostedBeforeClosingStillArriveEachWithItsOwnBuffer) {
  OpenComm o;
  const auto a = commtest::pattern(20, 1), b = commtest::pattern(30, 100);
  o.pty.send(a);
  std::this_thread::sleep_for(kSplittingGap);
  o.pty.send(b);
  std::this_thread::sleep_for(kSettle);
  o.comm.ClosePort();
  ASSERT_TRUE(o.awaitBytes(50));
  const auto blocks = o.log.blocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], a);
  EXPECT_EQ(blocks[1], b);
  for (const auto& e : o.log.events) {
    EXPECT_FALSE(e.openWhenRaised);
    if (e.kind == Raised::Kind::Data) {
      EXPECT_TRUE(e.zeroAfter);
    }
  }
}

TEST(Receive, AHandlerThatThrowsLosesNothingThatFollows) {
  OpenComm o;
  int calls = 0;
  std::vector<std::uint8_t> second;
  o.comm.SetOnReceiveData([&](TComm*, const std::uint8_t* b, std::uint16_t n) {
    if (++calls == 1) throw std::runtime_error("decoder failed");
    second.assign(b, b + n);
  });
  const auto a = commtest::pattern(8, 1), b = commtest::pattern(9, 60);
  o.pty.send(a);
  std::this_thread::sleep_for(kSplittingGap);
  o.pty.send(b);
  std::this_thread::sleep_for(kSettle);
  EXPECT_THROW(
      {
        while (o.comm.waitForNotification(5000)) o.comm.dispatchPending();
      },
      std::runtime_error);
  // The rest still waits and keeps the handle set, or this wait would run out.
  while (calls < 2 && o.comm.waitForNotification(5000)) o.comm.dispatchPending();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(second, b);
}

TEST(Receive, ZeroBytesAreDroppedWhenAskedTo) {
  OpenComm o;
  o.comm.SetIgnoreNullChar(true);
  o.pty.send({1, 0, 2, 0, 0, 3});
  ASSERT_TRUE(o.awaitBytes(3));
  EXPECT_EQ(o.log.blocks(), (std::vector<std::vector<std::uint8_t>>{{1, 2, 3}}));
}

TEST(Receive, AReadThatTimesOutEmptyKeepsTheLineBeingRead) {
  OpenComm o;
  o.comm.SetReadTotalTimeoutConstant(20);  // each read gives up after 20 ms without a byte
  o.log.pumpFor(300);                      // many such reads pass
  EXPECT_EQ(o.log.count(Raised::Kind::Data), 0u);
  EXPECT_EQ(o.log.count(Raised::Kind::Hangup), 0u);
  const auto frame = commtest::pattern(12, 5);
  o.pty.send(frame);
  ASSERT_TRUE(o.awaitBytes(12));
  std::vector<std::uint8_t> joined;
  for (const auto& b : o.log.blocks()) joined.insert(joined.end(), b.begin(), b.end());
  EXPECT_EQ(joined, frame);
  EXPECT_EQ(o.log.count(Raised::Kind::Hangup), 0u);
}

TEST(Receive, AFarEndThatGoesAwayGivesOneHangupAndTheSendSideFollows) {
  OpenComm o;
  o.pty.closeMaster();
  ASSERT_TRUE(o.log.pumpUntil([&] { return o.log.count(Raised::Kind::Hangup) == 1; }));
  o.log.pumpFor(300);
  EXPECT_EQ(o.log.count(Raised::Kind::Hangup), 1u);
  EXPECT_EQ(o.log.count(Raised::Kind::Data), 0u);
  EXPECT_TRUE(o.comm.IsOpen());  // the component never closes the port by itself

  // The send thread meets the same failure on its next write, reports it and stops;
  // from then on blocks are refused.
  const std::uint8_t frame[13] = {1};
  EXPECT_TRUE(o.comm.SendData(frame, sizeof frame));
  ASSERT_TRUE(o.log.pumpUntil([&] { return o.log.count(Raised::Kind::Hangup) == 2; }));
  EXPECT_FALSE(o.comm.SendData(frame, sizeof frame));
  o.comm.ClosePort();
  EXPECT_FALSE(o.comm.IsOpen());
}

TEST(Receive, TheLargestTotalLimitLeavesBlocksToTheInterval) {
  OpenComm o;
  o.comm.SetReadTotalTimeoutMultiplier(0xFFFFFFFF);
  o.comm.SetReadTotalTimeoutConstant(0xFFFFFFFF);
  const auto frame = commtest::pattern(40, 9);
  o.pty.send(frame);
  ASSERT_TRUE(o.awaitBytes(40));
  EXPECT_EQ(o.log.blocks(), std::vector<std::vector<std::uint8_t>>{frame});
}

TEST(Receive, AHandlerMayReplaceItselfWhileItRuns) {
  OpenComm o;
  std::vector<std::uint8_t> first, second;
  // The captured text lives in the handler object; it must survive the handler's replacement.
  o.comm.SetOnReceiveData([&first, &second, tag = std::string(64, 'x')](TComm* s, const std::uint8_t* b,
                                                                        std::uint16_t n) {
    s->SetOnReceiveData([&second](TComm*, const std::uint8_t* b2, std::uint16_t n2) { second.assign(b2, b2 + n2); });
    first.assign(b, b + n);
    first.push_back(static_cast<std::uint8_t>(tag.size()));
  });
  o.pty.send({1, 2});
  ASSERT_TRUE(o.log.pumpUntil([&] { return !first.empty(); }));
  o.pty.send({3});
  ASSERT_TRUE(o.log.pumpUntil([&] { return !second.empty(); }));
  EXPECT_EQ(first, (std::vector<std::uint8_t>{1, 2, 64}));
  EXPECT_EQ(second, (std::vector<std::uint8_t>{3}));
}

TEST(Receive, AFullNotificationQueueStillHearsTheReceiveThreadHangUp) {
  // The receive thread on a queue with room for two notifications, both taken by earlier ones
  // that nobody has collected yet.
  PtyPair pty;
  port::SerialPort port;
  ASSERT_TRUE(port.open(pty.path()));
  ASSERT_TRUE(port.setupQueues(4096, 2048));
  port.applyTimeouts(CommTimeouts{10, 0, 0, 0, 0});
  port::Event closeEvent;
  NotifyQueue queue(2);
  for (std::uint32_t i = 1; i <= 2; ++i) {
    Notification n;
    n.kind = NotifyKind::LineError;
    n.value = i;
    ASSERT_TRUE(queue.post(n));
  }
  auto reader = TReadThread::create(port, closeEvent, queue);
  reader->start(0);
  pty.send({1, 2, 3});  // a block that finds no room: the thread stops, and says so
  ASSERT_TRUE(reader->waitFor(5000));
  std::vector<NotifyKind> seen;
  queue.drain([&](Notification& n) { seen.push_back(n.kind); });
  EXPECT_EQ(seen, (std::vector<NotifyKind>{NotifyKind::LineError, NotifyKind::LineError}));
  EXPECT_TRUE(queue.wake().isSet());  // the owner is woken for the hang-up still owed
  EXPECT_TRUE(queue.takeMark());
  EXPECT_FALSE(queue.takeMark());
  closeEvent.set();
}
