#pragma once
// Records what a TComm raises, in order, and pumps its notifications on the test's thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "comm/TComm.h"

namespace commtest {

struct Raised {
  enum class Kind { Data, LineError, ModemChange, Hangup, SendEmpty } kind;
  std::vector<std::uint8_t> bytes;  // Data: the block
  bool zeroAfter = false;           // Data: the byte after the block was 0
  std::uint32_t value = 0;
  const comm::TComm* sender = nullptr;
  bool openWhenRaised = false;
};

class EventLog {
 public:
  explicit EventLog(comm::TComm& comm) : comm_(comm) {
    comm.SetOnReceiveData([this](comm::TComm* s, const std::uint8_t* b, std::uint16_t n) {
      Raised r{Raised::Kind::Data, std::vector<std::uint8_t>(b, b + n), b[n] == 0, 0, s, s->IsOpen()};
      events.push_back(std::move(r));
    });
    comm.SetOnReceiveError([this](comm::TComm* s, std::uint32_t m) { add(Raised::Kind::LineError, s, m); });
    comm.SetOnModemStateChange([this](comm::TComm* s, std::uint32_t m) { add(Raised::Kind::ModemChange, s, m); });
    comm.SetOnRequestHangup([this](comm::TComm* s) { add(Raised::Kind::Hangup, s, 0); });
    comm.SetOnSendDataEmpty([this](comm::TComm* s) { add(Raised::Kind::SendEmpty, s, 0); });
  }

  /// Dispatches until done() holds or limitMs pass (the limit only ends a failing test).
  bool pumpUntil(const std::function<bool()>& done, int limitMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      if (comm_.waitForNotification(static_cast<int>(left.count()))) comm_.dispatchPending();
    }
    return true;
  }

  /// Dispatches whatever arrives during ms (to show that nothing more comes).
  void pumpFor(int ms) {
    pumpUntil([] { return false; }, ms);
  }

  std::size_t count(Raised::Kind k) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e.kind == k ? 1 : 0;
    return n;
  }
  std::vector<std::vector<std::uint8_t>> blocks() const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& e : events)
      if (e.kind == Raised::Kind::Data) out.push_back(e.bytes);
    return out;
  }
  std::size_t receivedBytes() const {
    std::size_t n = 0;
    for (const auto& b : blocks()) n += b.size();
    return n;
  }

  std::vector<Raised> events;

 private:
  void add(Raised::Kind k, comm::TComm* s, std::uint32_t v) { events.push_back(Raised{k, {}, false, v, s, s->IsOpen()}); }
  comm::TComm& comm_;
};

/// A component set up like the window's Comm1 (no flow control), on the given path.
inline void configureLikeComm1(comm::TComm& c, const std::string& path) {
  c.SetCommName(path);
  c.SetTxContinueOnXoff(false);
  c.SetOutx_XonXoffFlow(false);
  c.SetInx_XonXoffFlow(false);
}

}  // namespace commtest
