// Request and reply frames as hex literals from the frame layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "protocol/Frames.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(RequestFrame, AddressesTheUnitInByteFour) {
  const auto frame = protocol::requestFrame(5);
  EXPECT_EQ(Bytes(frame.begin(), frame.end()),
            (Bytes{0xEB, 0x90, 0xEB, 0x90, 0x05, 0x00, 0x03, 0x00, 0xC1, 0x00, 0x00, 0x90, 0xEB}));
  EXPECT_EQ(protocol::requestFrame(99)[4], 0x63);
  EXPECT_EQ(protocol::requestFrame(1)[4], 0x01);
  // Only the low 8 bits of the unit number travel.
  EXPECT_EQ(protocol::requestFrame(0x105)[4], 0x05);
  EXPECT_EQ(protocol::requestFrame(-1)[4], 0xFF);
}

TEST(RequestFrame, IsRecognisedOnlyWhenEveryFixedByteMatches) {
  for (int unit : {1, 5, 99, 0, 255}) {
    const auto frame = protocol::requestFrame(unit);
    EXPECT_EQ(protocol::requestUnit(frame), unit);
  }
  const auto good = protocol::requestFrame(7);
  for (std::size_t i = 0; i < good.size(); ++i) {
    if (i == 4) continue;
    auto bad = good;
    bad[i] ^= 0x01;
    EXPECT_EQ(protocol::requestUnit(bad), -1) << "byte " << i;
  }
  EXPECT_EQ(protocol::requestUnit(std::span(good).first(12)), -1);
  EXPECT_EQ(protocol::requestUnit({}), -1);
  Bytes longer(good.begin(), good.end());
  longer.push_back(0x42);  // bytes after the frame do not matter
  EXPECT_EQ(protocol::requestUnit(longer), 7);
}

TEST(ReplyLayout, LengthByteGivesTheCellCountTruncatingTowardZero) {
  struct Case {
    std::uint8_t length;
    int cells;
  };
  const Case cases[] = {{4, 0},     {5, 0},     {6, 0},     {7, 1},    {8, 1},     {9, 2},
                        {221, 108}, {222, 108}, {223, 109}, {255, 125}, {3, -1},   {0, -2}};
  for (const auto& c : cases) EXPECT_EQ(protocol::cellCountFromLength(c.length), c.cells) << int(c.length);
  for (int n = 0; n <= protocol::kMaxCells; ++n)
    EXPECT_EQ(protocol::cellCountFromLength(protocol::lengthForCells(n)), n);
}

TEST(ReplyLayout, OffsetsOfTheFrame) {
  EXPECT_EQ(protocol::replySize(0), 12u);
  EXPECT_EQ(protocol::replySize(2), 16u);
  EXPECT_EQ(protocol::replySize(108), 228u);
  EXPECT_EQ(protocol::cellOffset(1), 11u);
  EXPECT_EQ(protocol::cellOffset(108), 225u);
  EXPECT_EQ(protocol::checksumOffset(0), 11u);
  EXPECT_EQ(protocol::checksumOffset(108), 227u);
}

// Unit 3, two cells: total 32 45 (245 V), cells 12 34 (2.34 V) and 12 05 (2.05 V).
const Bytes kUnit3TwoCells = {0xEB, 0x90, 0xEB, 0x90, 0x00, 0x03, 0x09, 0x00,
                              0xC1, 0x32, 0x45, 0x12, 0x34, 0x12, 0x05, 0xD4};

TEST(ReplyChecksum, SumsTotalAndCellsModulo256) {
  EXPECT_EQ(protocol::replyChecksum(kUnit3TwoCells, 2), 0xD4);
  // n = 0: the total's two bytes alone; the sum wraps.
  const Bytes empty = {0, 0, 0, 0, 0, 0x01, 0x05, 0, 0, 0xF0, 0x20, 0x10};
  EXPECT_EQ(protocol::replyChecksum(empty, 0), 0x10);
  // Bytes before offset 9 and from the checksum on are not summed.
  Bytes noisy = kUnit3TwoCells;
  for (std::size_t i : {0u, 4u, 5u, 6u, 7u, 8u, 15u}) noisy[i] = 0xAA;
  EXPECT_EQ(protocol::replyChecksum(noisy, 2), 0xD4);
}

TEST(BuildReply, MakesTheFrameAUnitSends) {
  const double cells[] = {2.34, 2.05};
  const Bytes frame = protocol::buildReply(3, 245.0, cells);
  EXPECT_EQ(frame, kUnit3TwoCells);
}

TEST(BuildReply, FullAndEmptyFrames) {
  std::vector<double> cells(120);  // more than a unit can carry: only 108 are used
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = 3.0 + 0.01 * static_cast<double>(i % 50);
  const Bytes full = protocol::buildReply(99, 380.0, cells);
  ASSERT_EQ(full.size(), 228u);
  EXPECT_EQ(full[5], 99);
  EXPECT_EQ(full[6], 221);
  std::uint8_t sum = 0;
  for (std::size_t i = 9; i <= 226; ++i) sum = static_cast<std::uint8_t>(sum + full[i]);
  EXPECT_EQ(full[227], sum);
  EXPECT_EQ(full[225], 0x13);  // cell 108: 3.07 V
  EXPECT_EQ(full[226], 0x07);

  const Bytes empty = protocol::buildReply(1, 0.5, {});
  EXPECT_EQ(empty, (Bytes{0xEB, 0x90, 0xEB, 0x90, 0x00, 0x01, 0x05, 0x00, 0xC1, 0x05, 0x00, 0x05}));
}

}  // namespace
