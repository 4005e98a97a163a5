#pragma once
// A recording as CSV: `time,V1..V108,V`, UTF-8 with a byte-order mark, CRLF lines. The time is
// ISO 8601 local time with milliseconds and the offset (2026-12-09T16:22:12.345+08:00); the
// voltages in volts with a period, exact from the stored mV; empty for cells the reply did not
// carry. Every field is a time or a plain non-negative number, so no spreadsheet reads a field
// as a formula.
#include <QByteArray>
#include <QString>

#include "discharge/core/Recording.h"

namespace discharge {

/// The time as the CSV writes it, in the machine's local zone.
QString csvTime(qint64 utcMs);

QByteArray recordingCsv(const Recording& r);

/// Writes the CSV to `path`; throws std::runtime_error with the message to show.
void writeRecordingCsv(const Recording& r, const QString& path);

}  // namespace discharge
