#pragma once
// Runs a piece of plain code in a child process as the unprivileged user nobody, so tests run
// by root can see what an ordinary user meets (permission checks do not apply to root).
#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

/// Tests that act as nobody skip themselves unless run by root (as test.sh is).
inline constexpr uid_t kNobody = 65534;
inline constexpr gid_t kNoGroup = 65534;

/// The text `body` returns, computed as nobody with exactly the supplementary `groups`.
inline std::string asNobody(const std::vector<gid_t>& groups, const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::close(fds[0]);
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(kNoGroup) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
    const std::string text = body();
    const ssize_t n = ::write(fds[1], text.data(), text.size());
    ::_exit(n == static_cast<ssize_t>(text.size()) ? 0 : 4);
  }
  ::close(fds[1]);
  std::string out;
  char buf[512];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("the child as nobody failed, status " + std::to_string(status));
  return out;
}
