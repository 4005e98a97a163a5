// The simulator's discharge through the monitor: the replies of a real cellsim on a
// pseudo-terminal, decoded as the station decodes them, make one record whose judgement names
// the weak cell.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "e2e/Cellsim.h"
#include "discharge/core/Archive.h"
#include "discharge/core/Judgement.h"
#include "discharge/core/Monitor.h"
#include "protocol/Frames.h"
#include "protocol/PackedVoltage.h"

using namespace discharge;

TEST(Chain, aSimulatedDischargeIsRecordedOnceAndItsWeakCellJudgedWeakest) {
  QTemporaryDir dir;
  const QString link = dir.filePath(QStringLiteral("COM1"));
  // 24 cells; from 1 s after the start, 6 seconds of discharge with cell 7 weak.
  Cellsim sim(link, {QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--byte-time"), QStringLiteral("0"),
                     QStringLiteral("--discharge"), QStringLiteral("1:1:0.1:7")});
  const int fd = ::open(link.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);

  Monitor m(dir.path(), dir.filePath(QStringLiteral("db1.mdb")));
  QSignalSpy ended(&m, &Monitor::ended);
  QDeadlineTimer deadline(60000);
  std::vector<std::uint8_t> frame;
  while (ended.isEmpty() && !deadline.hasExpired()) {
    const auto request = protocol::requestFrame(1);
    ASSERT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    frame.clear();
    QDeadlineTimer replyDeadline(5000);
    while (!replyDeadline.hasExpired() &&
           !(frame.size() > protocol::kLengthOffset &&
             frame.size() >= protocol::replySize(protocol::cellCountFromLength(frame[protocol::kLengthOffset])))) {
      std::uint8_t b[512];
      const ssize_t n = ::read(fd, b, sizeof b);
      if (n > 0) frame.insert(frame.end(), b, b + n);
      else ::usleep(1000);
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (frame.empty()) {
      m.takeSilence(1, now);
      continue;
    }
    std::vector<double> cells;
    for (int k = 1; k <= 24; ++k) cells.push_back(protocol::decodePacked(frame[protocol::cellOffset(k)], frame[protocol::cellOffset(k) + 1]));
    m.takeReply(1, now, cells, protocol::decodePacked(frame[9], frame[10]));
    ::usleep(20000);
  }
  ::close(fd);
  ASSERT_EQ(ended.count(), 1);
  m.recorder().flush();
  Archive a(archiveFile(dir.path()));
  const auto list = a.list();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].endedBy, EndReason::Recovered);
  EXPECT_GT(list[0].samples, 20);
  const Judgement j = judge(a.load(list[0].id), 1800);
  EXPECT_EQ(j.weakestFirst.front(), 7);
  EXPECT_EQ(j.firstCrossedCell, 7);
  EXPECT_TRUE(j.cells[6].weak);
}
