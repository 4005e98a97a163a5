#pragma once
// Modbus TCP requests and their answers as pure functions over bytes: the MBAP header
// (transaction, protocol 0, length, unit identifier), function codes 3 and 4 over the register
// map, and the exceptions a read-only gateway gives.
#include <cstdint>
#include <span>
#include <string>

#include "acquisition/core/StationSnapshot.h"

namespace modbus {

inline constexpr std::size_t kHeaderBytes = 7;  ///< MBAP header including the unit identifier
/// The longest frame the protocol allows (7 header bytes and a PDU of at most 253).
inline constexpr std::size_t kMaxFrameBytes = 260;
/// Registers one read may ask for.
inline constexpr int kMaxReadRegisters = 125;

// Exception codes.
inline constexpr std::uint8_t kIllegalFunction = 0x01;
inline constexpr std::uint8_t kIllegalAddress = 0x02;
inline constexpr std::uint8_t kIllegalValue = 0x03;
inline constexpr std::uint8_t kTargetFailed = 0x0B;

enum class Step {
  NeedMore,  ///< no whole frame yet
  Answered,  ///< one frame consumed, its answer appended
  Broken,    ///< the header is no Modbus TCP header: the stream cannot be followed, close it
};

struct Handled {
  Step step = Step::NeedMore;
  std::size_t consumed = 0;
  /// The request was malformed (a broken header, or a PDU of the wrong length for its
  /// function): counted for the log.
  bool malformed = false;
  /// The exception code answered, 0 for a normal answer.
  std::uint8_t exception = 0;
};

/// Takes the first frame of `in` (bytes received and not yet consumed) and appends its answer to
/// `out`. Unit identifiers 1..unitCount read a unit's block, 0 and 255 the station block, any
/// other gets exception 0x0B; reads beyond a block get 0x02, any other function (writes
/// included) 0x01, a read of 0 or more than 125 registers or a PDU whose length does not fit its
/// function 0x03. A header whose protocol is not 0 or whose length lies outside 2..254 is
/// Broken.
Handled handleRequest(std::span<const std::uint8_t> in, const acquisition::StationSnapshot& s, std::int64_t nowMs,
                      std::string& out);

}  // namespace modbus
