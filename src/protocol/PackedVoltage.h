#pragma once
// A voltage on the wire: two bytes read as four 4-bit fields e, d1, d2, d3;
// value = 10^e x (d1/10 + d2/100 + d3/1000) volts. Digits are taken at face value 0..15.
#include <array>
#include <cstdint>

namespace protocol {

namespace detail {
// 10^e for e = 0..15, exact in a double.
inline constexpr double kPow10[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// d1/10 + d2/100 + d3/1000 for every first digit and second byte, worked out once at compile
// time with the very operations (and rounding) of the formula, so a lookup gives the same
// double bit for bit while a reply of 108 cells needs no division.
struct Mantissas {
  double value[16][256];
};

constexpr Mantissas makeMantissas() {
  Mantissas m{};
  for (int d1 = 0; d1 < 16; ++d1)
    for (int b1 = 0; b1 < 256; ++b1) m.value[d1][b1] = d1 / 10.0 + (b1 >> 4) / 100.0 + (b1 & 0x0F) / 1000.0;
  return m;
}

inline constexpr Mantissas kMantissas = makeMantissas();
}  // namespace detail

/// 10^e x (d1/10 + d2/100 + d3/1000), exactly as that formula computes in doubles. Inline: a
/// reply decodes up to 109 of these.
inline double decodePacked(std::uint8_t b0, std::uint8_t b1) {
  return detail::kPow10[b0 >> 4] * detail::kMantissas.value[b0 & 0x0F][b1];
}

/// The packed form nearest to a non-negative voltage, with digits 0..9 (what a unit sends).
/// Three significant digits at the smallest exponent that holds them (2.34 -> 12 34).
/// Zero, negative values and NaN encode as 00 00; values from 9.995e14 up (infinity
/// included) as F9 99, the largest value with digits 0..9 (9.99e14).
std::array<std::uint8_t, 2> encodePacked(double volts);

}  // namespace protocol
