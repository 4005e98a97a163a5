#pragma once
// Test helpers on loopback without Qt: free ports, a raw TCP client whose waits are bounded,
// Modbus read requests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

inline int freePort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(s);
    throw std::runtime_error("no free port");
  }
  ::close(s);
  return ntohs(a.sin_port);
}

/// A blocking TCP client whose every wait is bounded.
class Client {
 public:
  /// receiveBuffer > 0: a small receive buffer, so that unread answers back up quickly.
  explicit Client(int port, int receiveBuffer = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("cannot connect");
  }
  ~Client() { ::close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void send(const std::string& bytes) {
    if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("send failed");
  }
  /// Sends what the socket takes without waiting; returns the bytes sent.
  std::size_t sendSome(const std::string& bytes) {
    const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  /// Reads until `n` bytes have come, the peer closed, or `ms` passed.
  std::string receive(std::size_t n, int ms = 10000) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      char buf[4096];
      const ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - got.size()), 0);
      if (r <= 0) {
        closed_ = true;
        break;
      }
      got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  }
  /// Whether the server closed the connection within `ms` (any bytes before it are dropped).
  bool closedWithin(int ms) {
    receive(1 << 20, ms);
    return closed_;
  }

 private:
  int fd_ = -1;
  bool closed_ = false;
};

/// A Modbus TCP read request.
inline std::string readRequest(int unit, int address, int count, int transaction = 1, int function = 3) {
  return {static_cast<char>(transaction >> 8), static_cast<char>(transaction), 0, 0, 0, 6, static_cast<char>(unit),
          static_cast<char>(function), static_cast<char>(address >> 8), static_cast<char>(address),
          static_cast<char>(count >> 8), static_cast<char>(count)};
}
