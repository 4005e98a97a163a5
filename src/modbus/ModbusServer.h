#pragma once
// The Modbus TCP server: read-only, on its own thread, answering from the latest snapshot on the
// board; never waits for the window or the serial line.
#include <functional>
#include <memory>
#include <string>

#include "acquisition/core/StationSnapshot.h"
#include "controlroom/core/ControlSettings.h"
#include "controlroom/core/TcpServer.h"

namespace modbus {

/// Listens as `endpoint` says (throws controlroom::ListenError) and serves until destroyed. The
/// board must outlive the server.
std::unique_ptr<controlroom::TcpServer> startModbusServer(const controlroom::Endpoint& endpoint,
                                                          const acquisition::SnapshotBoard& board,
                                                          std::function<void(const std::string&)> log);

}  // namespace modbus
