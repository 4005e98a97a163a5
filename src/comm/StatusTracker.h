#pragma once
// Turns successive looks at a device's status side into the component's status reports:
// line-error bits (CE_) from the growth of the error counters, and the modem event code
// (8 carrier detect changed, 4 ring, 12 both).
#include <cstdint>

#include "comm/port/SerialPort.h"

namespace comm {

inline constexpr std::uint32_t CE_RXOVER = 0x01;
inline constexpr std::uint32_t CE_OVERRUN = 0x02;
inline constexpr std::uint32_t CE_RXPARITY = 0x04;
inline constexpr std::uint32_t CE_FRAME = 0x08;
inline constexpr std::uint32_t CE_BREAK = 0x10;

inline constexpr std::uint32_t kModemCarrierDetect = 8;
inline constexpr std::uint32_t kModemRing = 4;

struct StatusReport {
  bool lineError = false;
  std::uint32_t errorBits = 0;
  std::uint32_t modemCode = 0;
};

class StatusTracker {
 public:
  /// The first sample only sets the baseline and reports nothing. With counters, every
  /// change of the carrier-detect or ring counter counts (none is missed between samples);
  /// with modem lines only, a change of carrier detect and a rising ring indicator count.
  StatusReport update(const port::StatusSample& sample);

 private:
  bool primed_ = false;
  port::StatusSample last_{};
};

}  // namespace comm
