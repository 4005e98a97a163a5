// The report's texts without a window: the title's date and time, the voltage texts and the
// TAB structure of the header and data lines.
#include <gtest/gtest.h>

#include "report/ReportText.h"

namespace {

TEST(ReportText, TitleCarriesTheUnitAndTheShortDateWithTheLongTimeButNotAtMidnight) {
  const QLocale zh(QLocale::Chinese, QLocale::China);
  const QDate day(2024, 3, 7);
  const QString date = zh.toString(day, QLocale::ShortFormat);
  EXPECT_EQ(report::reportTitle(7, QDateTime(day, QTime(14, 5, 9)), zh),
            QStringLiteral("     第7台检测仪在") + date + u' ' + zh.toString(QTime(14, 5, 9), report::longTimeFormat(zh)) +
                QStringLiteral("的数据"));
  EXPECT_EQ(report::reportTitle(12, QDateTime(day, QTime(0, 0, 0)), zh),
            QStringLiteral("     第12台检测仪在") + date + QStringLiteral("的数据"));
  EXPECT_TRUE(report::reportDateTime(QDateTime(day, QTime(0, 0, 1)), zh).contains(QStringLiteral("00:00:01")));
}

TEST(ReportText, LongTimeLeavesTheTimeZoneOut) {
  for (const QLocale& l : {QLocale::c(), QLocale(QLocale::Chinese, QLocale::China), QLocale(QLocale::English, QLocale::UnitedStates)}) {
    const QString f = report::longTimeFormat(l);
    EXPECT_FALSE(f.contains(u't')) << f.toStdString();
    EXPECT_TRUE(f.contains(QStringLiteral("ss"))) << "seconds stay: " << f.toStdString();
    EXPECT_EQ(f, f.trimmed());
  }
}

TEST(ReportText, VoltageTextHonoursTheAnnouncedCount) {
  EXPECT_EQ(report::voltageText(0, 1, 3.25, '.'), QStringLiteral("---"));
  EXPECT_EQ(report::voltageText(100, 100, 3.25, '.'), QStringLiteral("3.25"));
  EXPECT_EQ(report::voltageText(100, 101, 3.25, '.'), QStringLiteral("---"));
  EXPECT_EQ(report::voltageText(108, 108, 12.5, ','), QStringLiteral("12,5"));
  EXPECT_EQ(report::voltageText(1, 1, 0, '.'), QStringLiteral("0"));
}

TEST(ReportText, LinesHoldTheCellsBetweenTabs) {
  const QStringList header = report::reportHeaderLine().split(u'\t');
  ASSERT_EQ(header.size(), 13);
  EXPECT_EQ(header.front(), QString());
  for (int i = 1; i <= 12; ++i) EXPECT_EQ(header[i], i % 2 ? QStringLiteral("序号") : QStringLiteral("电压V"));

  std::array<QString, 6> v;
  for (int k = 0; k < 6; ++k) v[std::size_t(k)] = QStringLiteral("v%1").arg(k + 1);
  const QStringList row = report::reportRowLine(18, v).split(u'\t');
  ASSERT_EQ(row.size(), 14) << "ends with a TAB";
  EXPECT_EQ(row[1], QStringLiteral("103"));
  EXPECT_EQ(row[2], QStringLiteral("v1"));
  EXPECT_EQ(row[11], QStringLiteral("108"));
  EXPECT_EQ(row[12], QStringLiteral("v6"));
  EXPECT_EQ(row[13], QString());
}

}  // namespace
