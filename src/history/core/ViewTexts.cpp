#include "history/core/ViewTexts.h"

namespace history {

QString historyStamp(const QDateTime& when) {
  // Qt's date format letters are Latin; the Chinese unit words pass through as literals.
  return when.toString(QStringLiteral("yyyy年MM月dd日HH时mm分"));
}

QString captionText(int unit) {
  return QStringLiteral("第") + QString::number(unit) + QStringLiteral("台检测仪的第         节历史曲线");
}

QString chartTitle(int unit, const QString& selectorText, const QString& stamp) {
  return QStringLiteral("第") + QString::number(unit) + QStringLiteral("台检测仪的第") + selectorText +
         QStringLiteral("节截止") + stamp + QStringLiteral("的历史曲线");
}

}  // namespace history
