// The send path over a real pseudo-terminal: copies, order, whole blocks, the empty-queue
// report, and what closing does to queued blocks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "OpenComm.h"
#include "comm/TComm.h"

using namespace comm;
using commtest::EventLog;
using commtest::PtyPair;
using commtest::Raised;

namespace {

struct OpenComm : commtest::OpenComm {
  std::size_t empties() const { return log.count(Raised::Kind::SendEmpty); }

  // Fills the line towards the far end until the kernel takes no more, so the send thread's
  // next write has to wait for the far end to read. The kernel moves written bytes on to the
  // far end's read buffer a little later, which makes room again: fill until a pause frees
  // nothing. Returns how many filler bytes went in.
  std::size_t stallLine() {
    const int fd = pty.slave();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::vector<std::uint8_t> filler(4096, 0xEE);
    std::size_t total = 0;
    for (bool tookMore = true; tookMore;) {
      tookMore = false;
      for (;;) {
        const ssize_t n = ::write(fd, filler.data(), filler.size());
        if (n <= 0) break;
        total += static_cast<std::size_t>(n);
        tookMore = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return total;
  }
};

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

TEST(Send, RefusedWhenClosedOrEmpty) {
  PtyPair pty;
  TComm c;
  commtest::configureLikeComm1(c, pty.path());
  const std::uint8_t frame[13] = {0x55};
  EXPECT_FALSE(c.SendData(frame, sizeof frame));  // before OpenPort
  c.OpenPort();
  EXPECT_FALSE(c.SendData(frame, 0));
  EXPECT_FALSE(c.SendData(nullptr, 13));  // no bytes to copy from: refused, not read
  EXPECT_TRUE(c.SendData(frame, sizeof frame));  // right after opening: accepted and written
  EXPECT_EQ(pty.receive(13), std::vector<std::uint8_t>(frame, frame + 13));
  c.ClosePort();
  EXPECT_FALSE(c.SendData(frame, sizeof frame));
  EXPECT_TRUE(pty.receive(1, 200).empty());  // nothing of the refused calls reached the line
}

TEST(Send, OneEmptyReportAtStartEvenWithNothingSent) {
  OpenComm o;
  ASSERT_TRUE(o.log.pumpUntil([&] { return o.empties() == 1; }));
  o.log.pumpFor(300);
  EXPECT_EQ(o.empties(), 1u);
}

TEST(Send, BlocksQueuedBehindALongOneGoOutInOrderThenOneEmptyReport) {
  OpenComm o;
  ASSERT_TRUE(o.log.pumpUntil([&] { return o.empties() == 1; }));
  const std::size_t filler = o.stallLine();
  ASSERT_GT(filler, 0u);

  const auto longBlock = commtest::pattern(65535, 1);
  const auto b1 = commtest::pattern(13, 0x10), b2 = commtest::pattern(200, 0x20), b3 = commtest::pattern(1, 0x30);
  EXPECT_TRUE(o.comm.SendData(longBlock.data(), static_cast<std::uint16_t>(longBlock.size())));
  EXPECT_TRUE(o.comm.SendData(b1.data(), static_cast<std::uint16_t>(b1.size())));
  EXPECT_TRUE(o.comm.SendData(b2.data(), static_cast<std::uint16_t>(b2.size())));
  EXPECT_TRUE(o.comm.SendData(b3.data(), static_cast<std::uint16_t>(b3.size())));

  const auto expected = concat({longBlock, b1, b2, b3});
  const auto got = o.pty.receive(filler + expected.size());
  ASSERT_EQ(got.size(), filler + expected.size());
  EXPECT_TRUE(std::all_of(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(filler),
                          [](std::uint8_t b) { return b == 0xEE; }));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin() + static_cast<std::ptrdiff_t>(filler)));

  ASSERT_TRUE(o.log.pumpUntil([&] { return o.empties() == 2; }));
  o.log.pumpFor(300);
  EXPECT_EQ(o.empties(), 2u);
}

TEST(Send, TheCallersBufferCanBeReusedAtOnce) {
  OpenComm o;
  const std::size_t filler = o.stallLine();  // the copy is still queued when the buffer changes
  std::vector<std::uint8_t> buffer = commtest::pattern(300, 0x42);
  const auto original = buffer;
  ASSERT_TRUE(o.comm.SendData(buffer.data(), static_cast<std::uint16_t>(buffer.size())));
  std::fill(buffer.begin(), buffer.end(), 0x00);
  const auto got = o.pty.receive(filler + original.size());
  ASSERT_EQ(got.size(), filler + original.size());
  EXPECT_TRUE(std::equal(original.begin(), original.end(), got.begin() + static_cast<std::ptrdiff_t>(filler)));
}

TEST(Send, ClosingDiscardsQueuedBlocksWithoutAReport) {
  OpenComm o;
  ASSERT_TRUE(o.log.pumpUntil([&] { return o.empties() == 1; }));
  o.stallLine();
  const std::vector<std::uint8_t> marked(65535, 0x77);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(o.comm.SendData(marked.data(), static_cast<std::uint16_t>(marked.size())));
  o.comm.ClosePort();
  // Whatever of the first block got out before the purge, the later ones never do.
  const auto got = o.pty.receive(1 << 20, 300);
  EXPECT_LT(static_cast<std::size_t>(std::count(got.begin(), got.end(), 0x77)), 2 * marked.size());
  o.log.pumpFor(200);
  EXPECT_EQ(o.empties(), 1u);
}
