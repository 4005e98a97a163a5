#include "Line.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>

namespace cellsim {

volatile std::sig_atomic_t stopRequested = 0;

namespace {

[[noreturn]] void fail(const std::string& step) {
  throw LineError(step + ": " + std::strerror(errno));
}

void makeRaw(int fd, bool setSpeed) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) fail("tcgetattr");
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (setSpeed && (cfsetispeed(&t, B9600) != 0 || cfsetospeed(&t, B9600) != 0)) fail("cfsetspeed");
  if (tcsetattr(fd, TCSANOW, &t) != 0) fail("tcsetattr");
}

}  // namespace

std::int64_t monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool sleepUntil(std::int64_t ns) {
  const timespec until{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
  while (!stopRequested) {
    const int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
    if (rc == 0) return !stopRequested;
    if (rc != EINTR) return false;
  }
  return false;
}

Line::Line(const std::string& device, const std::string& link) {
  if (!device.empty()) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) fail("open " + device);
    path_ = device;
    try {
      makeRaw(fd_, true);
    } catch (...) {
      ::close(fd_);
      throw;
    }
    return;
  }
  fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (fd_ < 0) fail("posix_openpt");
  try {
    if (fcntl(fd_, F_SETFD, FD_CLOEXEC) != 0 || fcntl(fd_, F_SETFL, O_NONBLOCK) != 0) fail("fcntl");
    if (grantpt(fd_) != 0) fail("grantpt");
    if (unlockpt(fd_) != 0) fail("unlockpt");
    std::array<char, 128> name{};
    if (ptsname_r(fd_, name.data(), name.size()) != 0) fail("ptsname_r");
    path_ = name.data();
    slaveFd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0) fail("open " + path_);
    // Until the station opens the port and sets it raw itself, an echoing terminal would send
    // our own replies back to us as if they came from the station.
    makeRaw(slaveFd_, false);
    if (!link.empty()) {
      struct stat st{};
      if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        errno = EEXIST;
        fail("link " + link + " (not a symbolic link, left alone)");
      }
      // A link left by a simulator that was killed is replaced; rename makes the swap atomic.
      const std::string temporary = link + ".cellsim-new";
      ::unlink(temporary.c_str());
      if (symlink(path_.c_str(), temporary.c_str()) != 0) fail("symlink " + temporary);
      if (rename(temporary.c_str(), link.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        fail("rename to " + link);
      }
      link_ = link;
    }
  } catch (...) {
    if (slaveFd_ >= 0) ::close(slaveFd_);
    ::close(fd_);
    throw;
  }
}

Line::~Line() {
  removeLink();
  if (slaveFd_ >= 0) ::close(slaveFd_);
  if (fd_ >= 0) ::close(fd_);
}

void Line::removeLink() noexcept {
  if (link_.empty()) return;
  // Only our own link goes: another simulator may have replaced it meanwhile.
  std::array<char, 256> target{};
  const ssize_t n = readlink(link_.c_str(), target.data(), target.size() - 1);
  if (n > 0 && std::string(target.data(), static_cast<std::size_t>(n)) == path_) ::unlink(link_.c_str());
  link_.clear();
}

std::size_t Line::readAvailable(std::span<std::uint8_t> into) {
  for (;;) {
    const ssize_t n = ::read(fd_, into.data(), into.size());
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    fail("read " + path_);
  }
}

bool Line::writePaced(std::span<const std::uint8_t> bytes, int byteMicros) {
  std::int64_t due = monotonicNs();
  std::size_t done = 0;
  while (done < bytes.size()) {
    if (stopRequested) return false;
    // Without pacing everything goes in one write; with it, one byte per byte time.
    const std::size_t chunk = byteMicros > 0 ? 1 : bytes.size() - done;
    const ssize_t n = ::write(fd_, bytes.data() + done, chunk);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      due += static_cast<std::int64_t>(byteMicros) * 1000 * n;
      if (byteMicros > 0 && done < bytes.size() && !sleepUntil(due)) return false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) fail("write " + path_);
    // The other side is not reading: wait a while for room, then give the frame up.
    pollfd p{fd_, POLLOUT, 0};
    const int rc = ::poll(&p, 1, 1000);
    if (rc == 0) return false;
    if (rc < 0 && errno != EINTR) fail("poll " + path_);
    due = monotonicNs();
  }
  return true;
}

}  // namespace cellsim
