#pragma once
// The sampling run and the clearing of the sample tables, as far as they need no window.
#include "acquisition/core/MeasurementTables.h"
#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"

#include <QString>
#include <vector>

namespace store {

inline constexpr double kSamplingThreshold = 180;  ///< seconds of polling per sample
inline constexpr int kWindowRows = 480;            ///< 24 hours at one row per 0.05 hour
inline constexpr double kTimeStep = 0.05;          ///< hours per row

/// Runs between two copies of the write-ahead log into db1.mdb (SQLite also copies whenever the
/// log passes 1000 pages, about four runs of 99 units): a page that several runs change is
/// written into the file once. The log is part of the database meanwhile; every copy the
/// station makes or offers (the daily backup, 备份数据库…, --backup, sqlite3's .backup) takes
/// it along, and closing copies it in and removes it.
inline constexpr int kRunsPerCheckpoint = 10;


/// A unit whose row could not be stored in a run, with the engine's message.
struct UnitFailure {
  int unit = 0;
  QString text;
};

/// Stores one row for each unit 1..unitCount (at most 99) from `tables`. A table holding 480
/// rows or more loses its rows at time 0 and is shifted down by 0.05; the new row's time is
/// 0.05 times the rows kept, so a full table always holds 0, 0.05, ..., 23.95. Each unit's
/// statements (count, drop-oldest, shift, create, insert) stand or fall together, and a unit
/// that fails costs only its own row: every other unit is stored, and the failed ones are
/// returned in ascending order (empty when all were stored). The run is one transaction, so a
/// kill loses the whole run and never half of a unit's window. Throws engine::EDatabaseError
/// only when the run as a whole fails (the file cannot be opened or was replaced during the
/// run, the commit fails): then no unit keeps a row of it. `query` is left closed.
[[nodiscard]] std::vector<UnitFailure> storeRun(engine::TADOConnection& connection, engine::TADOQuery& query, int unitCount,
                                  const acquisition::MeasurementTables& tables);

/// The failures as the operator reads them, one unit a line.
QString failureText(const std::vector<UnitFailure>& failures);

/// Empties the tables of units 1..unitCount (at most 99) that exist; tables of higher units
/// keep their rows. A failure leaves the tables before it empty, the rest as they were.
void clearSamples(engine::TADOConnection& connection, engine::TADOQuery& query, int unitCount);

}  // namespace store
