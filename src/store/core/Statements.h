#pragma once
// The text of every statement the station sends to the database. Numbers in statements are
// written in the general format with a period; unit and cell numbers in plain decimal.
//
// Unit numbers must be 1..99 and cell numbers 1..108: anything else is a programming error and
// throws std::out_of_range, so no statement ever names a table the station does not keep.
#include <QString>

#include "acquisition/core/MeasurementTables.h"

namespace store {

/// "measure" N.
QString sampleTableName(int unit);

QString settingsRead();
/// "update setting set secend=" + the interval, written from the number (never from free text).
QString intervalSave(double interval);
QString unitCountSave(int unitCount);

QString rowCount(int unit);
QString dropOldest(int unit);
QString shiftTimes(int unit);
QString createTable(int unit);
/// The unit's 108 cell voltages, its total and the time value, in the column order.
QString insertSample(int unit, const acquisition::CellRow& cells, double total, double time);
QString clearTable(int unit);
QString totalCurve(int unit);
QString cellCurve(int cell, int unit);

}  // namespace store
