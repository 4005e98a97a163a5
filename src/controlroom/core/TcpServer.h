#pragma once
// A small TCP server on a thread of its own, for the control-room protocols: one poll() loop
// over non-blocking sockets, a bounded buffer per connection, at most maxClients connections,
// connections idle for idleTimeout closed, and a request that does not arrive whole within
// requestDeadline closed (a client trickling bytes cannot hold a place for long). The protocol
// is a function from the bytes received to an answer; it runs on the server's thread and must
// not block.
//
// Memory stays bounded whatever clients do: a connection holds at most maxInput unconsumed
// bytes (a frame that does not fit is malformed: the connection is closed) and stops being
// read while more than maxOutput bytes of answers wait to be sent (a client that sends
// requests without reading the answers holds itself up, nobody else).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

namespace controlroom {

/// What the protocol did with the bytes it was given.
struct Served {
  /// Bytes of the input taken; 0 while no whole request has come.
  std::size_t consumed = 0;
  /// Close the connection once the answers appended so far are sent.
  bool close = false;
  /// The request was malformed (counted for the log).
  bool malformed = false;
};

/// Appends the answer to the first request of `input` to `output`.
using Protocol = std::function<Served(std::string_view input, std::string& output)>;

struct ServerOptions {
  std::string name;              ///< for the log: "Modbus", "metrics"
  std::string listen = "127.0.0.1";
  int port = 0;                  ///< 0: any free port (tests)
  int maxClients = 32;
  std::chrono::milliseconds idleTimeout{60000};
  /// A request begun must be whole within this, however steadily its bytes come; 0: no limit.
  std::chrono::milliseconds requestDeadline{0};
  /// The deadline of the first request runs from the connection's start, not its first byte
  /// (a protocol whose client sends at once: HTTP).
  bool deadlineFromAccept = false;
  std::size_t maxInput = 4096;
  std::size_t maxOutput = 64 * 1024;
  /// The socket's send buffer in the kernel, 0 for the system's (which grows to megabytes for a
  /// client that does not read): small for many short answers, the default for large ones.
  int kernelSendBuffer = 0;
  /// How often the counts of faults are logged at most.
  std::chrono::milliseconds logInterval{60000};
};

/// Counts since the start, for the log and for tests.
struct ServerCounts {
  std::uint64_t accepted = 0;
  std::uint64_t refused = 0;     ///< over maxClients (after closing those whose clients had gone)
  std::uint64_t requests = 0;
  std::uint64_t malformed = 0;
  std::uint64_t idleClosed = 0;  ///< silent or half-open connections closed after idleTimeout
  std::uint64_t slowClosed = 0;  ///< connections closed for a request not whole within requestDeadline
  std::uint64_t held = 0;        ///< times a connection was held up with maxOutput waiting
  std::uint64_t open = 0;        ///< connections open now
};

/// The listening socket cannot be set up (address unusable, port in use); what() says why.
class ListenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TcpServer {
 public:
  /// Binds and listens at once (throws ListenError), then serves on its own thread. `log`
  /// receives the lines to log (from the server's thread).
  TcpServer(ServerOptions options, Protocol protocol, std::function<void(const std::string&)> log);
  /// Stops the thread and closes every connection.
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  /// The port listened on (the one chosen when the options said 0).
  int port() const { return port_; }
  ServerCounts counts() const;

 private:
  struct Loop;
  void run();

  ServerOptions options_;
  Protocol protocol_;
  std::function<void(const std::string&)> log_;
  int listenFd_ = -1;
  int wakeFd_ = -1;
  int port_ = 0;
  std::unique_ptr<Loop> loop_;
  std::thread thread_;
};

}  // namespace controlroom
