#pragma once
// The printed cell comparison through the report component's page writer: page 1 the unit,
// the range, the ten cells drifting most and the chart of their deviations; page 2 every cell.
#include <QString>

#include "archive/core/CellDeviation.h"
#include "report/PageWriter.h"
#include "trend/core/TrendRange.h"

namespace trend {

/// Cells whose |trend| reaches `markMvPerMonth` are named and their rows shaded.
void writeComparison(report::PageWriter& w, const QString& station, int unit, const Range& range,
                     const archive::DeviationReport& report, double markMvPerMonth);

}  // namespace trend
