#pragma once
// The settings row: what the window shows of it and what it writes back.
#include <QString>

#include "acquisition/core/MeasurementTables.h"
#include "engine/TADOQuery.h"

namespace store {

inline constexpr int kMinUnits = 1;
inline constexpr int kMaxUnits = acquisition::kUnits;

/// A unit count kept within 1..99: the station keeps tables for units 1 to 99 only.
int unitCountWithinRange(int count);

/// The unit count held by a settings field, within 1..99. Throws common::EConvertError when the
/// field holds no integer (null included).
int loadedUnitCount(const engine::TField& field);

/// The interval save statement for the interval box's text. The text is read as a number with
/// the window's decimal separator and written back with a period, so a comma locale's "2,5"
/// is stored as 2.5 and no operator text reaches the statement as it stands. Throws
/// common::EConvertError when the text is no number.
QString intervalSaveFor(const QString& intervalText, char decimalSeparator);

}  // namespace store
