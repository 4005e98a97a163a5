#include "SoakFigures.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>

namespace soak {

double percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(samples.size())));
  return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

long residentKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakResidentKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::vector<SentReply> readReplyLog(const std::string& path) {
  std::vector<SentReply> out;
  std::ifstream in(path);
  SentReply r{};
  while (in >> r.ns >> r.unit >> r.bytes) out.push_back(r);
  return out;
}

Pairing pair(const std::vector<SentReply>& sent, const std::vector<ReceivedBlock>& received) {
  // Per unit, the send times in order; each block takes the latest one not after it.
  std::map<int, std::vector<std::int64_t>> byUnit;
  for (const SentReply& s : sent) byUnit[s.unit].push_back(s.ns);
  Pairing result;
  for (const ReceivedBlock& b : received) {
    const auto it = byUnit.find(b.unit);
    if (it == byUnit.end()) {
      ++result.unmatchedBlocks;
      continue;
    }
    const auto& times = it->second;
    const auto after = std::upper_bound(times.begin(), times.end(), b.ns);
    if (after == times.begin()) {
      ++result.unmatchedBlocks;
      continue;
    }
    result.delaysMs.push_back(static_cast<double>(b.ns - *(after - 1)) / 1e6);
  }
  return result;
}

}  // namespace soak
