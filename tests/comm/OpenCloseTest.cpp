// Opening and closing the port: every failure with its message and nothing left held;
// line settings applied at opening and by setters while open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "EventLog.h"
#include "PtyPair.h"
#include "comm/TComm.h"

using namespace comm;
using commtest::PtyPair;

namespace {

std::string openError(TComm& c) {
  try {
    c.OpenPort();
  } catch (const ECommsError& e) {
    return e.what();
  }
  return "(opened)";
}

termios attributes(const PtyPair& pty) {
  termios t{};
  ::tcgetattr(pty.slave(), &t);
  return t;
}

speed_t speedOf(const PtyPair& pty) {
  const termios t = attributes(pty);
  return cfgetospeed(&t);
}

// Proves the port is open and its send thread alive: a block reaches the far end.
bool carries(TComm& c, const PtyPair& pty, std::uint8_t marker) {
  const std::uint8_t b[3] = {0xA5, marker, 0x5A};
  if (!c.SendData(b, 3)) return false;
  return pty.receive(3) == std::vector<std::uint8_t>{0xA5, marker, 0x5A};
}

class TempDir {
 public:
  TempDir() : old_(std::filesystem::current_path()) {
    char tmpl[] = "/tmp/commtestXXXXXX";
    path_ = ::mkdtemp(tmpl);
    std::filesystem::current_path(path_);
  }
  ~TempDir() {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(path_);
  }

 private:
  std::filesystem::path old_;
  std::string path_;
};

}  // namespace

TEST(OpenPort, SecondOpenIsRefusedAndThePortStaysOpen) {
  PtyPair pty;
  TComm c;
  commtest::configureLikeComm1(c, pty.path());
  c.OpenPort();
  ASSERT_TRUE(c.IsOpen());
  EXPECT_EQ(openError(c), "此串口已经打开");
  EXPECT_TRUE(c.IsOpen());
  EXPECT_TRUE(carries(c, pty, 1));
  c.ClosePort();
  EXPECT_FALSE(c.IsOpen());
}

TEST(OpenPort, MissingPortLeavesNothingOpen) {
  TempDir dir;
  for (const char* name : {"/nonexistent/ttyX", "COM250", "COM0"}) {
    TComm c;
    c.SetCommName(name);
    const int before = commtest::openDescriptorCount();
    EXPECT_EQ(openError(c), "打开串口出错\r\n此串口不存在或被占用") << name;
    EXPECT_FALSE(c.IsOpen()) << name;
    EXPECT_EQ(commtest::openDescriptorCount(), before) << name;
  }
}

TEST(OpenPort, PortHeldElsewhereIsRefusedUntilReleased) {
  PtyPair pty;
  TComm first, second;
  commtest::configureLikeComm1(first, pty.path());
  commtest::configureLikeComm1(second, pty.path());
  first.OpenPort();

  const int before = commtest::openDescriptorCount();
  EXPECT_EQ(openError(second), "打开串口出错\r\n此串口不存在或被占用");
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(commtest::openDescriptorCount(), before);
  EXPECT_TRUE(first.IsOpen());

  first.ClosePort();
  second.OpenPort();  // the failed attempt left nothing that refuses this one
  EXPECT_TRUE(carries(second, pty, 2));
  second.ClosePort();

  // Another program holding the port with a lock.
  const int holder = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(openError(first), "打开串口出错\r\n此串口不存在或被占用");
  ::close(holder);
  first.OpenPort();
  EXPECT_TRUE(first.IsOpen());
}

TEST(OpenPort, AFileThatIsNoSerialDeviceFailsBufferSetup) {
  TempDir dir;
  std::ofstream("COM4") << "not a port";
  TComm c;
  c.SetCommName("COM4");
  const int before = commtest::openDescriptorCount();
  EXPECT_EQ(openError(c), "初始化缓冲区出错");
  EXPECT_FALSE(c.IsOpen());
  EXPECT_EQ(commtest::openDescriptorCount(), before);
}

TEST(OpenPort, ComNameFollowsALinkInTheWorkingDirectory) {
  PtyPair pty;
  TempDir dir;
  ASSERT_EQ(::symlink(pty.path().c_str(), "COM1"), 0);
  TComm c;
  commtest::configureLikeComm1(c, "COM1");
  c.OpenPort();
  EXPECT_TRUE(carries(c, pty, 3));
}

TEST(ClosePort, TwiceAndOnAClosedComponentIsHarmlessAndTheComponentReopens) {
  PtyPair pty;
  TComm c;
  commtest::configureLikeComm1(c, pty.path());
  c.ClosePort();
  EXPECT_FALSE(c.IsOpen());
  const int before = commtest::openDescriptorCount();
  for (int round = 0; round < 3; ++round) {
    c.OpenPort();
    EXPECT_TRUE(carries(c, pty, static_cast<std::uint8_t>(10 + round)));
    c.ClosePort();
    c.ClosePort();
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(commtest::openDescriptorCount(), before) << round;  // descriptor and events released
  }
}

TEST(ClosePort, DestroyingAnOpenComponentReleasesThePort) {
  PtyPair pty;
  {
    TComm c;
    commtest::configureLikeComm1(c, pty.path());
    c.OpenPort();
  }
  TComm again;
  commtest::configureLikeComm1(again, pty.path());
  again.OpenPort();
  EXPECT_TRUE(again.IsOpen());
}

TEST(LineSettingsOnThePort, OpeningAppliesTheProperties) {
  PtyPair pty;
  {
    TComm defaults;
    defaults.SetCommName(pty.path());
    defaults.OpenPort();
    EXPECT_EQ(defaults.PortLineSettings().Flags, 0x1391u);
    const termios t = attributes(pty);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);  // raw: every byte passes as it is
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  }
  TComm comm1;
  commtest::configureLikeComm1(comm1, pty.path());
  comm1.OpenPort();
  const LineSettings s = comm1.PortLineSettings();
  EXPECT_EQ(s.Flags, 0x1011u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, 0);
  EXPECT_EQ(s.StopBits, 0);
  EXPECT_EQ(attributes(pty).c_iflag & (IXON | IXOFF), 0u);
}

// A pseudo-terminal keeps 8 data bits and no parity whatever it is told, so those two are
// checked on the record the port holds; speed, stop bits and flow control on the terminal.
TEST(LineSettingsOnThePort, SettersApplyAtOnceExceptParityAndCommName) {
  PtyPair pty;
  TComm c;
  commtest::configureLikeComm1(c, pty.path());
  c.SetBaudRate(4800);  // closed: only stored
  EXPECT_EQ(c.BaudRate(), 4800u);
  c.OpenPort();
  EXPECT_EQ(speedOf(pty), static_cast<speed_t>(B4800));

  c.SetBaudRate(19200);
  EXPECT_EQ(speedOf(pty), static_cast<speed_t>(B19200));
  c.SetStopBits(TStopBits::_2);
  EXPECT_NE(attributes(pty).c_cflag & CSTOPB, 0u);
  c.SetInx_XonXoffFlow(true);
  EXPECT_NE(attributes(pty).c_iflag & IXOFF, 0u);
  c.SetInx_XonXoffFlow(false);
  EXPECT_EQ(attributes(pty).c_iflag & IXOFF, 0u);

  c.SetParity(TParity::Even);  // stored only
  EXPECT_EQ(c.PortLineSettings().Parity, 0);
  c.SetBaudRate(19200);  // the same value: nothing is applied, parity still waits
  EXPECT_EQ(c.PortLineSettings().Parity, 0);
  c.SetByteSize(TByteSize::_7);  // another change applies all, parity with it
  EXPECT_EQ(c.PortLineSettings().Parity, 2);
  EXPECT_EQ(c.PortLineSettings().ByteSize, 7);

  c.SetCommName("/nonexistent/ttyY");  // takes effect at the next opening only
  EXPECT_TRUE(c.IsOpen());
  c.ClosePort();
  EXPECT_EQ(openError(c), "打开串口出错\r\n此串口不存在或被占用");
}
