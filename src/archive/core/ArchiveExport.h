#pragma once
// CSV export of the archive, streamed month by month: a unit's runs (`time,V1..V108,V`) and the
// day summaries. UTF-8 with a byte order mark (spreadsheets then read the file as UTF-8), CRLF
// line ends, times in ISO 8601 local time with the UTC offset of that moment
// (2026-03-29T03:00:00+02:00), volts with a period. Every field is a time or a plain
// non-negative number, so no spreadsheet takes one for a formula. Cells the unit did not
// report at that run are empty fields.
//
// The file is written under a temporary name and only replaces `path` when complete: a
// cancelled or failed export leaves no partial file.
#include <QString>
#include <functional>

#include "archive/core/ArchiveReader.h"

namespace archive {

/// Called now and then with the rows written and the rows expected (an estimate: done may stop
/// short of it); return false to cancel.
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;

enum class ExportResult { Done, Cancelled };

/// The unit's runs with fromMs <= time < toMs. Throws ArchiveError when the file cannot be
/// written.
ExportResult exportRunsCsv(ArchiveReader& reader, int unit, qint64 fromMs, qint64 toMs, const QString& path,
                           const ExportProgress& progress = {});

/// Day summaries (`utc_date,unit,cell,min,mean,max,samples`; cell V1..V108 or V for the total)
/// of the unit (0: every unit) for UTC days fromDay..toDay, today's open day with the runs
/// stored so far.
ExportResult exportDaySummariesCsv(ArchiveReader& reader, int unit, qint64 fromDay, qint64 toDay, const QString& path,
                                   const ExportProgress& progress = {});

/// ISO 8601 local time with its offset: what the export writes in its time column.
QString localIsoTime(qint64 timeMs);

}  // namespace archive
