#include "store/core/Statements.h"

#include <stdexcept>

#include "common/NumberText.h"

namespace store {

namespace {

using acquisition::kCells;
using acquisition::kUnits;

QString n(double value) { return QString::fromStdString(common::statementNumber(value)); }

int checkedUnit(int unit) {
  if (unit < 1 || unit > kUnits) throw std::out_of_range("unit number " + std::to_string(unit) + " outside 1..99");
  return unit;
}

QString table(int unit) { return sampleTableName(unit); }

}  // namespace

QString sampleTableName(int unit) { return QStringLiteral("measure") + QString::number(checkedUnit(unit)); }

QString settingsRead() { return QStringLiteral("select * from setting"); }

QString intervalSave(double interval) { return QStringLiteral("update setting set secend=") + n(interval); }

QString unitCountSave(int unitCount) {
  return QStringLiteral("update setting set measureTotal=") + QString::number(unitCount);
}

QString rowCount(int unit) { return QStringLiteral("select count(*) from ") + table(unit); }

QString dropOldest(int unit) { return QStringLiteral("delete from ") + table(unit) + QStringLiteral(" where measureTime=0"); }

QString shiftTimes(int unit) {
  return QStringLiteral("update ") + table(unit) + QStringLiteral(" set measureTime=measureTime-0.05");
}

QString createTable(int unit) {
  QString s = QStringLiteral("CREATE TABLE ") + table(unit) + QStringLiteral(" ( ");
  for (int k = 1; k <= kCells; ++k) s += QStringLiteral("V%1 double,").arg(k);
  s += QStringLiteral("V double,measureTime double)");
  return s;
}

QString insertSample(int unit, const acquisition::CellRow& cells, double total, double time) {
  QString s = QStringLiteral("insert into ") + table(unit) + QStringLiteral(" values (");
  for (int k = 1; k <= kCells; ++k) s += n(cells[k]) + QLatin1Char(',');
  s += n(total) + QLatin1Char(',') + n(time) + QLatin1Char(')');
  return s;
}

QString clearTable(int unit) { return QStringLiteral("delete * from ") + table(unit); }

QString totalCurve(int unit) { return QStringLiteral("select V,measureTime from ") + table(unit); }

QString cellCurve(int cell, int unit) {
  if (cell < 1 || cell > kCells) throw std::out_of_range("cell number " + std::to_string(cell) + " outside 1..108");
  return QStringLiteral("select V%1,measureTime from ").arg(cell) + table(unit);
}

}  // namespace store
