#pragma once
// The time range of the history chart: 24 hours (the stored day, following now), 7 days,
// 30 days, a year, or everything the long-term record holds; moved earlier or later by its own
// length, or made to end with a chosen day.
//
// A range that has not been moved ends now. The 24 hours that end now are the stored day's view;
// every other range is read from the long-term record.
#include <QDate>
#include <QString>
#include <optional>
#include <utility>

namespace trend {

enum class Span { Day, Week, Month, Year, All };

struct Range {
  qint64 fromMs = 0;  // UTC ms, inclusive
  qint64 toMs = 0;    // UTC ms, exclusive
};

class TrendRange {
 public:
  Span span() const { return span_; }
  /// The stored day's view: 24 hours, ending now.
  bool isStoredDay() const { return span_ == Span::Day && !end_; }
  /// Whether earlier and later move this range (everything has nowhere to go).
  bool movable() const { return span_ != Span::All; }
  /// Whether the range ends now (later has nowhere to go).
  bool endsNow() const { return !end_; }

  /// Another span, ending now.
  void choose(Span span);
  /// Back by the span's length.
  void earlier(qint64 nowMs);
  /// On by the span's length; a range that would reach now ends now again.
  void later(qint64 nowMs);
  /// Ends with the local day `date` (at its end), or now for a day not yet over.
  void endWith(const QDate& date, qint64 nowMs);

  /// The range in UTC ms. For everything: `stored`, the first and last time the record holds
  /// (an empty range at now without it).
  Range at(qint64 nowMs, std::optional<std::pair<qint64, qint64>> stored = std::nullopt) const;

  /// The span's length in ms; 0 for everything.
  static qint64 length(Span span);
  /// The span as the menu names it: "24 小时", "7 天", "30 天", "1 年", "全部".
  static QString name(Span span);

 private:
  Span span_ = Span::Day;
  std::optional<qint64> end_;
};

}  // namespace trend
