#pragma once
// What the archive stores: a sampling run (its UTC time and every unit's reading) and, read
// back, one unit's run as exact integers of the station's resolution.
#include <QtGlobal>
#include <array>
#include <stdexcept>
#include <vector>

namespace archive {

inline constexpr int kCells = 108;
/// Values per unit and run: cells 1..108, then the total.
inline constexpr int kValues = kCells + 1;
/// The index of the total among the values, and the "cell" that names it in the reading API.
inline constexpr int kTotalIndex = kCells;
inline constexpr int kTotalCell = 0;
inline constexpr qint64 kDayMs = 86400000;

/// A failed archive operation, with the text to show and log.
class ArchiveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A damaged archive file (SQLite's "malformed" or "not a database", or a block or staging row
/// that does not decode).
class ArchiveCorrupt : public ArchiveError {
 public:
  using ArchiveError::ArchiveError;
};

/// One unit's reading as the station holds it: volts decoded from the packed format.
struct UnitReading {
  int unit = 0;       // 1..99
  int cellCount = 0;  // cells the unit reports (0..108); cells above it are not kept
  std::array<double, kCells> cells{};
  double total = 0;
};

/// A sampling run: its time in UTC milliseconds since 1970 and the readings of its units.
struct Run {
  qint64 timeMs = 0;
  std::vector<UnitReading> units;
};

/// One unit's stored run: millivolts, cells 1..108 at [0..107] and the total at [108]. Cells
/// above cellCount hold 0.
struct StoredRun {
  qint64 timeMs = 0;
  int cellCount = 0;
  std::array<qint64, kValues> mv{};
};

/// Millivolts of a decoded voltage. Every packed value from 1 mV up is a whole number of
/// millivolts (cells come in 10 mV steps, totals in 100 mV), so rounding only undoes the
/// binary representation and nothing is rounded twice. A negative or non-finite value (none
/// comes from the line) is kept as 0; values beyond the packed format's range are clamped.
qint64 toMillivolts(double volts);
inline double toVolts(qint64 mv) { return double(mv) / 1000.0; }

StoredRun toStored(qint64 timeMs, const UnitReading& reading);

/// Days since 1970-01-01 in UTC (floor), the archive's day.
inline qint64 dayOf(qint64 timeMs) { return timeMs >= 0 ? timeMs / kDayMs : -((-timeMs + kDayMs - 1) / kDayMs); }

}  // namespace archive
