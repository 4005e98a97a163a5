// Reply frames into the measurement tables, without a window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <span>

#include "ReplyFrames.h"
#include "acquisition/core/ReplyDecoder.h"

namespace {

using acquisition::applyReply;
using acquisition::MeasurementTables;
using Kind = acquisition::ReplyOutcome::Kind;
using testframes::Bytes;
using testframes::frame;

/// Tables where every unit already holds distinct values, so any stray write shows.
MeasurementTables filledTables() {
  MeasurementTables t;
  for (int u = 1; u <= acquisition::kUnits; ++u) {
    t.CellCount[u] = u % 109;
    t.TotalVoltage[u] = 100.0 + u;
    for (int k = 1; k <= acquisition::kCells; ++k) t.CellVoltage[u][k] = u + k / 1000.0;
  }
  return t;
}

/// Every unit except `except` holds the same count and voltages in both tables.
void expectOtherUnitsUnchanged(const MeasurementTables& before, const MeasurementTables& after, int except) {
  for (int u = 1; u <= acquisition::kUnits; ++u) {
    if (u == except) continue;
    ASSERT_EQ(after.CellCount[u], before.CellCount[u]) << "unit " << u;
    ASSERT_EQ(after.TotalVoltage[u], before.TotalVoltage[u]) << "unit " << u;
    for (int k = 1; k <= acquisition::kCells; ++k)
      ASSERT_EQ(after.CellVoltage[u][k], before.CellVoltage[u][k]) << "unit " << u << " cell " << k;
  }
}

TEST(ApplyReply, DecodesTheTwoCellFrameOfUnit3) {
  const MeasurementTables before = filledTables();
  MeasurementTables t = before;
  const auto outcome = applyReply(testframes::kUnit3TwoCells, t);
  EXPECT_EQ(outcome.kind, Kind::Stored);
  EXPECT_TRUE(outcome.stored());
  EXPECT_EQ(outcome.unit, 3);
  EXPECT_EQ(outcome.cells, 2);
  EXPECT_EQ(t.CellCount[3], 2);
  EXPECT_DOUBLE_EQ(t.TotalVoltage[3], 245.0);
  EXPECT_DOUBLE_EQ(t.CellVoltage[3][1], 2.34);
  EXPECT_DOUBLE_EQ(t.CellVoltage[3][2], 2.05);
  for (int k = 3; k <= acquisition::kCells; ++k) EXPECT_EQ(t.CellVoltage[3][k], before.CellVoltage[3][k]);
  expectOtherUnitsUnchanged(before, t, 3);
}

TEST(ApplyReply, BadChecksumChangesNothing) {
  const MeasurementTables before = filledTables();  // unit 3 announced 3 cells before
  MeasurementTables t = before;
  Bytes block = testframes::kUnit3TwoCells;
  block[15] = 0xD5;
  const auto outcome = applyReply(block, t);
  EXPECT_EQ(outcome.kind, Kind::BadChecksum);
  EXPECT_FALSE(outcome.stored());
  EXPECT_EQ(outcome.unit, 3);
  // The length byte may be the damaged one: the count the unit announced before stays.
  EXPECT_EQ(t.CellCount[3], before.CellCount[3]);
  EXPECT_EQ(t.TotalVoltage[3], before.TotalVoltage[3]);
  for (int k = 1; k <= acquisition::kCells; ++k) EXPECT_EQ(t.CellVoltage[3][k], before.CellVoltage[3][k]);
  expectOtherUnitsUnchanged(before, t, 3);

  // A damaged voltage byte fails the same way.
  MeasurementTables t2 = before;
  block = testframes::kUnit3TwoCells;
  block[12] = 0x35;
  EXPECT_EQ(applyReply(block, t2).kind, Kind::BadChecksum);
  EXPECT_EQ(t2.CellVoltage[3][1], before.CellVoltage[3][1]);
}

TEST(ApplyReply, ClampsTotalTo300AndCellsTo16) {
  struct Case {
    std::uint8_t total0, total1, cell0, cell1;
    double total, cell;
  };
  const Case cases[] = {
      {0x33, 0x01, 0x21, 0x70, 300.0, 16.0},  // 301 V, 17 V
      {0x33, 0x00, 0x21, 0x60, 300.0, 16.0},  // exactly at the limits
      {0x32, 0x99, 0x21, 0x61, 299.0, 16.0},  // 16.1 V
      {0xFF, 0xFF, 0xFF, 0xFF, 300.0, 16.0},  // the largest fields
      {0x33, 0x00, 0x21, 0x59, 300.0, 15.9},
      {0x00, 0x00, 0x00, 0x00, 0.0, 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.total << " / " << c.cell);
    MeasurementTables t;
    const auto outcome = applyReply(frame(7, 7, {c.total0, c.total1, c.cell0, c.cell1}), t);
    ASSERT_EQ(outcome.kind, Kind::Stored);
    EXPECT_DOUBLE_EQ(t.TotalVoltage[7], c.total);
    EXPECT_DOUBLE_EQ(t.CellVoltage[7][1], c.cell);
  }
}

TEST(ApplyReply, EmptyFrameSetsCountZeroAndTheTotal) {
  for (std::uint8_t length : {4, 5, 6}) {
    SCOPED_TRACE(int(length));
    MeasurementTables t = filledTables();
    const double cell1 = t.CellVoltage[9][1];
    const Bytes block = frame(9, length, {0x22, 0x43});  // 24.3 V, checksum over 9 and 10 only
    ASSERT_EQ(block.size(), 12u);
    EXPECT_EQ(applyReply(block, t).kind, Kind::Stored);
    EXPECT_EQ(t.CellCount[9], 0);
    EXPECT_DOUBLE_EQ(t.TotalVoltage[9], 24.3);
    EXPECT_EQ(t.CellVoltage[9][1], cell1);
  }
}

TEST(ApplyReply, FullFrameOf108CellsThen100KeepsCells101To108) {
  MeasurementTables t;
  const Bytes full = testframes::patternFrame(12, 0x34, 0x00, 108, 1);
  ASSERT_EQ(full.size(), 228u);
  ASSERT_EQ(applyReply(full, t).kind, Kind::Stored);
  EXPECT_EQ(t.CellCount[12], 108);
  EXPECT_DOUBLE_EQ(t.TotalVoltage[12], 300.0);  // 400 V clamped
  for (int k = 1; k <= 108; ++k) ASSERT_DOUBLE_EQ(t.CellVoltage[12][k], k / 100.0) << k;

  // The same unit now reports 100 cells at ten times the value.
  ASSERT_EQ(applyReply(testframes::patternFrame(12, 0x32, 0x00, 100, 2), t).kind, Kind::Stored);
  EXPECT_EQ(t.CellCount[12], 100);
  EXPECT_DOUBLE_EQ(t.TotalVoltage[12], 200.0);
  for (int k = 1; k <= 100; ++k) ASSERT_DOUBLE_EQ(t.CellVoltage[12][k], k / 10.0) << k;
  for (int k = 101; k <= 108; ++k) ASSERT_DOUBLE_EQ(t.CellVoltage[12][k], k / 100.0) << k;
}

TEST(ApplyReply, LengthBytes221And222BothCarry108Cells) {
  Bytes block = testframes::patternFrame(99, 0x30, 0x00, 108, 1);
  block[6] = 222;  // the length byte is outside the checksum
  MeasurementTables t;
  EXPECT_EQ(applyReply(block, t).kind, Kind::Stored);
  EXPECT_EQ(t.CellCount[99], 108);
  EXPECT_DOUBLE_EQ(t.CellVoltage[99][108], 1.08);
}

TEST(ApplyReply, IgnoresBytesAfterTheChecksumAndFieldsNotExamined) {
  Bytes block = testframes::kUnit3TwoCells;
  for (std::size_t i : {0u, 1u, 2u, 3u, 4u, 7u, 8u}) block[i] = 0x5A;
  // A second frame in the same block yields nothing: only the first counts.
  const Bytes second = frame(4, 7, {0x32, 0x00, 0x13, 0x00});
  block.insert(block.end(), second.begin(), second.end());
  MeasurementTables t;
  const auto outcome = applyReply(block, t);
  EXPECT_EQ(outcome.kind, Kind::Stored);
  EXPECT_EQ(outcome.unit, 3);
  EXPECT_DOUBLE_EQ(t.CellVoltage[3][2], 2.05);
  EXPECT_EQ(t.CellCount[4], 0);
  EXPECT_EQ(t.TotalVoltage[4], 0.0);
}

TEST(ApplyReply, FrameSplitOverTwoBlocksIsTwoMalformedBlocks) {
  const Bytes& whole = testframes::kUnit3TwoCells;
  MeasurementTables t;
  EXPECT_EQ(applyReply(std::span(whole).first(10), t).kind, Kind::Malformed);
  EXPECT_EQ(applyReply(std::span(whole).subspan(10), t).kind, Kind::Malformed);
  EXPECT_EQ(t.CellCount[3], 0);
  EXPECT_EQ(t.TotalVoltage[3], 0.0);
}

TEST(ApplyReply, MalformedBlocksLeaveTheTablesUntouchedButCountAsAnAnswer) {
  struct Case {
    const char* what;
    Bytes block;
    int unit;
  };
  Bytes full = testframes::patternFrame(5, 0x30, 0x00, 108, 1);
  full.pop_back();  // one byte short of its checksum
  Bytes noChecksum = testframes::kUnit3TwoCells;
  noChecksum.pop_back();
  const Case cases[] = {
      {"empty block", {}, -1},
      {"one byte", {0xEB}, -1},
      {"no length byte", {0xEB, 0x90, 0xEB, 0x90, 0x00, 0x03}, 3},
      {"only the header", {0xEB, 0x90, 0xEB, 0x90, 0x00, 0x03, 0x09}, 3},
      {"n = 0 but 11 bytes", {0xEB, 0x90, 0xEB, 0x90, 0x00, 0x03, 0x05, 0x00, 0xC1, 0x05, 0x00}, 3},
      {"two cells, checksum missing", noChecksum, 3},
      {"108 cells, checksum missing", full, 5},
      {"unit 0", frame(0, 5, {0x05, 0x00}), 0},
      {"unit 100", frame(100, 5, {0x05, 0x00}), 100},
      {"unit 255", frame(255, 5, {0x05, 0x00}), 255},
      {"length byte 3", frame(3, 3, {0x05, 0x00}), 3},
      {"length byte 0", frame(3, 0, {0x05, 0x00}), 3},
      {"length byte 223", testframes::patternFrame(3, 0x30, 0x00, 109, 1), 3},
      {"length byte 255 in a long block", [] {
         Bytes b = testframes::patternFrame(3, 0x30, 0x00, 125, 0);
         b.resize(4096, 0x00);
         return b;
       }(), 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const MeasurementTables before = filledTables();
    MeasurementTables t = before;
      // A copy of exactly the block's size, so a read past its end is seen by the sanitizers.
    const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[c.block.size() + 1]);
    std::copy(c.block.begin(), c.block.end(), exact.get());
    const auto outcome = applyReply(std::span<const std::uint8_t>(exact.get(), c.block.size()), t);
    EXPECT_EQ(outcome.kind, Kind::Malformed);
    EXPECT_FALSE(outcome.stored());
    EXPECT_EQ(outcome.unit, c.unit);
      expectOtherUnitsUnchanged(before, t, 0);
  }
}

}  // namespace
