#pragma once
// The metrics endpoint's HTTP: a request head is read whole (at most kMaxHead bytes), GET or
// HEAD of /metrics is answered with the exposition, anything else with a short error; every
// answer closes the connection. Bytes no HTTP request starts with (a TLS ClientHello, NUL) are
// answered 400 at once, without waiting for a head.
#include <functional>
#include <string>
#include <string_view>

namespace metrics {

inline constexpr std::size_t kMaxHead = 8192;

struct HttpHandled {
  /// Bytes taken; 0 while the head is incomplete.
  std::size_t consumed = 0;
  /// The request could not be read as HTTP (answered 400 or 431).
  bool malformed = false;
  int status = 0;
};

/// Answers the request at the start of `in`, appending the response to `out`. `body` renders
/// the exposition (called only for GET and HEAD of /metrics).
HttpHandled handleHttp(std::string_view in, const std::function<void(std::string&)>& body, std::string& out);

}  // namespace metrics
