#include "history/core/Selector.h"

#include "acquisition/core/MeasurementTables.h"
#include "acquisition/core/ReplyDecoder.h"
#include "store/core/Statements.h"

namespace history {

QString totalText() { return QStringLiteral("总电压"); }

QString Selector::valueColumn() const {
  return isTotal() ? QStringLiteral("V") : QStringLiteral("V") + QString::number(cell);
}

double Selector::axisMaximum() const { return isTotal() ? acquisition::kMaxTotalVoltage : acquisition::kMaxCellVoltage; }

QString Selector::curveStatement(int unit) const {
  return isTotal() ? store::totalCurve(unit) : store::cellCurve(cell, unit);
}

std::optional<Selector> parseSelector(const QString& text) {
  if (text == totalText()) return Selector{0};
  // Digits only, checked by hand: toInt would also take "+7", " 7" and "007".
  if (text.isEmpty() || text.size() > 3 || text.front() == QLatin1Char('0')) return std::nullopt;
  int cell = 0;
  for (const QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    cell = cell * 10 + (c.unicode() - '0');
  }
  if (cell > acquisition::kCells) return std::nullopt;
  return Selector{cell};
}

}  // namespace history
