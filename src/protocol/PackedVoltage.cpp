#include "protocol/PackedVoltage.h"

#include <cmath>

namespace protocol {

namespace {
// 10^e for e = 0..15, exact in a double.
constexpr double kPow10[16] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
}  // namespace

double decodePacked(std::uint8_t b0, std::uint8_t b1) {
  const int e = b0 >> 4;
  const int d1 = b0 & 0x0F;
  const int d2 = b1 >> 4;
  const int d3 = b1 & 0x0F;
  return kPow10[e] * (d1 / 10.0 + d2 / 100.0 + d3 / 1000.0);
}

std::array<std::uint8_t, 2> encodePacked(double volts) {
  if (!(volts > 0)) return {0, 0};
  // Smallest exponent whose three digits hold the value: mantissa = volts / 10^e in [0, 1).
  for (int e = 0; e < 16; ++e) {
    // Tested before rounding: lround of a value beyond the range of long (or of infinity) is
    // unspecified and would give nonsense digits.
    const double scaled = volts / kPow10[e] * 1000.0;
    if (scaled < 999.5) {
      const long m = std::lround(scaled);
      const int d1 = static_cast<int>(m / 100), d2 = static_cast<int>(m / 10 % 10),
                d3 = static_cast<int>(m % 10);
      return {static_cast<std::uint8_t>(e << 4 | d1), static_cast<std::uint8_t>(d2 << 4 | d3)};
    }
  }
  return {0xF9, 0x99};
}

}  // namespace protocol
