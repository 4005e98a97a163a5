#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "comm/port/Event.h"

namespace comm::port {

Event::Event() : handle_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (handle_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

Event::~Event() { ::close(handle_); }

void Event::set() noexcept {
  const std::uint64_t one = 1;
  // Only fails with EAGAIN when the counter is near 2^64, i.e. already set: nothing to do.
  [[maybe_unused]] const ssize_t n = ::write(handle_, &one, sizeof one);
}

void Event::reset() noexcept {
  std::uint64_t value = 0;
  // EAGAIN means it was not set: reset either way.
  [[maybe_unused]] const ssize_t n = ::read(handle_, &value, sizeof value);
}

bool Event::isSet() const noexcept { return wait(0); }

bool Event::wait(int timeoutMs) const noexcept {
  pollfd p{handle_, POLLIN, 0};
  for (;;) {
    const int rc = ::poll(&p, 1, timeoutMs);
    if (rc >= 0) return rc > 0 && (p.revents & POLLIN) != 0;
    if (errno != EINTR) return false;
    // A signal cut the wait short; a limited wait restarts with its whole time, which only
    // lengthens a wait that callers treat as "at least".
  }
}

int waitForEither(const Event& first, const Event& second) noexcept {
  pollfd p[2] = {{first.handle(), POLLIN, 0}, {second.handle(), POLLIN, 0}};
  for (;;) {
    const int rc = ::poll(p, 2, -1);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return -1;
    if ((p[0].revents & POLLIN) != 0) return 0;
    if ((p[1].revents & POLLIN) != 0) return 1;
    return -1;  // POLLERR or POLLNVAL on an event: it is gone
  }
}

void setCurrentThreadPriority(int level) noexcept {
  // Per-thread nice value on Linux: five nice steps per priority step. Raising needs
  // CAP_SYS_NICE; without it the call fails and the thread keeps the normal priority.
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int current = ::getpriority(PRIO_PROCESS, tid);
  if (current == -1 && errno != 0) return;
  [[maybe_unused]] const int rc = ::setpriority(PRIO_PROCESS, tid, current - 5 * level);
}

}  // namespace comm::port
