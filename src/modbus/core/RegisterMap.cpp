#include "modbus/core/RegisterMap.h"

#include <algorithm>
#include <cmath>

namespace modbus {

namespace {

using acquisition::StationSnapshot;
using acquisition::UnitSnapshot;

// A reading scaled and rounded to a register; kNoValue stays reserved, a negative reading
// (never sent by a unit) reads 0.
std::uint16_t scaled(double value, double perUnit) {
  const double r = std::round(value * perUnit);
  if (!(r > 0)) return 0;
  if (r >= kNoValue) return kNoValue - 1;
  return static_cast<std::uint16_t>(r);
}

void put32(std::uint16_t* at, std::uint64_t value) {
  // The counters run on beyond 32 bits; the registers show the low 32 bits, wrapping as
  // Modbus counters do.
  const auto v = static_cast<std::uint32_t>(value);
  at[0] = static_cast<std::uint16_t>(v >> 16);
  at[1] = static_cast<std::uint16_t>(v & 0xFFFF);
}

}  // namespace

std::array<std::uint16_t, kUnitRegisters> unitRegisters(const StationSnapshot& s, int u, std::int64_t nowMs) {
  const UnitSnapshot& unit = s.unit(u);
  std::array<std::uint16_t, kUnitRegisters> r{};
  const int n = std::clamp(unit.cellCount, 0, acquisition::kCells);
  r[kRegCellCount] = static_cast<std::uint16_t>(n);
  for (int k = 1; k <= acquisition::kCells; ++k)
    r[static_cast<std::size_t>(kRegFirstCell + k - 1)] =
        k <= n ? scaled(unit.cellVolts[static_cast<std::size_t>(k - 1)], 1000.0) : kNoValue;
  // A unit that has never answered has no total yet: 0 V would read as a real reading.
  r[kRegTotal] = unit.lastGoodMs ? scaled(unit.totalVolts, 100.0) : kNoValue;
  r[kRegOnline] = unit.online ? 1 : 0;
  if (!unit.lastGoodMs) {
    r[kRegSinceReply] = kNoValue;
  } else {
    // A clock set back reads 0, a reply older than 18 hours reads 65534.
    const std::int64_t since = std::max<std::int64_t>(0, nowMs - *unit.lastGoodMs) / 1000;
    r[kRegSinceReply] = static_cast<std::uint16_t>(std::min<std::int64_t>(since, kNoValue - 1));
  }
  for (int a = 0; a < acquisition::kAlarmKinds; ++a)
    r[static_cast<std::size_t>(kRegFirstAlarm + a)] = unit.alarm[static_cast<std::size_t>(a)] ? kAlarmActive : kAlarmOk;
  r[kRegCellsInAlarm] = static_cast<std::uint16_t>(std::clamp(unit.cellsInAlarm, 0, acquisition::kCells));
  put32(&r[kRegRequests], unit.requests);
  put32(&r[kRegReplies], unit.replies);
  put32(&r[kRegBadChecksum], unit.badChecksum);
  return r;
}

std::array<std::uint16_t, kStationRegisters> stationRegisters(const StationSnapshot& s) {
  std::array<std::uint16_t, kStationRegisters> r{};
  const int units = std::clamp(s.unitCount, 0, acquisition::kUnits);
  int online = 0, inAlarm = 0;
  for (int u = 1; u <= units; ++u) {
    const UnitSnapshot& unit = s.unit(u);
    online += unit.online ? 1 : 0;
    inAlarm += std::any_of(unit.alarm.begin(), unit.alarm.end(), [](bool a) { return a; }) ? 1 : 0;
  }
  if (inAlarm > 0) r[0] = kStationAlarm;
  else if (!s.polling || !s.lineUp || online < units) r[0] = kStationFault;
  else r[0] = kStationOk;
  r[1] = s.polling ? 1 : 0;
  r[2] = static_cast<std::uint16_t>(units);
  r[3] = s.lineUp ? 1 : 0;
  // Unix time in seconds, 0 for never; a time before 1970 (a clock gone wrong) reads 0 too.
  const std::int64_t at = s.lastSamplingMs ? std::max<std::int64_t>(0, *s.lastSamplingMs / 1000) : 0;
  put32(&r[4], static_cast<std::uint64_t>(at));
  r[6] = static_cast<std::uint16_t>(online);
  r[7] = static_cast<std::uint16_t>(inAlarm);
  return r;
}

const std::vector<RegisterInfo>& registerTable() {
  static const std::vector<RegisterInfo> table{
      {"unit", kRegCellCount, 1, "cells", "uint16", "", "cells the unit reported in its last reply (0..108)"},
      {"unit", kRegFirstCell, 108, "cell_voltage", "uint16", "mV",
       "cell k (1..108) at address k; 65535 for a cell the unit does not report"},
      {"unit", kRegTotal, 1, "total_voltage", "uint16", "10 mV", "the unit's total voltage; 65535 before its first reply"},
      {"unit", kRegOnline, 1, "online", "uint16", "", "1 online, 0 offline (no good reply in three polls)"},
      {"unit", kRegSinceReply, 1, "seconds_since_reply", "uint16", "s",
       "seconds since the last good reply, at most 65534; 65535 for never"},
      {"unit", kRegFirstAlarm + 0, 1, "alarm_cell_low", "uint16", "", "0 ok, 2 alarm"},
      {"unit", kRegFirstAlarm + 1, 1, "alarm_cell_high", "uint16", "", "0 ok, 2 alarm"},
      {"unit", kRegFirstAlarm + 2, 1, "alarm_total_low", "uint16", "", "0 ok, 2 alarm"},
      {"unit", kRegFirstAlarm + 3, 1, "alarm_total_high", "uint16", "", "0 ok, 2 alarm"},
      {"unit", kRegFirstAlarm + 4, 1, "alarm_spread", "uint16", "", "0 ok, 2 alarm"},
      {"unit", kRegCellsInAlarm, 1, "cells_in_alarm", "uint16", "", "cells with a low or high alarm"},
      {"unit", kRegRequests, 2, "requests", "uint32", "", "requests sent to the unit, high word first, wraps at 2^32"},
      {"unit", kRegReplies, 2, "replies", "uint32", "", "good replies from the unit, high word first, wraps at 2^32"},
      {"unit", kRegBadChecksum, 2, "bad_checksums", "uint32", "",
       "replies with a bad checksum, high word first, wraps at 2^32"},
      {"station", 0, 1, "station_state", "uint16", "",
       "0 ok, 1 fault (polling off, line down or a unit offline), 2 a unit in alarm"},
      {"station", 1, 1, "polling", "uint16", "", "1 polling, 0 stopped"},
      {"station", 2, 1, "unit_count", "uint16", "", "units polled (0..99)"},
      {"station", 3, 1, "line_up", "uint16", "", "1 the serial line works, 0 down"},
      {"station", 4, 2, "last_sampling_time", "uint32", "s",
       "Unix time of the last sampling run, high word first; 0 for none yet"},
      {"station", 6, 1, "units_online", "uint16", "", "polled units online"},
      {"station", 7, 1, "units_in_alarm", "uint16", "", "polled units with an active alarm"},
  };
  return table;
}

std::string registerCsv() {
  std::string csv = "block,unit_id,address,count,name,type,unit,description\n";
  for (const RegisterInfo& r : registerTable()) {
    csv += r.block;
    csv += std::string(",") + (std::string(r.block) == "unit" ? "1-99" : "0 or 255");
    csv += "," + std::to_string(r.address) + "," + std::to_string(r.count) + "," + r.name + "," + r.type + "," + r.unit;
    csv += ",\"" + std::string(r.description) + "\"\n";
  }
  return csv;
}

}  // namespace modbus
