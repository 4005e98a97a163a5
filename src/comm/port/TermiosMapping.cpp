#include "comm/port/TermiosMapping.h"

#include <array>
#include <utility>

namespace comm::port {

namespace {

const std::array<std::pair<std::uint32_t, speed_t>, 30> kSpeeds{{
    {50, B50},         {75, B75},         {110, B110},         {134, B134},
    {150, B150},       {200, B200},       {300, B300},         {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},       {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},     {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

}  // namespace

bool speedForBaud(std::uint32_t baud, speed_t& speed) {
  for (const auto& [rate, constant] : kSpeeds)
    if (rate == baud) {
      speed = constant;
      return true;
    }
  return false;
}

std::uint32_t baudForSpeed(speed_t speed) {
  for (const auto& [rate, constant] : kSpeeds)
    if (constant == speed) return rate;
  return 0;
}

bool toTermios(const LineSettings& s, termios& t) {
  speed_t speed{};
  if (!speedForBaud(s.BaudRate, speed)) return false;
  if (s.ByteSize < 5 || s.ByteSize > 8) return false;
  if (s.StopBits > dcb::TwoStopBits) return false;

  tcflag_t parity = 0;
  switch (s.Parity) {
    case dcb::NoParity: break;
    case dcb::OddParity: parity = PARENB | PARODD; break;
    case dcb::EvenParity: parity = PARENB; break;
#ifdef CMSPAR
    case dcb::MarkParity: parity = PARENB | PARODD | CMSPAR; break;
    case dcb::SpaceParity: parity = PARENB | CMSPAR; break;
#endif
    default: return false;
  }

  cfmakeraw(&t);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);

  static constexpr tcflag_t sizes[4] = {CS5, CS6, CS7, CS8};
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
  t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
  t.c_cflag |= CREAD | CLOCAL | sizes[s.ByteSize - 5] | parity;
  if (s.StopBits != dcb::OneStopBit) t.c_cflag |= CSTOPB;
  const bool rtsHandshake = (s.Flags & dcb::fRtsControlMask) == dcb::fRtsControlHandshake;
  if ((s.Flags & dcb::fOutxCtsFlow) != 0 || rtsHandshake) t.c_cflag |= CRTSCTS;

  // Raw mode leaves the input parity and software flow switches alone: start from none.
  t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY);
  if ((s.Flags & dcb::fParity) != 0) t.c_iflag |= INPCK;
  if ((s.Flags & dcb::fOutX) != 0) t.c_iflag |= IXON;
  if ((s.Flags & dcb::fInX) != 0) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
  return true;
}

LineSettings fromTermios(const termios& t, LineSettings base) {
  LineSettings s = base;
  if (const std::uint32_t baud = baudForSpeed(cfgetospeed(&t)); baud != 0) s.BaudRate = baud;
  switch (t.c_cflag & CSIZE) {
    case CS5: s.ByteSize = 5; break;
    case CS6: s.ByteSize = 6; break;
    case CS7: s.ByteSize = 7; break;
    default: s.ByteSize = 8; break;
  }
  s.Parity = dcb::NoParity;
  if ((t.c_cflag & PARENB) != 0) {
    const bool odd = (t.c_cflag & PARODD) != 0;
    s.Parity = odd ? dcb::OddParity : dcb::EvenParity;
#ifdef CMSPAR
    if ((t.c_cflag & CMSPAR) != 0) s.Parity = odd ? dcb::MarkParity : dcb::SpaceParity;
#endif
  }
  s.StopBits = (t.c_cflag & CSTOPB) != 0 ? dcb::TwoStopBits : dcb::OneStopBit;
  s.Flags = dcb::fBinary | (s.Flags & (dcb::fDtrControlMask | dcb::fRtsControlMask));
  if ((t.c_iflag & INPCK) != 0) s.Flags |= dcb::fParity;
  if ((t.c_cflag & CRTSCTS) != 0) s.Flags |= dcb::fOutxCtsFlow;
  if ((t.c_iflag & IXON) != 0) s.Flags |= dcb::fOutX;
  if ((t.c_iflag & IXOFF) != 0) s.Flags |= dcb::fInX;
  s.XonChar = t.c_cc[VSTART];
  s.XoffChar = t.c_cc[VSTOP];
  return s;
}

}  // namespace comm::port
