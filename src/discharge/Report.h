#pragma once
// The discharge report, one or two pages through the report component's page writer:
// page 1 the header (station, unit, start, end, duration, how it started and ended), the
// summary and the table of every cell with its judgement (weak cells shaded); page 2 the
// total's curve and the five weakest cells' curves over the discharge.
#include <QString>

#include "discharge/ReportWriter.h"
#include "discharge/core/Judgement.h"
#include "discharge/core/Recording.h"
#include "discharge/core/Settings.h"

namespace discharge {

/// Writes the report on `w` (the report body of a TRvSystem run: its OnPrint).
void writeReport(PageWriter& w, const QString& station, const Recording& r, const Judgement& j);

/// Writes the report into a PDF file, letter paper, as the report component's PDF output lays
/// it out. Throws std::runtime_error when the file cannot be written.
void writeReportPdf(const QString& path, const QString& station, const Recording& r, const Judgement& j);

}  // namespace discharge
