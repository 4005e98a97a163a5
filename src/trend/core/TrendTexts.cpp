#include "trend/core/TrendTexts.h"

#include <QDateTime>
#include <algorithm>

namespace trend {

QString localMinute(qint64 timeMs) {
  return QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString rangeTitle(int unit, const QString& selectorText, Span span, const Range& range, bool empty) {
  QString title = QStringLiteral("第%1台检测仪的第%2节 ").arg(unit).arg(selectorText);
  if (span == Span::All && range.toMs <= range.fromMs) title += QStringLiteral("全部");
  else title += QStringLiteral("%1 至 %2").arg(localMinute(range.fromMs), localMinute(range.toMs));
  title += QStringLiteral(" 的长期曲线（%1）").arg(TrendRange::name(span));
  if (empty) title += QStringLiteral("：此时段无长期记录");
  return title;
}

QString axisFormat(Span span) {
  switch (span) {
    case Span::Day:
    case Span::Week: return QStringLiteral("MM-dd HH:mm");
    case Span::Month: return QStringLiteral("MM-dd");
    case Span::Year:
    case Span::All: return QStringLiteral("yyyy-MM-dd");
  }
  return {};
}

int axisTicks(Span span) {
  switch (span) {
    case Span::Day: return 7;    // every 4 hours
    case Span::Week: return 8;   // every day
    case Span::Month: return 7;  // every 5 days
    case Span::Year:
    case Span::All: return 6;
  }
  return 5;
}

}  // namespace trend

namespace trend {

TimeAxis timeAxis(Span span, const Range& range) {
  TimeAxis a{range.fromMs, std::max(range.toMs, range.fromMs + 1), axisTicks(span)};
  if (span != Span::Week) return a;
  const QDate first = QDateTime::fromMSecsSinceEpoch(a.fromMs).date();
  QDate last = QDateTime::fromMSecsSinceEpoch(a.toMs).date();
  if (last.startOfDay().toMSecsSinceEpoch() < a.toMs) last = last.addDays(1);
  a.fromMs = first.startOfDay().toMSecsSinceEpoch();
  a.toMs = last.startOfDay().toMSecsSinceEpoch();
  a.ticks = int(first.daysTo(last)) + 1;
  return a;
}

}  // namespace trend
