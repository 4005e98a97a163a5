// Figures of the control-room servers on loopback; see CMakeLists.txt for what is measured.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "controlroom/RawClient.h"
#include "metrics/MetricsServer.h"
#include "metrics/core/Exposition.h"
#include "modbus/ModbusServer.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

acquisition::StationSnapshot fullStation(int round) {
  acquisition::StationSnapshot s;
  s.polling = s.lineUp = true;
  s.unitCount = 99;
  s.lastSamplingMs = 1'765'000'000'000;
  for (int u = 1; u <= 99; ++u) {
    auto& unit = s.unit(u);
    unit.cellCount = 108;
    unit.online = true;
    unit.lastGoodMs = 1'765'000'000'000 + round;
    for (int k = 1; k <= 108; ++k) unit.cellVolts[static_cast<std::size_t>(k - 1)] = 2.2 + 0.0001 * ((u * 131 + k * 17 + round) % 997);
    unit.totalVolts = 243.123 + 0.01 * round;
    unit.requests = unit.replies = 100000u + static_cast<unsigned>(round);
  }
  return s;
}

/// The window's part: a tick every 400 ms that builds and publishes a snapshot; returns the
/// lateness of each tick in ms.
std::vector<double> ticks(acquisition::SnapshotBoard& board, double seconds) {
  std::vector<double> late;
  const auto period = std::chrono::milliseconds(400);
  auto next = Clock::now() + period;
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  for (int round = 0; Clock::now() < end; ++round) {
    std::this_thread::sleep_until(next);
    late.push_back(ms(Clock::now() - next));
    board.publish(fullStation(round));
    next += period;
  }
  return late;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  acquisition::SnapshotBoard board;
  board.publish(fullStation(0));
  metrics::SamplingHistogram runs;
  for (double d : {0.03, 0.05, 0.2}) runs.observe(d);
  auto quiet = [](const std::string&) {};
  auto mb = modbus::startModbusServer({true, "127.0.0.1", 0, 64, 60}, board, quiet);
  auto http = metrics::startMetricsServer({true, "127.0.0.1", 0, 64, 60}, board, runs, "bench", quiet);
  int singleErrors = 0;

  // Tick lateness without clients.
  const std::vector<double> idle = ticks(board, seconds / 2);

  // One client alone: the server's own latency, without 20 clients queueing for two cores.
  std::vector<double> single;
  {
    Client c(mb->port());
    const auto end = Clock::now() + std::chrono::duration<double>(seconds / 4);
    for (int n = 0; Clock::now() < end; ++n) {
      const auto t0 = Clock::now();
      c.send(readRequest(1 + n % 99, 0, 124, n));
      if (c.receive(257).size() != 257) ++singleErrors;
      single.push_back(ms(Clock::now() - t0));
    }
  }

  // 20 clients reading whole unit maps in a loop, meanwhile the ticks.
  std::atomic<bool> stop{false};
  std::vector<std::vector<double>> latencies(20);
  std::atomic<int> errors{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 20; ++i)
    clients.emplace_back([&, i] {
      Client c(mb->port());
      for (int n = 0; !stop; ++n) {
        const int unit = 1 + (i * 5 + n) % 99;
        const auto t0 = Clock::now();
        c.send(readRequest(unit, 0, 124, n));
        if (c.receive(257).size() != 257) ++errors;
        latencies[static_cast<std::size_t>(i)].push_back(ms(Clock::now() - t0));
      }
    });
  const std::vector<double> busy = ticks(board, seconds / 2);
  stop = true;
  for (auto& t : clients) t.join();
  std::vector<double> all;
  for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());

  std::printf("Modbus read of a unit's whole map (124 registers), 1 client in a loop, %.1f s:\n", seconds / 4);
  std::printf("  reads %zu, errors %d, latency p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", single.size(), singleErrors,
              percentile(single, 0.5), percentile(single, 0.99), percentile(single, 1.0));
  std::printf("Modbus read of a unit's whole map (124 registers), 20 clients in a loop, %.0f s:\n", seconds / 2);
  std::printf("  reads %zu (%.0f/s), errors %d, latency p50 %.3f ms, p99 %.3f ms, max %.3f ms\n", all.size(),
              static_cast<double>(all.size()) / (seconds / 2), errors.load(), percentile(all, 0.5), percentile(all, 0.99),
              percentile(all, 1.0));
  std::printf("Publishing tick (0.4 s, full 99x108 snapshot) lateness: without clients p99 %.3f ms max %.3f ms; "
              "with clients p99 %.3f ms max %.3f ms\n",
              percentile(idle, 0.99), percentile(idle, 1.0), percentile(busy, 0.99), percentile(busy, 1.0));

  // Rendering alone, then whole scrapes over HTTP.
  std::vector<double> render, scrape;
  std::size_t bytes = 0, bodyBytes = 0;
  for (int i = 0; i < 50; ++i) {
    std::string out;
    const auto t0 = Clock::now();
    metrics::renderMetrics(*board.current(), runs.counts(), "bench", out);
    render.push_back(ms(Clock::now() - t0));
    bodyBytes = out.size();
  }
  // 200 scrapes: enough for a p99 that is not simply the slowest.
  for (int i = 0; i < 200; ++i) {
    const auto t0 = Clock::now();
    Client c(http->port());
    c.send("GET /metrics HTTP/1.1\r\nHost: bench\r\n\r\n");
    bytes = c.receive(8u << 20, 10000).size();
    scrape.push_back(ms(Clock::now() - t0));
  }
  std::printf("Prometheus exposition of 99 x 108 cells: %zu bytes body (%zu with the HTTP head); render p50 %.2f ms, "
              "scrape over loopback p50 %.2f ms, p99 %.2f ms\n",
              bodyBytes, bytes, percentile(render, 0.5), percentile(scrape, 0.5), percentile(scrape, 0.99));
  return errors.load() == 0 && singleErrors == 0 ? 0 : 1;
}
