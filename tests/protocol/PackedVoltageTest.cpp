// The packed voltage both ways: the unit's examples, digits at face value, and the encoder that
// stands in for a unit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "protocol/PackedVoltage.h"

namespace {

struct Packed {
  std::uint8_t b0, b1;
  double volts;
};

TEST(PackedVoltage, DecodesTheUnitsExamples) {
  const Packed cases[] = {
      {0x12, 0x34, 2.34}, {0x12, 0x05, 2.05}, {0x32, 0x45, 245.0}, {0x05, 0x00, 0.5},
      {0x1F, 0xFF, 16.65}, {0x00, 0x00, 0.0},  {0x33, 0x01, 301.0}, {0x21, 0x70, 17.0},
      {0x21, 0x60, 16.0}, {0x21, 0x61, 16.1},  {0x00, 0x05, 0.005},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.b0) << ' ' << int(c.b1));
    EXPECT_DOUBLE_EQ(protocol::decodePacked(c.b0, c.b1), c.volts);
  }
}

TEST(PackedVoltage, TakesDigitsAboveNineAtFaceValue) {
  // d1 = 10, d2 = 11, d3 = 12: 1.0 + 0.11 + 0.012
  EXPECT_DOUBLE_EQ(protocol::decodePacked(0x0A, 0xBC), 1.122);
  // The largest field values: 10^15 x (1.5 + 0.15 + 0.015).
  EXPECT_DOUBLE_EQ(protocol::decodePacked(0xFF, 0xFF), 1.665e15);
  EXPECT_TRUE(std::isfinite(protocol::decodePacked(0xFF, 0xFF)));
}

TEST(PackedVoltage, EveryBytePairFollowsTheFormula) {
  for (int b0 = 0; b0 < 256; ++b0)
    for (int b1 = 0; b1 < 256; ++b1) {
      const int e = b0 >> 4, d1 = b0 & 0x0F, d2 = b1 >> 4, d3 = b1 & 0x0F;
      const double expected = std::pow(10.0, e) * (d1 / 10.0 + d2 / 100.0 + d3 / 1000.0);
      ASSERT_EQ(protocol::decodePacked(static_cast<std::uint8_t>(b0), static_cast<std::uint8_t>(b1)), expected)
          << std::hex << b0 << ' ' << b1;
    }
}

TEST(PackedVoltage, EncodesAsAUnitSends) {
  const Packed cases[] = {
      {0x12, 0x34, 2.34}, {0x12, 0x05, 2.05}, {0x32, 0x45, 245.0}, {0x05, 0x00, 0.5},
      {0x00, 0x00, 0.0},  {0x00, 0x50, 0.05}, {0x33, 0x00, 300.0}, {0x21, 0x60, 16.0},
      {0x13, 0x80, 3.8},  {0x00, 0x01, 0.001},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.volts);
    const auto bytes = protocol::encodePacked(c.volts);
    EXPECT_EQ(bytes[0], c.b0);
    EXPECT_EQ(bytes[1], c.b1);
  }
}

TEST(PackedVoltage, EncodesEdgeValuesSafely) {
  using Bytes = std::array<std::uint8_t, 2>;
  const Bytes zero{0x00, 0x00};
  const Bytes largest{0xF9, 0x99};
  EXPECT_EQ(protocol::encodePacked(-1.0), zero);
  EXPECT_EQ(protocol::encodePacked(-0.0), zero);
  EXPECT_EQ(protocol::encodePacked(std::numeric_limits<double>::quiet_NaN()), zero);
  EXPECT_EQ(protocol::encodePacked(0.0004), zero);  // below the last digit: rounds to 0
  // Too large for three digits at any exponent, including values whose scaled mantissa lies
  // beyond the range of a long.
  EXPECT_EQ(protocol::encodePacked(9.99e14), largest);
  EXPECT_EQ(protocol::encodePacked(1e15), largest);
  EXPECT_EQ(protocol::encodePacked(1e16), largest);
  EXPECT_EQ(protocol::encodePacked(1e40), largest);
  EXPECT_EQ(protocol::encodePacked(std::numeric_limits<double>::max()), largest);
  EXPECT_EQ(protocol::encodePacked(std::numeric_limits<double>::infinity()), largest);
  // Rounding up across a digit boundary moves to the next exponent: 0.9996 -> 1.00.
  EXPECT_EQ(protocol::encodePacked(0.9996), (Bytes{0x11, 0x00}));
}

TEST(PackedVoltage, EncodingADecodedValueKeepsItsValue) {
  // Every packed value with digits 0..9 survives decode -> encode -> decode (the encoder may
  // choose another exponent for the same value, e.g. 10 05 and 00 50 are both 0.05).
  for (int b0 = 0; b0 < 256; ++b0) {
    if ((b0 & 0x0F) > 9) continue;
    for (int b1 = 0; b1 < 256; ++b1) {
      if ((b1 >> 4) > 9 || (b1 & 0x0F) > 9) continue;
      const double v = protocol::decodePacked(static_cast<std::uint8_t>(b0), static_cast<std::uint8_t>(b1));
      const auto again = protocol::encodePacked(v);
      const double w = protocol::decodePacked(again[0], again[1]);
      ASSERT_NEAR(w, v, v * 1e-12) << std::hex << b0 << ' ' << b1;
    }
  }
}

}  // namespace
