#include "trend/core/TrendRange.h"

#include <QDateTime>

namespace trend {

namespace {
constexpr qint64 kDayMs = 86400000;
}

qint64 TrendRange::length(Span span) {
  switch (span) {
    case Span::Day: return kDayMs;
    case Span::Week: return 7 * kDayMs;
    case Span::Month: return 30 * kDayMs;
    case Span::Year: return 365 * kDayMs;
    case Span::All: return 0;
  }
  return 0;
}

QString TrendRange::name(Span span) {
  switch (span) {
    case Span::Day: return QStringLiteral("24 小时");
    case Span::Week: return QStringLiteral("7 天");
    case Span::Month: return QStringLiteral("30 天");
    case Span::Year: return QStringLiteral("1 年");
    case Span::All: return QStringLiteral("全部");
  }
  return {};
}

void TrendRange::choose(Span span) {
  span_ = span;
  end_.reset();
}

void TrendRange::earlier(qint64 nowMs) {
  if (!movable()) return;
  end_ = end_.value_or(nowMs) - length(span_);
}

void TrendRange::later(qint64 nowMs) {
  if (!movable() || !end_) return;
  *end_ += length(span_);
  if (*end_ >= nowMs) end_.reset();
}

void TrendRange::endWith(const QDate& date, qint64 nowMs) {
  if (!movable() || !date.isValid()) return;
  const qint64 end = date.addDays(1).startOfDay().toMSecsSinceEpoch();
  if (end >= nowMs) end_.reset();
  else end_ = end;
}

Range TrendRange::at(qint64 nowMs, std::optional<std::pair<qint64, qint64>> stored) const {
  if (span_ == Span::All) {
    if (!stored) return {nowMs, nowMs};
    return {stored->first, stored->second + 1};
  }
  const qint64 end = end_.value_or(nowMs);
  return {end - length(span_), end};
}

}  // namespace trend
