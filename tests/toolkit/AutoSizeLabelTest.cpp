#include <gtest/gtest.h>

#include <QFontMetrics>

#include "toolkit/AutoSizeLabel.h"

namespace {

TEST(AutoSizeLabel, GrowsAndShrinksWithEveryText) {
  toolkit::AutoSizeLabel label{QString()};
  for (const QString& text : {QStringLiteral("No.12"), QStringLiteral("99号测试仪信号未返回"), QStringLiteral("245V  ")}) {
    label.setText(text);
    EXPECT_GE(label.width(), QFontMetrics(label.font()).horizontalAdvance(text)) << text.toStdString();
  }
  label.setText(QStringLiteral("99号测试仪信号未返回"));
  const int wide = label.width();
  label.setText(QStringLiteral("1"));
  EXPECT_LT(label.width(), wide);
}

}  // namespace
