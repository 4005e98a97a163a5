#include "metrics/MetricsServer.h"

#include <algorithm>
#include <chrono>

#include "metrics/core/Exposition.h"
#include "metrics/core/HttpRequest.h"

namespace metrics {

std::unique_ptr<controlroom::TcpServer> startMetricsServer(const controlroom::Endpoint& endpoint,
                                                           const acquisition::SnapshotBoard& board,
                                                           const SamplingHistogram& runs, std::string version,
                                                           std::function<void(const std::string&)> log) {
  controlroom::ServerOptions o;
  o.name = "metrics";
  o.listen = endpoint.listen;
  o.port = endpoint.port;
  o.maxClients = endpoint.maxClients;
  o.idleTimeout = std::chrono::seconds(endpoint.idleTimeoutSeconds);
  // A scraper sends its request at once: one that has not within the deadline is closed.
  o.requestDeadline = std::chrono::seconds(controlroom::kRequestDeadlineSeconds);
  o.deadlineFromAccept = true;
  o.maxInput = kMaxHead;
  // One answer per connection: it is sent whole, whatever its size.
  o.maxOutput = 4 * 1024 * 1024;
  auto protocol = [&board, &runs, version = std::move(version)](std::string_view in, std::string& out) {
    const auto render = [&](std::string& text) {
      const auto snapshot = board.current();
      text.reserve(4096 + static_cast<std::size_t>(std::max(0, snapshot->unitCount)) * 7 * 1024);
      renderMetrics(*snapshot, runs.counts(), version, text);
    };
    const HttpHandled h = handleHttp(in, render, out);
    // The answer ends the connection (Connection: close).
    return controlroom::Served{h.consumed, h.consumed > 0, h.malformed};
  };
  return std::make_unique<controlroom::TcpServer>(std::move(o), std::move(protocol), std::move(log));
}

}  // namespace metrics
