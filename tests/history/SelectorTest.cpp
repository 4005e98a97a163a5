// Which texts name a curve, and the statement, column and axis each one gives.
#include <gtest/gtest.h>

#include "history/core/Selector.h"

namespace {

using history::parseSelector;

TEST(Selector, TotalAndEveryCellNumberNameACurve) {
  const auto total = parseSelector(QStringLiteral("总电压"));
  ASSERT_TRUE(total);
  EXPECT_TRUE(total->isTotal());
  EXPECT_EQ(total->valueColumn(), QStringLiteral("V"));
  EXPECT_EQ(total->axisMaximum(), 300);
  EXPECT_EQ(total->curveStatement(3), QStringLiteral("select V,measureTime from measure3"));

  for (int k = 1; k <= 108; ++k) {
    const auto cell = parseSelector(QString::number(k));
    ASSERT_TRUE(cell) << k;
    EXPECT_EQ(cell->cell, k);
    EXPECT_EQ(cell->axisMaximum(), 16);
  }
  const auto seven = parseSelector(QStringLiteral("7"));
  EXPECT_EQ(seven->valueColumn(), QStringLiteral("V7"));
  EXPECT_EQ(seven->curveStatement(3), QStringLiteral("select V7,measureTime from measure3"));
  EXPECT_EQ(parseSelector(QStringLiteral("108"))->curveStatement(99),
            QStringLiteral("select V108,measureTime from measure99"));
}

TEST(Selector, AnyOtherTextNamesNothing) {
  for (const char* text : {"", "0", "109", "999", "1000", "007", "07", " 7", "7 ", "+7", "-1", "1e1", "7.0", "abc",
                           "V7", "7,measureTime from setting --", "总电压 ", " 总电压", "总", "总电压1", "\xef\xbc\x97"})
    EXPECT_FALSE(parseSelector(QString::fromUtf8(text))) << text;
}

TEST(Selector, StatementsOnlyForTheStationsUnits) {
  EXPECT_THROW(parseSelector(QStringLiteral("7"))->curveStatement(0), std::out_of_range);
  EXPECT_THROW(parseSelector(QStringLiteral("总电压"))->curveStatement(100), std::out_of_range);
}

}  // namespace
