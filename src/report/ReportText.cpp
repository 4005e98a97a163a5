#include "report/ReportText.h"

#include "acquisition/core/MeasurementTables.h"
#include "common/NumberText.h"

namespace report {

QString longTimeFormat(const QLocale& locale) {
  const QString f = locale.timeFormat(QLocale::LongFormat);
  QString out;
  bool quoted = false;
  for (QChar c : f) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) continue;
    out += c;
  }
  return out.simplified();
}

QString reportDateTime(const QDateTime& at, const QLocale& locale) {
  QString d = locale.toString(at.date(), QLocale::ShortFormat);
  const QTime t = at.time();
  if (t.hour() != 0 || t.minute() != 0 || t.second() != 0)
    d += QLatin1Char(' ') + locale.toString(t, longTimeFormat(locale));
  return d;
}

QString reportTitle(int unit, const QDateTime& at, const QLocale& locale) {
  return QStringLiteral("     第") + QString::number(unit) + QStringLiteral("台检测仪在") +
         reportDateTime(at, locale) + QStringLiteral("的数据");
}

QString voltageText(int cellCount, int cell, double volts, char decimalSeparator) {
  if (cellCount < cell) return QStringLiteral("---");
  return QString::fromStdString(common::formatGeneral(volts, decimalSeparator));
}

QString reportHeaderLine() {
  QString s;
  for (int k = 0; k < 6; ++k) s += QStringLiteral("\t序号\t电压V");
  return s;
}

QString reportRowLine(int row, const std::array<QString, 6>& voltages) {
  QString s = QStringLiteral("\t");
  for (int k = 1; k <= 6; ++k)
    s += QString::number(acquisition::cellAt(k, row)) + QLatin1Char('\t') + voltages[static_cast<std::size_t>(k - 1)] +
         QLatin1Char('\t');
  return s;
}

}  // namespace report
