#pragma once
// Figures of a soak run: order statistics over samples, memory readings, and the pairing of the
// simulator's reply log with the station's receive times.
#include <cstdint>
#include <string>
#include <vector>

namespace soak {

/// Nearest-rank percentile (0..100) of unsorted samples; 0 for none.
double percentile(std::vector<double> samples, double p);

/// Resident set size of this process in kB, from /proc/self/statm.
long residentKb();
/// Peak resident set size of this process in kB (getrusage).
long peakResidentKb();

struct SentReply {
  std::int64_t ns;  ///< CLOCK_MONOTONIC of the reply's last byte on the line
  int unit;
  std::size_t bytes;
};

struct ReceivedBlock {
  std::int64_t ns;  ///< CLOCK_MONOTONIC right after the station's reply handler returned
  int unit;
  std::size_t bytes;
};

/// Reads the simulator's --reply-log file.
std::vector<SentReply> readReplyLog(const std::string& path);

struct Pairing {
  std::vector<double> delaysMs;  ///< from a reply's last byte to its values in the tables
  std::size_t unmatchedBlocks = 0;
};

/// Pairs each whole received block with the latest reply of the same unit sent before it.
Pairing pair(const std::vector<SentReply>& sent, const std::vector<ReceivedBlock>& received);

}  // namespace soak
