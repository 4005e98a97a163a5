#pragma once
// The Modbus register map: what a control room reads of each detector unit and of the station.
// Pure functions of a snapshot; the same map answers function codes 3 and 4.
//
// Unit identifier N (1..99, up to the unit count) reads unit N's block; unit identifier 0 or 255
// reads the station block. Registers are 16-bit, addresses 0-based; 32-bit values take two
// registers, high word first.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/core/StationSnapshot.h"

namespace modbus {

/// Registers of a unit's block: one read of 124 fits the protocol's 125-register limit.
inline constexpr int kUnitRegisters = 124;
/// Registers of the station block.
inline constexpr int kStationRegisters = 8;
/// The unit identifiers that read the station block.
inline constexpr int kStationUnitId = 255;
inline constexpr int kStationUnitIdAlt = 0;

/// The value of a cell the unit does not report (and of "never" for the seconds since a reply).
inline constexpr std::uint16_t kNoValue = 0xFFFF;

// Addresses in a unit's block.
inline constexpr int kRegCellCount = 0;        ///< cells reported, 0..108
inline constexpr int kRegFirstCell = 1;        ///< cell k at address k, in mV
inline constexpr int kRegTotal = 109;          ///< total, in 10 mV
inline constexpr int kRegOnline = 110;         ///< 0/1
inline constexpr int kRegSinceReply = 111;     ///< seconds since the last good reply
inline constexpr int kRegFirstAlarm = 112;     ///< 112..116: cell low, cell high, total low, total high, spread
inline constexpr int kRegCellsInAlarm = 117;
inline constexpr int kRegRequests = 118;       ///< 118..119
inline constexpr int kRegReplies = 120;        ///< 120..121
inline constexpr int kRegBadChecksum = 122;    ///< 122..123

/// The alarm state values: no alarm, alarm (1 is kept free for a warning level).
inline constexpr std::uint16_t kAlarmOk = 0;
inline constexpr std::uint16_t kAlarmActive = 2;

// The station state (station block address 0).
inline constexpr std::uint16_t kStationOk = 0;
inline constexpr std::uint16_t kStationFault = 1;  ///< polling off, line down or a polled unit offline
inline constexpr std::uint16_t kStationAlarm = 2;  ///< a polled unit in alarm

/// Unit u's block (u in 1..99) as of `nowMs` (UTC milliseconds, for the seconds since the last
/// reply).
std::array<std::uint16_t, kUnitRegisters> unitRegisters(const acquisition::StationSnapshot& s, int u, std::int64_t nowMs);

/// The station block.
std::array<std::uint16_t, kStationRegisters> stationRegisters(const acquisition::StationSnapshot& s);

/// One row of the documented map.
struct RegisterInfo {
  const char* block;  ///< "unit" or "station"
  int address;
  int count;          ///< registers it takes
  const char* name;
  const char* type;   ///< uint16 or uint32
  const char* unit;   ///< measurement unit, or empty
  const char* description;
};

/// The map as documented (README table, shipped CSV), cells 1..108 as one row.
const std::vector<RegisterInfo>& registerTable();

/// The map as the CSV file shipped for integrators: a header line, then one line per row.
std::string registerCsv();

}  // namespace modbus
