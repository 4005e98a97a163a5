#include "modbus/ModbusServer.h"

#include <chrono>

#include "modbus/core/Requests.h"

namespace modbus {

std::unique_ptr<controlroom::TcpServer> startModbusServer(const controlroom::Endpoint& endpoint,
                                                          const acquisition::SnapshotBoard& board,
                                                          std::function<void(const std::string&)> log) {
  controlroom::ServerOptions o;
  o.name = "Modbus";
  o.listen = endpoint.listen;
  o.port = endpoint.port;
  o.maxClients = endpoint.maxClients;
  o.idleTimeout = std::chrono::seconds(endpoint.idleTimeoutSeconds);
  // Connections stay open between requests (idle_timeout), but a frame begun must be whole soon.
  o.requestDeadline = std::chrono::seconds(controlroom::kRequestDeadlineSeconds);
  // Room for a few pipelined frames; a client that keeps sending without reading its answers
  // is held up once 64 KiB of answers wait.
  o.maxInput = 4 * kMaxFrameBytes;
  o.maxOutput = 64 * 1024;
  o.kernelSendBuffer = 128 * 1024;
  auto protocol = [&board](std::string_view in, std::string& out) {
    const auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(in.data()), in.size());
    if (bytes.size() < kHeaderBytes) return controlroom::Served{};
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const Handled h = handleRequest(bytes, *board.current(), now, out);
    switch (h.step) {
      case Step::NeedMore: return controlroom::Served{};
      case Step::Answered: return controlroom::Served{h.consumed, false, h.malformed};
      case Step::Broken: break;
    }
    return controlroom::Served{in.size(), true, true};
  };
  return std::make_unique<controlroom::TcpServer>(std::move(o), std::move(protocol), std::move(log));
}

}  // namespace modbus
