#include "protocol/PackedVoltage.h"

#include <cmath>

namespace protocol {

std::array<std::uint8_t, 2> encodePacked(double volts) {
  if (!(volts > 0)) return {0, 0};
  // Smallest exponent whose three digits hold the value: mantissa = volts / 10^e in [0, 1).
  for (int e = 0; e < 16; ++e) {
    // Tested before rounding: lround of a value beyond the range of long (or of infinity) is
    // unspecified and would give nonsense digits.
    const double scaled = volts / detail::kPow10[e] * 1000.0;
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
