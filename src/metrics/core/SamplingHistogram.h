#pragma once
// The durations of the station's sampling runs (storing one sample per unit), as a Prometheus
// histogram: cumulative counts per upper bound, their sum and their number. Observed on the
// window's thread, read by the metrics server's.
#include <array>
#include <cstdint>
#include <mutex>

namespace metrics {

/// Upper bounds in seconds; the +Inf bucket is the count.
inline constexpr std::array<double, 10> kRunBuckets{0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};

struct HistogramCounts {
  /// Observations at or below each bound (cumulative, as exposed).
  std::array<std::uint64_t, kRunBuckets.size()> buckets{};
  std::uint64_t count = 0;
  double sum = 0;
};

class SamplingHistogram {
 public:
  void observe(double seconds) {
    if (!(seconds >= 0)) seconds = 0;  // a clock step back, or NaN
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < kRunBuckets.size(); ++i)
      if (seconds <= kRunBuckets[i]) ++counts_.buckets[i];
    ++counts_.count;
    counts_.sum += seconds;
  }
  HistogramCounts counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
  }

 private:
  mutable std::mutex mutex_;
  HistogramCounts counts_;
};

}  // namespace metrics
