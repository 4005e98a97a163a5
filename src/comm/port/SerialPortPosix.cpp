// The serial device over POSIX: termios for the line, poll() for every wait (the stop event's
// descriptor in the same wait), O_NONBLOCK with VMIN = VTIME = 0 so the kernel applies no
// time limit of its own: the gap between bytes is measured here.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "comm/port/SerialPort.h"
#include "comm/port/TermiosMapping.h"

namespace comm::port {

using Clock = Deadline::Clock;

struct SerialPort::Impl {
  int fd = -1;
  LineSettings shadow;  // owner's thread only
  // The time limits are read by the worker threads while the owner may change them.
  std::atomic<std::uint32_t> readInterval{0};
  std::atomic<std::uint32_t> readMultiplier{0};
  std::atomic<std::uint32_t> readConstant{0};
  std::atomic<std::uint32_t> writeMultiplier{0};
  std::atomic<std::uint32_t> writeConstant{0};
  std::atomic<bool> dropNulls{false};
};

namespace {

bool unsupported(int err) { return err == ENOTTY || err == EINVAL || err == ENOSYS; }

// USB adapters hold received bytes up to their latency timer unless told otherwise; drivers
// that do not know the request refuse it, which changes nothing.
void requestLowLatency(int fd) {
  serial_struct ss{};
  if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return;
  ss.flags |= ASYNC_LOW_LATENCY;
  [[maybe_unused]] const int rc = ::ioctl(fd, TIOCSSERIAL, &ss);
}

void setModemLine(int fd, int line, bool raised) {
  // Pseudo-terminals have no modem lines and answer ENOTTY/EINVAL: nothing to set there.
  [[maybe_unused]] const int rc = ::ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line);
}

std::size_t dropZeroBytes(std::uint8_t* data, std::size_t n) {
  return static_cast<std::size_t>(std::remove(data, data + n, std::uint8_t{0}) - data);
}

}  // namespace

SerialPort::SerialPort() : d_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() { close(); }

bool SerialPort::open(const std::string& path) {
  if (d_->fd >= 0) return false;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // The advisory lock keeps out other holders, privileged ones included; TIOCEXCL keeps
  // unprivileged programs that do not lock from opening the terminal at all.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  // Fails on a device that is not a terminal; setupQueues() reports that.
  [[maybe_unused]] const int rc = ::ioctl(fd, TIOCEXCL);
  d_->fd = fd;
  return true;
}

bool SerialPort::setupQueues(std::size_t, std::size_t) {
  // The kernel's queue sizes are fixed (4096 bytes on the input side for a tty); what is
  // checked here is that the device is a terminal at all, and it is put in raw mode.
  termios t{};
  if (d_->fd < 0 || ::tcgetattr(d_->fd, &t) != 0) return false;
  LineSettings base;
  base.Flags = dcb::fBinary | dcb::fDtrControlEnable | dcb::fRtsControlEnable;
  d_->shadow = fromTermios(t, base);
  cfmakeraw(&t);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(d_->fd, TCSANOW, &t) != 0) return false;
  requestLowLatency(d_->fd);
  return true;
}

void SerialPort::close() noexcept {
  if (d_->fd < 0) return;
  // The exclusive flag belongs to the terminal, not to this descriptor: clear it so the next
  // opener is not refused while another descriptor keeps the terminal alive.
  [[maybe_unused]] const int rc = ::ioctl(d_->fd, TIOCNXCL);
  ::close(d_->fd);  // also releases the advisory lock
  d_->fd = -1;
}

bool SerialPort::isOpen() const noexcept { return d_->fd >= 0; }

void SerialPort::purge(unsigned flags) noexcept {
  if (d_->fd < 0) return;
  // Pending reads and writes are ended by the stop event; here only the queues are emptied.
  if ((flags & (kPurgeTxAbort | kPurgeTxClear)) != 0) ::tcflush(d_->fd, TCOFLUSH);
  if ((flags & (kPurgeRxAbort | kPurgeRxClear)) != 0) ::tcflush(d_->fd, TCIFLUSH);
}

LineSettings SerialPort::lineSettings() const { return d_->shadow; }

bool SerialPort::applyLineSettings(const LineSettings& s) noexcept {
  termios t{};
  if (d_->fd < 0 || ::tcgetattr(d_->fd, &t) != 0) return false;
  if (!toTermios(s, t)) return false;
  // The record counts as written even when the device keeps less of it: glibc reports EINVAL
  // when a pseudo-terminal drops parity or data bits, yet the rest has been applied.
  d_->shadow = s;
  d_->dropNulls.store((s.Flags & dcb::fNull) != 0, std::memory_order_relaxed);
  const bool accepted = ::tcsetattr(d_->fd, TCSANOW, &t) == 0;
  const std::uint32_t dtr = s.Flags & dcb::fDtrControlMask;
  const std::uint32_t rts = s.Flags & dcb::fRtsControlMask;
  setModemLine(d_->fd, TIOCM_DTR, dtr != 0);
  // Under handshake the kernel drives RTS itself (CRTSCTS).
  if (rts != dcb::fRtsControlHandshake) setModemLine(d_->fd, TIOCM_RTS, rts != 0);
  return accepted;
}

CommTimeouts SerialPort::timeouts() const noexcept {
  CommTimeouts t;
  t.ReadIntervalTimeout = d_->readInterval.load(std::memory_order_relaxed);
  t.ReadTotalTimeoutMultiplier = d_->readMultiplier.load(std::memory_order_relaxed);
  t.ReadTotalTimeoutConstant = d_->readConstant.load(std::memory_order_relaxed);
  t.WriteTotalTimeoutMultiplier = d_->writeMultiplier.load(std::memory_order_relaxed);
  t.WriteTotalTimeoutConstant = d_->writeConstant.load(std::memory_order_relaxed);
  return t;
}

void SerialPort::applyTimeouts(const CommTimeouts& t) noexcept {
  d_->readInterval.store(t.ReadIntervalTimeout, std::memory_order_relaxed);
  d_->readMultiplier.store(t.ReadTotalTimeoutMultiplier, std::memory_order_relaxed);
  d_->readConstant.store(t.ReadTotalTimeoutConstant, std::memory_order_relaxed);
  d_->writeMultiplier.store(t.WriteTotalTimeoutMultiplier, std::memory_order_relaxed);
  d_->writeConstant.store(t.WriteTotalTimeoutConstant, std::memory_order_relaxed);
}

ReadOutcome SerialPort::read(ReadRequest& r, const Event& stop, const Deadline& statusDue, int& error) noexcept {
  for (;;) {
    const auto now = Clock::now();
    const CommTimeouts t = timeouts();
    // The block-end rules of the published read time limits.
    bool immediate = false;
    Deadline readDue = Deadline::never();
    if (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0) {
      immediate = true;  // whatever has arrived, as soon as anything has
    } else if (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
               t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword) {
      immediate = true;
      readDue = Deadline::after(r.started, t.ReadTotalTimeoutConstant);
    } else {
      if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0)
        readDue = Deadline::after(r.started, std::uint64_t{t.ReadTotalTimeoutMultiplier} * r.capacity +
                                                 t.ReadTotalTimeoutConstant);
      if (t.ReadIntervalTimeout != 0 && r.count > 0)
        readDue = Deadline::earlier(readDue, Deadline::after(r.lastByte, t.ReadIntervalTimeout));
    }
    if (r.count == r.capacity || (immediate && r.count > 0)) return ReadOutcome::Complete;
    if (readDue.expired(now)) return r.count > 0 ? ReadOutcome::Complete : ReadOutcome::TimedOutEmpty;
    if (statusDue.expired(now)) return ReadOutcome::StatusDue;

    pollfd fds[2] = {{stop.handle(), POLLIN, 0}, {d_->fd, POLLIN, 0}};
    timespec left{};
    const bool limited = Deadline::earlier(readDue, statusDue).remaining(left, now);
    const int rc = ::ppoll(fds, 2, limited ? &left : nullptr, nullptr);
    if (rc < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return ReadOutcome::Failed;
    }
    if (fds[0].revents != 0) return ReadOutcome::Closed;
    if ((fds[1].revents & POLLNVAL) != 0) return ReadOutcome::InvalidHandle;
    if (fds[1].revents == 0) continue;  // a deadline passed: decided at the top

    const ssize_t n = ::read(d_->fd, r.buffer + r.count, r.capacity - r.count);
    if (n > 0) {
      r.lastByte = Clock::now();
      auto got = static_cast<std::size_t>(n);
      if (d_->dropNulls.load(std::memory_order_relaxed)) got = dropZeroBytes(r.buffer + r.count, got);
      r.count += got;
      continue;
    }
    // Bytes already gathered are delivered first; the condition shows again on the next read.
    if (n == 0) return r.count > 0 ? ReadOutcome::Complete : ReadOutcome::EndOfFile;
    if (errno == EAGAIN || errno == EINTR) continue;
    if (errno == EBADF) return ReadOutcome::InvalidHandle;
    if (r.count > 0) return ReadOutcome::Complete;
    error = errno;
    return ReadOutcome::Failed;
  }
}

WriteResult SerialPort::write(const std::uint8_t* data, std::size_t length, const Event& stop) noexcept {
  // The write time limits are not applied: a write cut short by them is continued with the
  // rest by the caller, so their only effect would be extra wake-ups.
  for (;;) {
    const ssize_t n = ::write(d_->fd, data, length);
    if (n > 0) return {WriteResult::Kind::Written, static_cast<std::size_t>(n), 0};
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EBADF) return {WriteResult::Kind::InvalidHandle, 0, EBADF};
    if (n < 0 && errno != EAGAIN) return {WriteResult::Kind::Failed, 0, errno};

    pollfd fds[2] = {{stop.handle(), POLLIN, 0}, {d_->fd, POLLOUT, 0}};
    const int rc = ::ppoll(fds, 2, nullptr, nullptr);
    if (rc < 0) {
      if (errno == EINTR) continue;
      return {WriteResult::Kind::Failed, 0, errno};
    }
    if (fds[0].revents != 0) return {WriteResult::Kind::Closed, 0, 0};
    if ((fds[1].revents & POLLNVAL) != 0) return {WriteResult::Kind::InvalidHandle, 0, EBADF};
    // Room, or an error or hang-up that the next write reports.
  }
}

StatusResult SerialPort::sampleStatus(StatusSample& out, int& error) noexcept {
  out = StatusSample{};
  serial_icounter_struct ic{};
  if (::ioctl(d_->fd, TIOCGICOUNT, &ic) == 0) {
    out.haveCounters = true;
    out.counters.carrierDetect = static_cast<std::uint32_t>(ic.dcd);
    out.counters.ring = static_cast<std::uint32_t>(ic.rng);
    out.counters.frame = static_cast<std::uint32_t>(ic.frame);
    out.counters.overrun = static_cast<std::uint32_t>(ic.overrun);
    out.counters.parity = static_cast<std::uint32_t>(ic.parity);
    out.counters.breaks = static_cast<std::uint32_t>(ic.brk);
    out.counters.bufferOverrun = static_cast<std::uint32_t>(ic.buf_overrun);
  } else if (errno == EBADF) {
    return StatusResult::InvalidHandle;
  } else if (!unsupported(errno)) {
    error = errno;
    return StatusResult::Failed;
  }
  int lines = 0;
  if (::ioctl(d_->fd, TIOCMGET, &lines) == 0) {
    out.haveModemLines = true;
    out.carrierDetect = (lines & TIOCM_CD) != 0;
    out.ring = (lines & TIOCM_RI) != 0;
  } else if (errno == EBADF) {
    return StatusResult::InvalidHandle;
  } else if (!unsupported(errno)) {
    error = errno;
    return StatusResult::Failed;
  }
  return out.haveCounters || out.haveModemLines ? StatusResult::Sampled : StatusResult::Unsupported;
}

}  // namespace comm::port
