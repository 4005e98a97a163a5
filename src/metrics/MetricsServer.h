#pragma once
// The Prometheus endpoint: GET /metrics over HTTP on its own thread, rendered from the latest
// snapshot on the board and the sampling-run histogram.
#include <functional>
#include <memory>
#include <string>

#include "acquisition/core/StationSnapshot.h"
#include "controlroom/core/ControlSettings.h"
#include "controlroom/core/TcpServer.h"
#include "metrics/core/SamplingHistogram.h"

namespace metrics {

/// Listens as `endpoint` says (throws controlroom::ListenError) and serves until destroyed.
/// The board and the histogram must outlive the server.
std::unique_ptr<controlroom::TcpServer> startMetricsServer(const controlroom::Endpoint& endpoint,
                                                           const acquisition::SnapshotBoard& board,
                                                           const SamplingHistogram& runs, std::string version,
                                                           std::function<void(const std::string&)> log);

}  // namespace metrics
