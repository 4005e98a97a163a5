#pragma once
// The alarm limits, one box each; an empty box leaves that limit off.
#include <QDialog>
#include <array>
#include <functional>

#include "health/core/Limits.h"

class QLineEdit;

namespace health {

class LimitsDialog : public QDialog {
  Q_OBJECT
 public:
  LimitsDialog(const Limits& current, char decimalSeparator, QWidget* parent = nullptr);

  /// The boxes in the order of kAllLimits.
  std::array<QLineEdit*, kLimitCount> edits{};
  /// Called on OK with the boxes' texts; the dialog closes only when it returns true.
  std::function<bool(const std::array<QString, kLimitCount>&)> onAccept;

  void accept() override;
};

}  // namespace health
