#pragma once
// The station's metrics in Prometheus' text exposition format (version 0.0.4), rendered from a
// snapshot: per polled unit its cells' voltages, total, online state, last good reply, alarms
// and line counters; the station's polling and line state; the sampling-run durations; the
// build.
#include <string>

#include "acquisition/core/StationSnapshot.h"
#include "metrics/core/SamplingHistogram.h"

namespace metrics {

/// The content type of the format.
inline constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

/// Appends the whole exposition to `out`.
void renderMetrics(const acquisition::StationSnapshot& s, const HistogramCounts& runs, const std::string& version,
                   std::string& out);

}  // namespace metrics
