#pragma once
// The history view's texts: the stamp of an opening, the bar's caption and the chart title.
#include <QDateTime>
#include <QString>

namespace history {

/// Local date and time to the minute, every number with leading zeros and nothing between the
/// parts: 2024年03月07日14时05分. Seconds are dropped, not rounded.
QString historyStamp(const QDateTime& when);

/// The bar's caption for unit N. The selector box sits over the run of nine blanks, so the bar
/// reads as one sentence with the selector in the place of the cell number.
QString captionText(int unit);

/// The chart's one-line title: unit N, the selector text, the stamp.
QString chartTitle(int unit, const QString& selectorText, const QString& stamp);

}  // namespace history
