#include "archive/core/ArchiveTypes.h"

#include <algorithm>
#include <cmath>

namespace archive {

namespace {
// The largest packed value (digits 15 at exponent 15) is below 1.7e15 V.
constexpr double kMaxMillivolts = 2e18;
}  // namespace

qint64 toMillivolts(double volts) {
  if (!(volts > 0) || std::isnan(volts)) return 0;
  const double mv = std::min(volts * 1000.0, kMaxMillivolts);
  return std::llround(mv);
}

StoredRun toStored(qint64 timeMs, const UnitReading& reading) {
  StoredRun r;
  r.timeMs = timeMs;
  r.cellCount = std::clamp(reading.cellCount, 0, kCells);
  for (int i = 0; i < r.cellCount; ++i) r.mv[std::size_t(i)] = toMillivolts(reading.cells[std::size_t(i)]);
  r.mv[kTotalIndex] = toMillivolts(reading.total);
  return r;
}

}  // namespace archive
