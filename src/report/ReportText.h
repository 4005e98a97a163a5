#pragma once
// The texts of the printed report of one unit: its title, the header line and the data lines
// handed to the page writer, TABs included. Plain functions without a window.
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <array>

namespace report {

/// The system's long time format without the time-zone field, which the station's clock
/// never shows.
QString longTimeFormat(const QLocale& locale);

/// D: the short date, one blank and the long time; at midnight (0:00:00) the date alone.
QString reportDateTime(const QDateTime& at, const QLocale& locale);

/// "     第N台检测仪在D的数据".
QString reportTitle(int unit, const QDateTime& at, const QLocale& locale);

/// "---" when the unit announced fewer than `cell` cells, else the voltage in the general form.
QString voltageText(int cellCount, int cell, double volts, char decimalSeparator);

/// Six times TAB "序号" TAB "电压V"; no TAB at the end.
QString reportHeaderLine();

/// Data row r (1..18): TAB, then for each of its six cells the cell number, TAB, the voltage
/// text and TAB; the closing TAB lies past the last column.
QString reportRowLine(int row, const std::array<QString, 6>& voltages);

}  // namespace report
