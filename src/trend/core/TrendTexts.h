#pragma once
// The long-term chart's texts: its title, and the date labels of its time axis.
#include <QString>

#include "trend/core/TrendRange.h"

namespace trend {

/// Local "yyyy-MM-dd HH:mm" of a UTC time.
QString localMinute(qint64 timeMs);

/// 第N台检测仪的第S节 FROM 至 TO 的长期曲线（SPAN）, and when the record holds nothing there:
/// "：此时段无长期记录".
QString rangeTitle(int unit, const QString& selectorText, Span span, const Range& range, bool empty);

/// The time axis' label format and label count for a span.
QString axisFormat(Span span);
int axisTicks(Span span);

/// The time axis of a range: the range itself with axisTicks labels, but for 7 days whole local
/// days around it with a label at every midnight.
struct TimeAxis {
  qint64 fromMs = 0, toMs = 1;
  int ticks = 2;
};
TimeAxis timeAxis(Span span, const Range& range);

}  // namespace trend
