#pragma once
// A voltage on the wire: two bytes read as four 4-bit fields e, d1, d2, d3;
// value = 10^e x (d1/10 + d2/100 + d3/1000) volts. Digits are taken at face value 0..15.
#include <array>
#include <cstdint>

namespace protocol {

double decodePacked(std::uint8_t b0, std::uint8_t b1);

/// The packed form nearest to a non-negative voltage, with digits 0..9 (what a unit sends).
/// Three significant digits at the smallest exponent that holds them (2.34 -> 12 34).
/// Zero, negative values and NaN encode as 00 00; values from 9.995e14 up (infinity
/// included) as F9 99, the largest value with digits 0..9 (9.99e14).
std::array<std::uint8_t, 2> encodePacked(double volts);

}  // namespace protocol
