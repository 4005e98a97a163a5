#pragma once
// The runs on their way to the long-term archive, kept in db1.mdb beside their 24-hour rows:
// a run is added in the transaction that stores its rows, and taken out once the archive holds
// it. A station killed between the two writes, or stopped while the archive could not be
// written, finds the runs there at its next start and archives them then.
//
// Hidden table cs_archivePending (seq, takenMs, data): one row per run, `data` the run's units
// with their cell counts and values in millivolts, as the archive keeps them.
#include <QByteArray>
#include <deque>
#include <optional>

#include "archive/core/ArchiveTypes.h"
#include "engine/TADOConnection.h"

namespace store {

/// A run waiting for the archive, with its row in cs_archivePending (0 until it has one).
struct QueuedRun {
  qint64 seq = 0;
  archive::Run run;
};

/// The run's units packed for the table; the values as millivolts, as the archive stores them.
QByteArray packRun(const archive::Run& run);
/// The run packed by packRun, at `timeMs`; none for data that is no packed run.
std::optional<archive::Run> unpackRun(qint64 timeMs, const QByteArray& data);

/// Adds the run inside the caller's transaction; returns its seq. Throws EDatabaseError.
qint64 queueForArchive(engine::TADOConnection& connection, const archive::Run& run);
/// Every run waiting, oldest first (none when the table is missing); a row that is no packed
/// run is removed and counted in `unreadable`. Throws EDatabaseError.
std::deque<QueuedRun> runsWaitingForArchive(engine::TADOConnection& connection, int* unreadable = nullptr);
/// Takes out the runs up to and including `seq`. Throws EDatabaseError.
void archivedUpTo(engine::TADOConnection& connection, qint64 seq);

}  // namespace store
