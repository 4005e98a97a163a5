#pragma once
// A day of stored samples for a demo station folder: what 24 hours of polling a string of
// lead-acid cells would have left in its sample tables, written by the station's own sampling
// run, so the tables are exactly those the station keeps.
#include "acquisition/core/MeasurementTables.h"
#include "engine/TADOConnection.h"

namespace demo {

/// Sampling runs in a day: one every 180 s of polling.
inline constexpr int kRunsPerDay = 480;

/// The voltages unit `unit` reports at sampling run `run` (0 .. kRunsPerDay - 1) with `cells`
/// cells (1..108), as the station would have decoded them: cells to 0.01 V, the total to 0.1 V.
/// The string floats near 2.25 V a cell, each cell a little off the others, and rides through a
/// mains outage in the afternoon and the recharge after it. Cells above `cells` read 0.
void reportedVoltages(int unit, int cells, int run, acquisition::MeasurementTables& tables);

/// Stores `runs` sampling runs for units 1..unitCount in the database behind `connection`, in
/// one transaction. Throws engine::EDatabaseError; nothing is stored then.
void storeDay(engine::TADOConnection& connection, int unitCount, int cells, int runs = kRunsPerDay);

}  // namespace demo
