// The limits the operator types: what is a voltage and what is refused, with which message.
#include <gtest/gtest.h>

#include "health/core/Limits.h"

namespace {

using health::Limit;
using health::LimitError;
using health::parseLimits;

std::array<QString, 5> texts(QString cellLow, QString cellHigh = {}, QString totalLow = {}, QString totalHigh = {},
                             QString spread = {}) {
  return {cellLow, cellHigh, totalLow, totalHigh, spread};
}

QString refusal(const std::array<QString, 5>& t, char separator = '.') {
  try {
    parseLimits(t, separator);
  } catch (const LimitError& e) {
    return QString::fromUtf8(e.what());
  }
  return {};
}

TEST(AlarmLimits, emptyBoxesLeaveLimitsOffAndNumbersAreVolts) {
  EXPECT_FALSE(parseLimits(texts({}, {}, {}, {}, {}), '.').any());
  EXPECT_FALSE(parseLimits(texts(QStringLiteral("  ")), '.').any());
  const auto l = parseLimits(texts(QStringLiteral("1.85"), QStringLiteral(" 2.4 "), QStringLiteral("48"),
                                   QStringLiteral("60"), QStringLiteral("0.1")),
                             '.');
  EXPECT_DOUBLE_EQ(*l[Limit::CellLow], 1.85);
  EXPECT_DOUBLE_EQ(*l[Limit::CellHigh], 2.4);
  EXPECT_DOUBLE_EQ(*l[Limit::TotalLow], 48);
  EXPECT_DOUBLE_EQ(*l[Limit::TotalHigh], 60);
  EXPECT_DOUBLE_EQ(*l[Limit::Spread], 0.1);
  EXPECT_DOUBLE_EQ(*parseLimits(texts(QStringLiteral("1,85")), ',')[Limit::CellLow], 1.85);
}

TEST(AlarmLimits, anythingThatIsNotAVoltageIsRefusedWithAClearMessage) {
  EXPECT_EQ(refusal(texts(QStringLiteral("abc"))),
            QStringLiteral("单体电压下限：“abc”不是电压值，请输入伏特数（例如 1.85），不设此项请留空"));
  EXPECT_TRUE(refusal(texts({}, QStringLiteral("2.4V"))).startsWith(QStringLiteral("单体电压上限：“2.4V”不是电压值")));
  EXPECT_TRUE(refusal(texts(QStringLiteral("1,85"))).contains(QStringLiteral("不是电压值")))
      << "a comma is no separator where the period is";
  EXPECT_EQ(refusal(texts({}, {}, QStringLiteral("-48"))), QStringLiteral("总电压下限不能为负数（-48V）"));
  EXPECT_EQ(refusal(texts(QStringLiteral("2.4"), QStringLiteral("1.8"))),
            QStringLiteral("单体电压下限必须低于单体电压上限"));
  EXPECT_EQ(refusal(texts(QStringLiteral("2"), QStringLiteral("2"))), QStringLiteral("单体电压下限必须低于单体电压上限"));
  EXPECT_EQ(refusal(texts({}, {}, QStringLiteral("60"), QStringLiteral("50"))),
            QStringLiteral("总电压下限必须低于总电压上限"));
  EXPECT_TRUE(refusal(texts({}, QStringLiteral("17"))).contains(QStringLiteral("不能高于16V")));
  EXPECT_TRUE(refusal(texts({}, {}, {}, QStringLiteral("301"))).contains(QStringLiteral("不能高于300V")));
  EXPECT_EQ(refusal(texts({}, {}, {}, {}, QStringLiteral("0"))), QStringLiteral("单体压差上限必须大于0V"));
}

}  // namespace
