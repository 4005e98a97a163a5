#include "metrics/core/HttpRequest.h"

#include <algorithm>

#include "metrics/core/Exposition.h"

namespace metrics {

namespace {

void respond(std::string& out, int status, const char* reason, const char* type, std::string_view body, bool head,
             const char* extra = "") {
  out += "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" + extra + "\r\n";
  if (!head) out += body;
}

// Whether `in` can still become a request head: it starts with a method in capitals and holds
// no control byte but the line ends and tabs. A TLS ClientHello (0x16 first) or NUL bytes
// cannot, and need not wait for a head that never comes.
bool couldBeHttp(std::string_view in) {
  if (!in.empty() && (in.front() < 'A' || in.front() > 'Z')) return false;
  for (const char c : in) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && b != '\r' && b != '\n' && b != '\t') || b == 0x7f) return false;
  }
  return true;
}

}  // namespace

HttpHandled handleHttp(std::string_view in, const std::function<void(std::string&)>& body, std::string& out) {
  std::size_t end = in.find("\r\n\r\n");
  std::size_t endLen = 4;
  if (end == std::string_view::npos) {
    end = in.find("\n\n");
    endLen = 2;
  }
  if (!couldBeHttp(in.substr(0, std::min(end, kMaxHead)))) {
    respond(out, 400, "Bad Request", "text/plain", "bad request\n", false);
    return {in.size(), true, 400};
  }
  if (end == std::string_view::npos || end + endLen > kMaxHead) {
    if (in.size() < kMaxHead) return {};
    respond(out, 431, "Request Header Fields Too Large", "text/plain", "request head too large\n", false);
    return {in.size(), true, 431};
  }
  const std::size_t consumed = end + endLen;
  const std::string_view line = in.substr(0, in.find_first_of("\r\n"));
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || !line.substr(sp2 + 1).starts_with("HTTP/1.")) {
    respond(out, 400, "Bad Request", "text/plain", "bad request\n", false);
    return {consumed, true, 400};
  }
  const std::string_view method = line.substr(0, sp1);
  std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  target = target.substr(0, target.find('?'));
  if (target != "/metrics") {
    respond(out, 404, "Not Found", "text/plain", "only /metrics is served here\n", false);
    return {consumed, false, 404};
  }
  const bool head = method == "HEAD";
  if (method != "GET" && !head) {
    respond(out, 405, "Method Not Allowed", "text/plain", "only GET\n", false, "Allow: GET, HEAD\r\n");
    return {consumed, false, 405};
  }
  std::string text;
  body(text);
  respond(out, 200, "OK", kContentType, text, head);
  return {consumed, false, 200};
}

}  // namespace metrics
