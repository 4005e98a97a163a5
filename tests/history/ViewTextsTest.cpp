// The stamp, the bar's caption and the chart title.
#include <gtest/gtest.h>

#include "history/core/ViewTexts.h"

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s) { return QDateTime(QDate(y, mo, d), QTime(h, mi, s)); }

TEST(ViewTexts, StampHasLeadingZerosAndDropsSeconds) {
  EXPECT_EQ(history::historyStamp(at(2024, 3, 7, 14, 5, 59)), QStringLiteral("2024年03月07日14时05分"));
  EXPECT_EQ(history::historyStamp(at(2025, 12, 31, 0, 0, 0)), QStringLiteral("2025年12月31日00时00分"));
  EXPECT_EQ(history::historyStamp(at(2026, 1, 1, 23, 59, 30)), QStringLiteral("2026年01月01日23时59分"));
}

TEST(ViewTexts, CaptionLeavesNineBlanksForTheSelector) {
  EXPECT_EQ(history::captionText(3), QString::fromUtf8("第3台检测仪的第") + QString(9, QLatin1Char(' ')) +
                                         QString::fromUtf8("节历史曲线"));
  EXPECT_EQ(history::captionText(99), QStringLiteral("第99台检测仪的第         节历史曲线"));
}

TEST(ViewTexts, TitleJoinsUnitSelectorAndStamp) {
  EXPECT_EQ(history::chartTitle(3, QStringLiteral("7"), QStringLiteral("2024年03月07日14时05分")),
            QStringLiteral("第3台检测仪的第7节截止2024年03月07日14时05分的历史曲线"));
  EXPECT_EQ(history::chartTitle(12, QStringLiteral("总电压"), QStringLiteral("2024年03月07日14时05分")),
            QStringLiteral("第12台检测仪的第总电压节截止2024年03月07日14时05分的历史曲线"));
}

}  // namespace
