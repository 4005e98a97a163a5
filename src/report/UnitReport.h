#pragma once
// The one-page report of a unit: its title with the date and time, then 18 rows of six cells,
// cell number and voltage side by side.
#include <QDateTime>

#include "acquisition/core/MeasurementTables.h"

namespace report {

class PageWriter;

/// Writes the report of unit `unit` from a copy of its cells, as of `now`.
void printUnitReport(PageWriter& Sender, int unit, int cellCount, const acquisition::CellRow& cells, const QDateTime& now,
                     char decimalSeparator);

}  // namespace report
