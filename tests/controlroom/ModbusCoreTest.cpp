// The register map and the answers to requests, over snapshots and bytes built here.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "modbus/core/RegisterMap.h"
#include "modbus/core/Requests.h"

namespace {

using acquisition::StationSnapshot;

StationSnapshot sample() {
  StationSnapshot s;
  s.polling = true;
  s.lineUp = true;
  s.unitCount = 3;
  s.lastSamplingMs = 1'765'000'000'500;
  for (int u = 1; u <= 3; ++u) s.unit(u).online = true;
  auto& u2 = s.unit(2);
  u2.cellCount = 4;
  u2.cellVolts = {2.254, 2.2495, -0.1, 70.0, 9.9};  // cell 5 lies beyond the cells reported
  u2.totalVolts = 54.126;
  u2.lastGoodMs = 1'765'000'100'000;
  u2.alarm = {true, false, false, false, true};
  u2.cellsInAlarm = 1;
  u2.requests = 0x1'0002'0003ULL;  // beyond 32 bits: the registers wrap
  u2.replies = 70000;
  u2.badChecksum = 5;
  return s;
}

std::vector<std::uint8_t> readRequest(int unit, int function, int address, int count, int transaction = 0x1234) {
  return {static_cast<std::uint8_t>(transaction >> 8), static_cast<std::uint8_t>(transaction), 0, 0, 0, 6,
          static_cast<std::uint8_t>(unit), static_cast<std::uint8_t>(function),
          static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
          static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count)};
}

modbus::Handled handle(const std::vector<std::uint8_t>& in, const StationSnapshot& s, std::string& out) {
  return modbus::handleRequest(in, s, 1'765'000'112'900, out);
}

TEST(RegisterMap, UnitBlockScalesClampsAndMarksCellsNotReported) {
  const auto r = modbus::unitRegisters(sample(), 2, 1'765'000'112'900);
  EXPECT_EQ(r[0], 4);
  EXPECT_EQ(r[1], 2254);
  EXPECT_EQ(r[2], 2250);   // rounded, not cut
  EXPECT_EQ(r[3], 0);      // a negative reading
  EXPECT_EQ(r[4], 65534);  // 70 V does not turn into "not reported"
  for (int k = 5; k <= 108; ++k) EXPECT_EQ(r[static_cast<std::size_t>(k)], 0xFFFF) << "cell " << k;
  EXPECT_EQ(r[109], 5413);
  EXPECT_EQ(r[110], 1);
  EXPECT_EQ(r[111], 12);
  EXPECT_EQ((std::vector<int>{r[112], r[113], r[114], r[115], r[116], r[117]}), (std::vector<int>{2, 0, 0, 0, 2, 1}));
  EXPECT_EQ((std::vector<int>{r[118], r[119], r[120], r[121], r[122], r[123]}),
            (std::vector<int>{0x0002, 0x0003, 1, 70000 - 65536, 0, 5}));
  // A unit never heard: no seconds since a reply.
  EXPECT_EQ(modbus::unitRegisters(sample(), 1, 0)[111], 0xFFFF);
}

TEST(RegisterMap, StationStateIsTheWorstOfAlarmAndFault) {
  StationSnapshot s = sample();
  auto r = modbus::stationRegisters(s);
  EXPECT_EQ((std::vector<int>(r.begin(), r.end())), (std::vector<int>{2, 1, 3, 1, 1765000000 >> 16, 1765000000 & 0xFFFF, 3, 1}));
  s.unit(2).alarm = {};
  EXPECT_EQ(modbus::stationRegisters(s)[0], modbus::kStationOk);
  s.unit(3).online = false;
  EXPECT_EQ(modbus::stationRegisters(s)[0], modbus::kStationFault);
  s.unit(3).online = true;
  s.lineUp = false;
  EXPECT_EQ(modbus::stationRegisters(s)[0], modbus::kStationFault);
}

TEST(Requests, ReadsAnswerBothFunctionsFromTheMapAndKeepTheTransaction) {
  const StationSnapshot s = sample();
  for (int fc : {3, 4}) {
    std::string out;
    const auto h = handle(readRequest(2, fc, 1, 3, 0xBEEF), s, out);
    EXPECT_EQ(h.step, modbus::Step::Answered);
    EXPECT_EQ(h.consumed, 12u);
    const std::string want{'\xBE', '\xEF', 0, 0, 0, 9, 2, static_cast<char>(fc), 6, 0x08, '\xCE', 0x08, '\xCA', 0, 0};
    EXPECT_EQ(out, want);
  }
  std::string out;
  EXPECT_EQ(handle(readRequest(2, 3, 0, 124), s, out).exception, 0);
  EXPECT_EQ(out.size(), 9u + 248u);
  // The station block under both of its identifiers.
  for (int id : {0, 255}) {
    out.clear();
    handle(readRequest(id, 4, 2, 1), s, out);
    EXPECT_EQ(out.substr(6), (std::string{static_cast<char>(id), 4, 2, 0, 3}));
  }
}

TEST(Requests, ExceptionsForUnknownUnitsAddressesFunctionsAndCounts) {
  const StationSnapshot s = sample();
  struct Case {
    std::vector<std::uint8_t> req;
    std::uint8_t code;
  };
  std::vector<Case> cases{
      {readRequest(4, 3, 0, 1), modbus::kTargetFailed},     // beyond the unit count
      {readRequest(100, 3, 0, 1), modbus::kTargetFailed},
      {readRequest(1, 3, 123, 2), modbus::kIllegalAddress},  // runs past the block
      {readRequest(255, 3, 8, 1), modbus::kIllegalAddress},
      {readRequest(1, 3, 0, 0), modbus::kIllegalValue},
      {readRequest(1, 3, 0, 126), modbus::kIllegalValue},
      {readRequest(1, 6, 1, 5), modbus::kIllegalFunction},   // write single register
      {readRequest(1, 16, 1, 1), modbus::kIllegalFunction},  // write multiple
  };
  for (const Case& c : cases) {
    std::string out;
    const auto h = handle(c.req, s, out);
    ASSERT_EQ(out.size(), 9u);
    EXPECT_EQ(static_cast<std::uint8_t>(out[7]), (c.req[7] | 0x80));
    EXPECT_EQ(static_cast<std::uint8_t>(out[8]), c.code) << "unit " << int(c.req[6]) << " fc " << int(c.req[7]);
    EXPECT_EQ(h.exception, c.code);
  }
}

TEST(Requests, LengthFieldDecidesTheFrame) {
  const StationSnapshot s = sample();
  std::string out;
  // Partial frames wait; two frames in one buffer are taken one at a time.
  auto two = readRequest(1, 3, 0, 1, 1);
  const auto second = readRequest(2, 3, 0, 1, 2);
  EXPECT_EQ(modbus::handleRequest(std::span(two).first(11), s, 0, out).step, modbus::Step::NeedMore);
  two.insert(two.end(), second.begin(), second.end());
  EXPECT_EQ(handle(two, s, out).consumed, 12u);
  EXPECT_TRUE(out.size() == 11u && out[1] == 1);

  // A length field that does not fit function 3's PDU: exception 3, the frame as long as the
  // field says, counted as malformed.
  auto longer = readRequest(1, 3, 0, 1);
  longer[5] = 8;
  longer.push_back(0);
  longer.push_back(0);
  out.clear();
  auto h = handle(longer, s, out);
  EXPECT_TRUE(h.step == modbus::Step::Answered && h.malformed && h.consumed == 14u && h.exception == modbus::kIllegalValue);

  // No Modbus header at all: the stream is broken.
  for (auto [at, value] : std::vector<std::pair<int, int>>{{5, 1}, {4, 1}, {2, 1}}) {
    auto bad = readRequest(1, 3, 0, 1);
    bad[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
    out.clear();
    h = handle(bad, s, out);
    EXPECT_TRUE(h.step == modbus::Step::Broken && h.malformed && out.empty()) << at;
  }
}

TEST(RegisterMap, ShippedCsvIsTheMapTheServerAnswers) {
  std::ifstream f(CELLSTATION_SOURCE_DIR "/docs/modbus-registers.csv", std::ios::binary);
  ASSERT_TRUE(f) << "docs/modbus-registers.csv";
  std::ostringstream text;
  text << f.rdbuf();
  EXPECT_EQ(text.str(), modbus::registerCsv());
  // The rows of each block cover it without a gap or an overlap.
  int unitNext = 0, stationNext = 0;
  for (const auto& r : modbus::registerTable()) {
    int& next = std::string(r.block) == "unit" ? unitNext : stationNext;
    EXPECT_EQ(r.address, next) << r.name;
    next = r.address + r.count;
  }
  EXPECT_EQ(unitNext, modbus::kUnitRegisters);
  EXPECT_EQ(stationNext, modbus::kStationRegisters);
}

}  // namespace
