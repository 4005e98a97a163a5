#include "controlroom/core/TcpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>
#include <vector>

namespace controlroom {

namespace {

using Clock = std::chrono::steady_clock;

std::string errnoText(int e) { return std::strerror(e); }

struct Connection {
  int fd = -1;
  std::string in;
  std::string out;
  std::size_t sent = 0;  ///< bytes of `out` already sent
  Clock::time_point lastActivity;
  /// When the request begun (or awaited) must be whole; max while none is.
  Clock::time_point requestDue = Clock::time_point::max();
  bool closing = false;  ///< no more reading: close once `out` is sent
  bool held = false;     ///< reading paused while too much output waits
};

// Closes the connections whose clients have closed or reset them and that have nothing left
// to deliver. A peek reads no byte: a request still waiting there keeps its connection.
void reapClosed(std::list<Connection>& connections) {
  for (auto it = connections.begin(); it != connections.end();) {
    char byte;
    const ssize_t n = it->out.size() == it->sent ? ::recv(it->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) : 1;
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      ::close(it->fd);
      it = connections.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

struct TcpServer::Loop {
  std::list<Connection> connections;
  mutable std::mutex countsMutex;
  ServerCounts counts;
  ServerCounts logged;  ///< counts at the last log line
  Clock::time_point lastLog = Clock::now();
  std::atomic<bool> stop{false};
};

TcpServer::TcpServer(ServerOptions options, Protocol protocol, std::function<void(const std::string&)> log)
    : options_(std::move(options)), protocol_(std::move(protocol)), log_(std::move(log)), loop_(std::make_unique<Loop>()) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(options_.port));
  if (::inet_pton(AF_INET, options_.listen.c_str(), &addr.sin_addr) != 1)
    throw ListenError("\"" + options_.listen + "\" is no IPv4 address");
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) throw ListenError("cannot make a socket: " + errnoText(errno));
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 64) != 0) {
    const int e = errno;
    ::close(listenFd_);
    throw ListenError("cannot listen on " + options_.listen + ":" + std::to_string(options_.port) + ": " + errnoText(e));
  }
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    const int e = errno;
    ::close(listenFd_);
    throw ListenError("cannot make an eventfd: " + errnoText(e));
  }
  thread_ = std::thread([this] { run(); });
}

TcpServer::~TcpServer() {
  loop_->stop = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto w = ::write(wakeFd_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();
  for (Connection& c : loop_->connections) ::close(c.fd);
  ::close(listenFd_);
  ::close(wakeFd_);
}

ServerCounts TcpServer::counts() const {
  std::lock_guard lock(loop_->countsMutex);
  return loop_->counts;
}

void TcpServer::run() {
  Loop& L = *loop_;
  const auto count = [&L](std::uint64_t ServerCounts::*field, std::uint64_t by = 1) {
    std::lock_guard lock(L.countsMutex);
    L.counts.*field += by;
  };
  std::vector<pollfd> fds;
  std::vector<Connection*> polled;
  char buffer[16384];
  Clock::time_point acceptPausedUntil{};

  while (!L.stop) {
    const Clock::time_point now = Clock::now();

    // Connections silent (or unable to take their answers) for the idle timeout go, and so do
    // those whose request is not whole by its deadline, however steadily its bytes come.
    for (auto it = L.connections.begin(); it != L.connections.end();) {
      const bool idle = now - it->lastActivity >= options_.idleTimeout;
      const bool slow = !it->closing && !it->held && now >= it->requestDue;
      if (idle || slow) {
        count(idle ? &ServerCounts::idleClosed : &ServerCounts::slowClosed);
        ::close(it->fd);
        it = L.connections.erase(it);
      } else {
        ++it;
      }
    }
    {
      std::lock_guard lock(L.countsMutex);
      L.counts.open = L.connections.size();
    }

    // At most one line a logInterval, and only when something went wrong meanwhile.
    if (now - L.lastLog >= options_.logInterval) {
      const ServerCounts c = counts();
      const std::uint64_t malformed = c.malformed - L.logged.malformed, idle = c.idleClosed - L.logged.idleClosed,
                          slow = c.slowClosed - L.logged.slowClosed, refused = c.refused - L.logged.refused,
                          held = c.held - L.logged.held;
      if (malformed || idle || slow || refused || held)
        log_(options_.name + ": since the last report " + std::to_string(malformed) + " malformed requests, " +
             std::to_string(idle) + " idle connections closed, " + std::to_string(slow) +
             " closed for a request not whole in time, " + std::to_string(refused) +
             " connections refused (max_clients), " + std::to_string(held) + " clients held up for not reading");
      L.logged = c;
      L.lastLog = now;
    }

    fds.clear();
    polled.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    // Out of file descriptors: the pending connection stays queued; try again a little later
    // rather than spin on a listening socket that stays readable.
    fds.push_back({listenFd_, static_cast<short>(now < acceptPausedUntil ? 0 : POLLIN), 0});
    for (Connection& c : L.connections) {
      short events = 0;
      const std::size_t waiting = c.out.size() - c.sent;
      if (!c.closing && !c.held && c.in.size() < options_.maxInput) events |= POLLIN;
      if (waiting > 0) events |= POLLOUT;
      fds.push_back({c.fd, events, 0});
      polled.push_back(&c);
    }
    // Wakes at least once a second for the idle timeouts and the log.
    const int ready = ::poll(fds.data(), fds.size(), 1000);
    if (ready < 0) {
      if (errno == EINTR) continue;
      log_(options_.name + ": poll failed: " + errnoText(errno));
      return;
    }
    if (L.stop) break;

    std::vector<Connection*> gone;
    for (std::size_t i = 0; i < polled.size(); ++i) {
      Connection& c = *polled[i];
      const short revents = fds[i + 2].revents;
      if (!revents) continue;
      bool dead = (revents & (POLLERR | POLLNVAL)) != 0;

      if (!dead && (revents & (POLLIN | POLLHUP)) && !c.closing && !c.held) {
        const std::size_t room = options_.maxInput - c.in.size();
        const ssize_t n = ::recv(c.fd, buffer, std::min(room, sizeof buffer), 0);
        if (n > 0) {
          c.in.append(buffer, static_cast<std::size_t>(n));
          c.lastActivity = Clock::now();
          // Every whole request in the buffer is answered, in order.
          std::size_t taken = 0;
          while (!c.closing && taken < c.in.size()) {
            const Served s = protocol_(std::string_view(c.in).substr(taken), c.out);
            if (s.malformed) count(&ServerCounts::malformed);
            if (s.consumed > 0) count(&ServerCounts::requests);
            taken += s.consumed;
            if (s.close) c.closing = true;
            if (s.consumed == 0) break;
          }
          c.in.erase(0, taken);
          if (options_.requestDeadline.count() > 0) {
            // The deadline runs from a request's first byte (or the connection's start) to
            // its last; the bytes of a next request start it again.
            if (c.in.empty()) {
              if (taken > 0) c.requestDue = Clock::time_point::max();
            } else if (taken > 0 || c.requestDue == Clock::time_point::max()) {
              c.requestDue = c.lastActivity + options_.requestDeadline;
            }
          }
          if (!c.closing && c.in.size() >= options_.maxInput) {
            // A request larger than any this protocol knows.
            count(&ServerCounts::malformed);
            c.closing = true;
          }
          if (c.out.size() - c.sent > options_.maxOutput) {
            c.held = true;
            count(&ServerCounts::held);
          }
        } else if (n == 0) {
          c.closing = true;  // the client sends no more: answer what it asked, then close
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          dead = true;
        }
      }

      if (!dead && c.out.size() > c.sent) {
        const ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
        if (n > 0) {
          c.sent += static_cast<std::size_t>(n);
          c.lastActivity = Clock::now();
          if (c.sent == c.out.size()) {
            c.out.clear();
            c.sent = 0;
          } else if (c.sent > options_.maxOutput) {
            c.out.erase(0, c.sent);
            c.sent = 0;
          }
          if (c.held && c.out.size() - c.sent <= options_.maxOutput / 2) {
            c.held = false;
            // The request it holds was not read meanwhile: its time starts again.
            if (!c.in.empty() && options_.requestDeadline.count() > 0) c.requestDue = Clock::now() + options_.requestDeadline;
          }
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          dead = true;
        }
      }
      if (c.closing && c.out.size() == c.sent) dead = true;
      if (dead) gone.push_back(&c);
    }
    for (Connection* c : gone) {
      ::close(c->fd);
      L.connections.remove_if([c](const Connection& x) { return &x == c; });
    }

    // New connections after the others' events, so a client's close seen in this same pass
    // frees its place first.
    if (fds[1].revents & POLLIN) {
      for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
          if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
            acceptPausedUntil = Clock::now() + std::chrono::milliseconds(200);
          break;  // EAGAIN, or a connection that went before it was taken
        }
        // Connections whose clients have gone (a client opening one per read closes the last
        // just before) make room before anyone is refused.
        if (L.connections.size() >= static_cast<std::size_t>(options_.maxClients)) reapClosed(L.connections);
        if (L.connections.size() >= static_cast<std::size_t>(options_.maxClients)) {
          count(&ServerCounts::refused);  // counted before the client can see the close
          ::close(fd);
          continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (options_.kernelSendBuffer > 0)
          ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &options_.kernelSendBuffer, sizeof options_.kernelSendBuffer);
        Connection c;
        c.fd = fd;
        c.lastActivity = Clock::now();
        if (options_.deadlineFromAccept && options_.requestDeadline.count() > 0)
          c.requestDue = c.lastActivity + options_.requestDeadline;
        L.connections.push_back(std::move(c));
        count(&ServerCounts::accepted);
      }
    }
  }
}

}  // namespace controlroom
