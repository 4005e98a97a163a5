#pragma once
// Simulated long-term readings for the archive demo and the archive benchmark: strings of
// lead-acid cells floating near 2.25 V, as the station would have decoded them from the
// detectors (cells in 10 mV steps, totals in the packed format's steps).
//
// Each cell sits a little off the others and wanders with a few mV of noise and the room's
// daily warmth; the float voltage creeps up 2 mV a month; in units 2, 6, 10, ... cell 7 is weak
// and drifts down 1 mV a day (30 mV a month) and sags deeper in discharges; every 30 days, on
// day 12, 18, ... of the simulation, the mains fail for two hours in the afternoon and the
// string discharges, then the charger lifts it and eases back to float.
#include <QString>
#include <cstdint>
#include <random>

#include "archive/core/ArchiveTypes.h"

namespace demo {

class SimulatedStation {
 public:
  /// `startMs`: the first run's time (UTC), the origin of the drift and of the discharges.
  SimulatedStation(int units, int cells, qint64 startMs, std::uint32_t seed = 1);
  /// The readings of every unit at `timeMs`.
  archive::Run run(qint64 timeMs);
  int cells() const { return cells_; }
  static bool weakCell(int unit, int cell) { return unit % 4 == 2 && cell == 7; }

 private:
  int units_;
  int cells_;
  qint64 startMs_;
  std::mt19937 rng_;
  std::normal_distribution<double> noise_{0.0, 0.003};
};

/// Writes `days` days of runs (one every 180 s, ending now) for units 1..units into the archive
/// folder `folder` through the station's archive writer; returns the runs written. Throws
/// archive::ArchiveError.
int writeArchiveDays(const QString& folder, int units, int cells, int days);

}  // namespace demo
