#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "toolkit/ArrowSpinBox.h"

namespace {

TEST(ArrowSpinBox, TypingIsOffButArrowsStep) {
  toolkit::ArrowSpinBox box;
  box.setRange(1, 5);
  box.setValue(1);
  box.show();
  box.setFocus();
  QTest::keyClicks(&box, "4");
  EXPECT_EQ(box.value(), 1) << "typing must not change the value";
  box.stepUp();
  EXPECT_EQ(box.value(), 2);
  QTest::keyClick(&box, Qt::Key_Up);
  EXPECT_EQ(box.value(), 3);
  box.setValue(5);
  box.stepUp();
  EXPECT_EQ(box.value(), 5) << "the arrows stop at the maximum";
}

}  // namespace
