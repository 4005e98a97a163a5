// cellsim: a chain of detector units on a pseudo-terminal or a serial device. See --help.
#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <vector>

#include "Chain.h"
#include "Line.h"
#include "Options.h"
#include "protocol/Frames.h"

namespace {

extern "C" void onStopSignal(int) { cellsim::stopRequested = 1; }

void installStopHandlers() {
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocked poll or sleep must return to see the request
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  // A vanished reader must surface as a failed write, not kill the process before the link goes.
  signal(SIGPIPE, SIG_IGN);
}

void logReply(const cellsim::Reply& r, int asked) {
  if (r.bytes.empty()) {
    std::fprintf(stderr, "cellsim: request for unit %d: no answer\n", asked);
    return;
  }
  std::fprintf(stderr, "cellsim: request for unit %d: reply as unit %d, %zu bytes%s", asked, r.unit,
               r.bytes.size(), r.badChecksum ? ", bad checksum" : "");
  if (r.splitAt < r.bytes.size()) std::fprintf(stderr, ", split after %zu bytes", r.splitAt);
  std::fputc('\n', stderr);
}

/// Answers one request; false when cellsim is stopping.
bool serve(cellsim::Line& line, cellsim::Chain& chain, const cellsim::Options& o, int asked, std::FILE* log,
           std::int64_t startNs) {
  const cellsim::Reply r = chain.answer(asked, static_cast<double>(cellsim::monotonicNs() - startNs) / 1e9);
  if (o.verbose) logReply(r, asked);
  if (r.bytes.empty()) return true;
  if (!cellsim::sleepUntil(cellsim::monotonicNs() + std::int64_t{o.turnaroundMs} * 1'000'000)) return false;
  const std::span<const std::uint8_t> all(r.bytes);
  if (!line.writePaced(all.first(r.splitAt), o.byteMicros)) return !cellsim::stopRequested;
  if (r.splitAt < r.bytes.size()) {
    if (!cellsim::sleepUntil(cellsim::monotonicNs() + std::int64_t{o.splitGapMs} * 1'000'000)) return false;
    if (!line.writePaced(all.subspan(r.splitAt), o.byteMicros)) return !cellsim::stopRequested;
  }
  if (log) std::fprintf(log, "%lld %d %zu\n", static_cast<long long>(cellsim::monotonicNs()), r.unit, r.bytes.size());
  return true;
}

int run(const cellsim::Options& o) {
  const std::int64_t startNs = cellsim::monotonicNs();  // the discharges' clock
  cellsim::Line line(o.device, o.link);
  if (o.device.empty() && o.link.empty()) {
    std::cout << line.path() << std::endl;
  }
  if (o.verbose)
    std::fprintf(stderr, "cellsim: %d units of %d cells on %s\n", o.units, o.cells, line.path().c_str());
  cellsim::Chain chain(o);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> logFile(nullptr, std::fclose);
  if (!o.replyLog.empty()) {
    logFile.reset(std::fopen(o.replyLog.c_str(), "w"));
    if (!logFile) throw cellsim::LineError("cannot write " + o.replyLog);
  }
  std::FILE* log = logFile.get();
  std::vector<std::uint8_t> pending;
  std::vector<std::uint8_t> chunk(4096);
  while (!cellsim::stopRequested) {
    pollfd p{line.fd(), POLLIN, 0};
    const int rc = ::poll(&p, 1, -1);
    if (rc < 0) continue;  // EINTR: the loop condition looks at the stop request
    // A device that went away (unplugged adapter) would otherwise wake poll for ever.
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN))
      throw cellsim::LineError("the line on " + line.path() + " hung up");
    const std::size_t n = line.readAvailable(chunk);
    pending.insert(pending.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
    // Requests may come back to back or after noise: slide over the bytes one at a time until a
    // whole request frame starts at the front.
    std::size_t at = 0;
    while (pending.size() - at >= protocol::kRequestSize) {
      const int unit = protocol::requestUnit(std::span(pending).subspan(at));
      if (unit < 0) {
        ++at;
        continue;
      }
      at += protocol::kRequestSize;
      if (!serve(line, chain, o, unit, log, startNs)) break;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
  }
  if (o.verbose) std::fprintf(stderr, "cellsim: stopped\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  cellsim::Options options;
  try {
    options = cellsim::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const cellsim::UsageError& e) {
    std::cerr << "cellsim: " << e.what() << '\n';
    return 2;
  }
  if (options.help) {
    std::cout << cellsim::usageText();
    return 0;
  }
  installStopHandlers();
  try {
    return run(options);
  } catch (const std::exception& e) {
    std::cerr << "cellsim: " << e.what() << '\n';
    return 1;
  }
}
