#include <gtest/gtest.h>

#include <QPushButton>
#include <stdexcept>

#include "toolkit/HandlerGuard.h"

namespace {

using toolkit::MessageBoxes;

TEST(HandlerGuard, ErrorTextReachesTheErrorBoxAndLaterHandlersStillRun) {
  toolkit::RecordingMessageBoxes boxes;
  toolkit::HandlerGuard guard(boxes, nullptr);
  bool secondRan = false;

  guard.run([] { throw std::runtime_error("打开串口出错\r\n此串口不存在或被占用"); });
  guard.run([&] { secondRan = true; });

  ASSERT_EQ(boxes.texts(MessageBoxes::Kind::Error).size(), 1);
  EXPECT_EQ(boxes.texts(MessageBoxes::Kind::Error).front(),
            QStringLiteral("打开串口出错\r\n此串口不存在或被占用"));
  EXPECT_TRUE(secondRan);
}

TEST(HandlerGuard, NonStandardExceptionIsShownToo) {
  toolkit::RecordingMessageBoxes boxes;
  toolkit::HandlerGuard guard(boxes, nullptr);
  guard.run([] { throw 42; });
  EXPECT_EQ(boxes.texts(MessageBoxes::Kind::Error).size(), 1);
}

TEST(HandlerGuard, WrappedHandlerOnASignalNeverLetsTheExceptionOut) {
  toolkit::RecordingMessageBoxes boxes;
  toolkit::HandlerGuard guard(boxes, nullptr);
  QPushButton button;
  int clicks = 0;
  QObject::connect(&button, &QPushButton::clicked, &button, guard.wrap([&] {
                     ++clicks;
                     throw std::runtime_error("boom");
                   }));
  button.click();
  button.click();
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(boxes.texts(MessageBoxes::Kind::Error), QStringList({"boom", "boom"}));
}

// A box whose nested event loop runs further failing handlers: they must queue behind it, not
// open boxes on top of it, and a repeated text is shown once.
class ReentrantBoxes : public toolkit::RecordingMessageBoxes {
 public:
  toolkit::HandlerGuard* guard = nullptr;
  int depth = 0;
  int maxDepth = 0;
  void error(QWidget* parent, const QString& text) override {
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    RecordingMessageBoxes::error(parent, text);
    if (text == "first") {
      guard->run([] { throw std::runtime_error("second"); });
      guard->run([] { throw std::runtime_error("second"); });
      guard->run([] { throw std::runtime_error("first"); });
    }
    --depth;
  }
};

TEST(HandlerGuard, ErrorsDuringAnOpenBoxAreQueuedNotStacked) {
  ReentrantBoxes boxes;
  toolkit::HandlerGuard guard(boxes, nullptr);
  boxes.guard = &guard;
  guard.run([] { throw std::runtime_error("first"); });
  EXPECT_EQ(boxes.maxDepth, 1);
  EXPECT_EQ(boxes.texts(MessageBoxes::Kind::Error), QStringList({"first", "second"}));

  // Once the boxes are closed the same error is shown again when it happens again.
  boxes.clear();
  guard.run([] { throw std::runtime_error("second"); });
  EXPECT_EQ(boxes.texts(MessageBoxes::Kind::Error), QStringList({"second"}));
}

}  // namespace
