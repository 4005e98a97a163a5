// The simulator on its own: what it answers, what it ignores, and that it cleans up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <vector>

#include "Cellsim.h"
#include "protocol/Frames.h"
#include "protocol/PackedVoltage.h"

namespace {

/// The station's side of the line, opened through the simulator's link.
class Port {
 public:
  explicit Port(const QString& path) : fd_(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    if (fd_ < 0) throw std::runtime_error("cannot open " + path.toStdString());
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~Port() { ::close(fd_); }
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  void send(const std::vector<std::uint8_t>& bytes) { ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
  void request(int unit) {
    const auto f = protocol::requestFrame(unit);
    send({f.begin(), f.end()});
  }

  /// One whole reply frame (its length from the length byte), or an empty vector after 5 s.
  std::vector<std::uint8_t> reply() {
    std::vector<std::uint8_t> frame;
    const bool done = waitUntil([&] {
      std::uint8_t b[256];
      const ssize_t n = ::read(fd_, b, sizeof b);
      if (n > 0) frame.insert(frame.end(), b, b + n);
      return frame.size() > protocol::kLengthOffset &&
             frame.size() >= protocol::replySize(protocol::cellCountFromLength(frame[protocol::kLengthOffset]));
    });
    return done ? frame : std::vector<std::uint8_t>{};
  }

 private:
  int fd_;
};

TEST(Cellsim, answersItsOwnUnitsWithWholeFramesAndIgnoresEverythingElse) {
  QTemporaryDir dir;
  const QString link = dir.filePath(QStringLiteral("COM1"));
  Cellsim sim(link, {QStringLiteral("--units"), QStringLiteral("3"), QStringLiteral("--cells"), QStringLiteral("10"),
                     QStringLiteral("--chemistry"), QStringLiteral("lithium"), QStringLiteral("--byte-time"), QStringLiteral("0")});
  Port port(link);
  // Noise, a request for a unit beyond the chain, a request cut short, then a whole one for 2.
  port.send({0x00, 0xEB, 0x90, 0x13});
  port.request(9);
  const auto cut = protocol::requestFrame(1);
  port.send({cut.begin(), cut.begin() + 7});
  port.request(2);
  const auto frame = port.reply();
  ASSERT_EQ(frame.size(), protocol::replySize(10));
  EXPECT_EQ(frame[protocol::kUnitOffset], 2) << "the first reply belongs to the first valid request";
  EXPECT_EQ(protocol::cellCountFromLength(frame[protocol::kLengthOffset]), 10);
  EXPECT_EQ(frame[protocol::checksumOffset(10)], protocol::replyChecksum(frame, 10));
  double sum = 0;
  for (int k = 1; k <= 10; ++k) {
    const double v = protocol::decodePacked(frame[protocol::cellOffset(k)], frame[protocol::cellOffset(k) + 1]);
    EXPECT_GE(v, 3.2) << k;
    EXPECT_LE(v, 3.4) << k;
    sum += v;
  }
  EXPECT_NEAR(protocol::decodePacked(frame[9], frame[10]), sum, 0.5);

  // Unit 3 answers after it; unit 9 never did.
  port.request(3);
  const auto next = port.reply();
  ASSERT_FALSE(next.empty());
  EXPECT_EQ(next[protocol::kUnitOffset], 3);
}

TEST(Cellsim, stopsOnSigtermAndRemovesItsLink) {
  QTemporaryDir dir;
  const QString link = dir.filePath(QStringLiteral("COM1"));
  Cellsim sim(link, {});
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_FALSE(QFileInfo(link).isSymLink());
  EXPECT_FALSE(QFileInfo::exists(link));
}

TEST(Cellsim, leavesAFileThatIsNoLinkAloneAndRefusesBadOptions) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("COM1"));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep");
  }
  QProcess p;
  p.start(QStringLiteral(CELLSIM_PATH), {QStringLiteral("--link"), path});
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 1);
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("keep"));

  for (const QStringList& bad : {QStringList{QStringLiteral("--units"), QStringLiteral("100")},
                                 QStringList{QStringLiteral("--silent"), QStringLiteral("0")},
                                 QStringList{QStringLiteral("--split"), QStringLiteral("abc")},
                                 QStringList{QStringLiteral("--discharge"), QStringLiteral("1:0")},
                                 QStringList{QStringLiteral("--discharge"), QStringLiteral("1:0:0")},
                                 QStringList{QStringLiteral("--discharge"), QStringLiteral("1:0:1:109")},
                                 QStringList{QStringLiteral("--nonsense")}}) {
    p.start(QStringLiteral(CELLSIM_PATH), bad);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 2) << bad.join(' ').toStdString();
  }
}

TEST(Cellsim, aDischargeStepsDownSlopesThroughTheKneeWithTheWeakCellFirstAndRecovers) {
  QTemporaryDir dir;
  const QString link = dir.filePath(QStringLiteral("COM1"));
  // Six cells, a 3-second discharge with cell 3 weak.
  Cellsim sim(link, {QStringLiteral("--units"), QStringLiteral("1"), QStringLiteral("--cells"), QStringLiteral("6"),
                     QStringLiteral("--byte-time"), QStringLiteral("0"), QStringLiteral("--discharge"), QStringLiteral("1:0:0.05:3")});
  Port port(link);
  struct Read {
    double total;
    std::vector<double> cells;
  };
  std::vector<Read> reads;
  bool recovered = false;
  QDeadlineTimer deadline(30000);
  while (!recovered && !deadline.hasExpired()) {
    port.request(1);
    const auto f = port.reply();
    ASSERT_FALSE(f.empty());
    Read r{protocol::decodePacked(f[9], f[10]), {}};
    for (int k = 1; k <= 6; ++k) r.cells.push_back(protocol::decodePacked(f[protocol::cellOffset(k)], f[protocol::cellOffset(k) + 1]));
    const bool low = r.total < 2.13 * 6;
    recovered = !low && !reads.empty() && reads.back().total < 2.13 * 6;
    reads.push_back(std::move(r));
  }
  ASSERT_TRUE(recovered) << "the string went below 2.13 V a cell and came back on float";
  EXPECT_GT(reads.back().total, 2.18 * 6);
  // The step: the first reading under load is already well below float.
  const auto underLoad = std::find_if(reads.begin(), reads.end(), [](const Read& r) { return r.total < 2.13 * 6; });
  ASSERT_NE(underLoad, reads.end());
  EXPECT_GT(underLoad->total, 1.95 * 6);
  // The knee: at the lowest total the sound cells are near 1.80 V and the weak one far below.
  const auto lowest = std::min_element(reads.begin(), reads.end(), [](const Read& a, const Read& b) { return a.total < b.total; });
  for (int k = 0; k < 6; ++k) {
    if (k == 2) continue;
    EXPECT_GT(lowest->cells[static_cast<std::size_t>(k)], 1.7) << k + 1;
    EXPECT_GT(lowest->cells[static_cast<std::size_t>(k)], lowest->cells[2] + 0.1) << k + 1;
  }
}

}  // namespace
