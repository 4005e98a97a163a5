#include "store/core/Settings.h"

#include <algorithm>
#include <cmath>

#include "common/ConvertError.h"
#include "common/NumberText.h"
#include "store/core/Statements.h"

namespace store {

int unitCountWithinRange(int count) { return std::clamp(count, kMinUnits, kMaxUnits); }

int loadedUnitCount(const engine::TField& field) { return unitCountWithinRange(field.AsInteger()); }

QString intervalSaveFor(const QString& intervalText, char decimalSeparator) {
  const std::string text = intervalText.toStdString();
  const double value = common::parseFloat(text, decimalSeparator);
  // The database takes no infinity or NaN literal; such an interval is no number to it.
  if (!std::isfinite(value)) throw common::invalidFloat(text);
  return intervalSave(value);
}

}  // namespace store
