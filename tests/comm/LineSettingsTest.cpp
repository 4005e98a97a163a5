// The settings record built from the properties, its mapping onto termios, and port names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "comm/PortName.h"
#include "comm/TComm.h"
#include "comm/port/TermiosMapping.h"

using namespace comm;

TEST(LineSettings, FlagWordOfComm1AndOfTheDefaults) {
  TComm defaults;
  const LineSettings d = defaults.BuildLineSettings({});
  EXPECT_EQ(d.Flags, 0x1391u);
  EXPECT_EQ(d.BaudRate, 9600u);
  EXPECT_EQ(d.ByteSize, 8);
  EXPECT_EQ(d.Parity, 0);
  EXPECT_EQ(d.StopBits, 0);
  EXPECT_EQ(d.XonLim, 500);
  EXPECT_EQ(d.XoffLim, 500);
  EXPECT_EQ(d.XonChar, 0x11);
  EXPECT_EQ(d.XoffChar, 0x13);
  EXPECT_EQ(d.ErrorChar, 0);

  TComm comm1;
  comm1.SetCommName("COM1");
  comm1.SetTxContinueOnXoff(false);
  comm1.SetOutx_XonXoffFlow(false);
  comm1.SetInx_XonXoffFlow(false);
  EXPECT_EQ(comm1.BuildLineSettings({}).Flags, 0x1011u);
}

TEST(LineSettings, DefaultsOfEveryProperty) {
  TComm c;
  EXPECT_EQ(c.CommName(), "COM2");
  EXPECT_FALSE(c.ParityCheck() || c.Outx_CtsFlow() || c.Outx_DsrFlow() || c.DsrSensitivity() ||
               c.ReplaceWhenParityError() || c.IgnoreNullChar());
  EXPECT_TRUE(c.TxContinueOnXoff() && c.Outx_XonXoffFlow() && c.Inx_XonXoffFlow());
  EXPECT_EQ(c.DtrControl(), TDtrControl::DtrEnable);
  EXPECT_EQ(c.RtsControl(), TRtsControl::RtsEnable);
  EXPECT_EQ(c.ByteSize(), TByteSize::_8);
  EXPECT_EQ(c.Parity(), TParity::None);
  EXPECT_EQ(c.StopBits(), TStopBits::_1);
  EXPECT_EQ(c.ReplacedChar(), 0);
  const CommTimeouts t = c.BuildTimeouts();
  EXPECT_EQ(t, (CommTimeouts{100, 0, 0, 0, 0}));
  EXPECT_FALSE(c.IsOpen());
  EXPECT_FALSE(c.OnReceiveData());
}

TEST(LineSettings, EachPropertySetsItsOwnBitsOnly) {
  struct Case {
    const char* name;
    std::function<void(TComm&)> set;
    std::uint32_t flags;
  };
  const Case cases[] = {
      {"ParityCheck", [](TComm& c) { c.SetParityCheck(true); }, 0x1013},
      {"Outx_CtsFlow", [](TComm& c) { c.SetOutx_CtsFlow(true); }, 0x1015},
      {"Outx_DsrFlow", [](TComm& c) { c.SetOutx_DsrFlow(true); }, 0x1019},
      {"DtrDisable", [](TComm& c) { c.SetDtrControl(TDtrControl::DtrDisable); }, 0x1001},
      {"DtrHandshake", [](TComm& c) { c.SetDtrControl(TDtrControl::DtrHandshake); }, 0x1021},
      {"DsrSensitivity", [](TComm& c) { c.SetDsrSensitivity(true); }, 0x1051},
      {"TxContinueOnXoff", [](TComm& c) { c.SetTxContinueOnXoff(true); }, 0x1091},
      {"Outx_XonXoffFlow", [](TComm& c) { c.SetOutx_XonXoffFlow(true); }, 0x1111},
      {"Inx_XonXoffFlow", [](TComm& c) { c.SetInx_XonXoffFlow(true); }, 0x1211},
      {"ReplaceWhenParityError", [](TComm& c) { c.SetReplaceWhenParityError(true); }, 0x1411},
      {"IgnoreNullChar", [](TComm& c) { c.SetIgnoreNullChar(true); }, 0x1811},
      {"RtsDisable", [](TComm& c) { c.SetRtsControl(TRtsControl::RtsDisable); }, 0x0011},
      {"RtsHandshake", [](TComm& c) { c.SetRtsControl(TRtsControl::RtsHandshake); }, 0x2011},
      {"RtsTransmissionAvailable", [](TComm& c) { c.SetRtsControl(TRtsControl::RtsTransmissionAvailable); }, 0x3011},
  };
  for (const auto& k : cases) {
    TComm c;
    c.SetTxContinueOnXoff(false);
    c.SetOutx_XonXoffFlow(false);
    c.SetInx_XonXoffFlow(false);
    k.set(c);
    EXPECT_EQ(c.BuildLineSettings({}).Flags, k.flags) << k.name;
  }
}

TEST(LineSettings, ValuesAndKeptCharacters) {
  TComm c;
  c.SetBaudRate(115200);
  c.SetByteSize(TByteSize::_5);
  c.SetParity(TParity::Space);
  c.SetStopBits(TStopBits::_1_5);
  c.SetXonLimit(7);
  c.SetXoffLimit(9);
  c.SetXonChar(0x21);
  c.SetXoffChar(0x22);
  c.SetReplacedChar(0x3F);
  LineSettings current;
  current.EofChar = 0x1A;
  current.EvtChar = 0x0D;
  current.Flags = 0xFFFFFFFF;  // bits not listed (fAbortOnError and above) end up 0
  const LineSettings s = c.BuildLineSettings(current);
  EXPECT_EQ(s.BaudRate, 115200u);
  EXPECT_EQ(s.ByteSize, 5);
  EXPECT_EQ(s.Parity, 4);
  EXPECT_EQ(s.StopBits, 1);
  EXPECT_EQ(s.XonLim, 7);
  EXPECT_EQ(s.XoffLim, 9);
  EXPECT_EQ(s.XonChar, 0x21);
  EXPECT_EQ(s.XoffChar, 0x22);
  EXPECT_EQ(s.ErrorChar, 0x3F);
  EXPECT_EQ(s.EofChar, 0x1A);
  EXPECT_EQ(s.EvtChar, 0x0D);
  EXPECT_EQ(s.Flags & ~0x3FFFu, 0u);
}

TEST(TermiosMapping, LineSettingsReachTermios) {
  struct Case {
    std::uint8_t byteSize, parity, stopBits;
    std::uint32_t flags;
    tcflag_t cflagSet, cflagClear, iflagSet, iflagClear;
  };
  const Case cases[] = {
      {8, dcb::NoParity, dcb::OneStopBit, 0x1011, CS8 | CREAD | CLOCAL, PARENB | CSTOPB | CRTSCTS, 0, IXON | IXOFF | INPCK},
      {7, dcb::EvenParity, dcb::TwoStopBits, 0x1013, CS7 | PARENB | CSTOPB, PARODD | CMSPAR, INPCK, IXON},
      {6, dcb::OddParity, dcb::OneStopBit, 0x1391, CS6 | PARENB | PARODD, CMSPAR | CSTOPB, IXON | IXOFF, INPCK},
      {5, dcb::MarkParity, dcb::One5StopBits, 0x1015, CS5 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS, 0, 0, 0},
      {8, dcb::SpaceParity, dcb::OneStopBit, 0x2011, CS8 | PARENB | CMSPAR | CRTSCTS, PARODD, 0, 0},
  };
  for (const auto& k : cases) {
    LineSettings s;
    s.BaudRate = 19200;
    s.ByteSize = k.byteSize;
    s.Parity = k.parity;
    s.StopBits = k.stopBits;
    s.Flags = k.flags;
    s.XonChar = 0x05;
    s.XoffChar = 0x06;
    termios t{};
    t.c_lflag = ICANON | ECHO;       // raw mode must clear these
    t.c_iflag = IXON | IXOFF | IXANY | INPCK | IGNPAR;  // and these come only from the record
    t.c_cflag = CSIZE;          // every size bit set: only the asked size may stay
    ASSERT_TRUE(port::toTermios(s, t));
    const tcflag_t size = t.c_cflag & CSIZE;
    EXPECT_EQ(size, k.cflagSet & CSIZE) << int(k.byteSize);
    EXPECT_EQ(t.c_cflag & (k.cflagSet & ~CSIZE), k.cflagSet & ~CSIZE) << int(k.byteSize);
    EXPECT_EQ(t.c_cflag & k.cflagClear, 0u) << int(k.byteSize);
    EXPECT_EQ(t.c_iflag & k.iflagSet, k.iflagSet) << int(k.byteSize);
    EXPECT_EQ(t.c_iflag & k.iflagClear, 0u) << int(k.byteSize);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(t.c_cc[VSTART], 0x05);
    EXPECT_EQ(t.c_cc[VSTOP], 0x06);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));

    // Read back, the fields termios holds come out as they went in.
    const LineSettings back = port::fromTermios(t, LineSettings{});
    EXPECT_EQ(back.ByteSize, k.byteSize);
    EXPECT_EQ(back.Parity, k.parity);
    EXPECT_EQ(back.StopBits == 0, k.stopBits == 0);
    EXPECT_EQ(back.BaudRate, 19200u);
  }
}

TEST(TermiosMapping, RefusedRecordsChangeNothing) {
  termios before{};
  before.c_cflag = CS7 | PARENB;
  cfsetospeed(&before, B1200);
  const std::function<void(LineSettings&)> refused[] = {
      [](LineSettings& s) { s.BaudRate = 12345; },  // no termios constant
      [](LineSettings& s) { s.ByteSize = 9; },
      [](LineSettings& s) { s.Parity = 5; },
      [](LineSettings& s) { s.StopBits = 3; },
  };
  for (std::size_t i = 0; i < std::size(refused); ++i) {
    LineSettings s;
    refused[i](s);
    termios t = before;
    EXPECT_FALSE(port::toTermios(s, t)) << i;
    EXPECT_EQ(t.c_cflag, before.c_cflag) << i;
    EXPECT_EQ(cfgetospeed(&t), cfgetospeed(&before)) << i;
  }
}

TEST(PortName, ComNamesPathsAndLinksInTheWorkingDirectory) {
  const auto oldCwd = std::filesystem::current_path();
  char tmpl[] = "/tmp/portnameXXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  std::filesystem::current_path(tmpl);

  EXPECT_EQ(resolvePortPath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(resolvePortPath("COM12"), "/dev/ttyS11");
  EXPECT_EQ(resolvePortPath("/dev/pts/7"), "/dev/pts/7");
  EXPECT_EQ(resolvePortPath("COM0"), "COM0");      // no ttyS-1
  EXPECT_EQ(resolvePortPath("COM01"), "COM01");    // not a port number
  EXPECT_EQ(resolvePortPath("COM1x"), "COM1x");
  EXPECT_EQ(resolvePortPath("com1"), "com1");
  EXPECT_EQ(resolvePortPath("COM99999999999"), "COM99999999999");  // too long to be a number

  ASSERT_EQ(::symlink("/dev/null", "COM1"), 0);
  ASSERT_EQ(::symlink("/nonexistent/device", "COM3"), 0);
  EXPECT_EQ(resolvePortPath("COM1"), "COM1");
  EXPECT_EQ(resolvePortPath("COM3"), "COM3");  // a dangling link still names the port meant
  EXPECT_EQ(resolvePortPath("COM2"), "/dev/ttyS1");

  std::filesystem::current_path(oldCwd);
  std::filesystem::remove_all(tmpl);
}
