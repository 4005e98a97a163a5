#include "common/StationLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace common {

namespace {

pid_t readHolder(int fd) {
  char buf[32] = {};
  const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  if (n <= 0) return 0;
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(buf, buf + n, pid);
  (void)end;
  return ec == std::errc() && pid > 0 ? pid : 0;
}

}  // namespace

StationLock::StationLock(const std::string& folder) {
  const std::string path = folder.empty() ? std::string(kFileName) : folder + "/" + kFileName;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    error_ = "cannot open " + path + ": " + std::strerror(errno);
    return;
  }
  int rc;
  do rc = ::flock(fd, LOCK_EX | LOCK_NB);
  while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    if (err == EWOULDBLOCK) {
      anotherStation_ = true;
      holder_ = readHolder(fd);
      error_ = holder_ > 0 ? "another station runs in this folder (process " + std::to_string(holder_) + ")"
                           : std::string("another station runs in this folder");
    } else {
      error_ = "cannot lock " + path + ": " + std::strerror(err);
    }
    ::close(fd);
    return;
  }
  // The id is for people and the refusal message only; the lock itself is the flock.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    // A full disk must not stop the station: the lock holds without the id in the file.
    error_ = std::string("cannot write the process id into ") + path + ": " + std::strerror(errno);
  }
  fd_ = fd;
}

StationLock::~StationLock() {
  // Closing drops the lock. The file stays: removing it could race a station starting now,
  // which would then lock a file no longer in the folder.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace common
