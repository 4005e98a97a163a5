#pragma once
// A voltage on the wire: two bytes read as four 4-bit fields e, d1, d2, d3;
// value = 10^e x (d1/10 + d2/100 + d3/1000) volts. Digits are taken at face value 0..15.
#include <array>
#include <cstdint>

namespace protocol {

double decodePacked(std::uint8_t b0, std::uint8_t b1);

/// The packed form nearest to a non-negative voltage, with digits 0..9 (what a unit sends).
/// Negative values encode as 0; values beyond 9.99e15 as the largest packed value.
std::array<std::uint8_t, 2> encodePacked(double volts);

}  // namespace protocol
