#pragma once
// A label that keeps itself sized to its text, like the window's labels: a text set later
// ("No.12", "7号测试仪信号未返回", "245V  ") is never cut to the width of the first one.
#include <QLabel>

namespace toolkit {

class AutoSizeLabel : public QLabel {
 public:
  using QLabel::QLabel;

  /// Sets the text and resizes the label to it. Call through an AutoSizeLabel pointer: the
  /// base's setText is not virtual.
  void setText(const QString& text) {
    QLabel::setText(text);
    adjustSize();
  }
};

}  // namespace toolkit
