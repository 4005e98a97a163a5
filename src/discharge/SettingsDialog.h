#pragma once
// 放电设置: the four discharge settings, one box each.
#include <QDialog>
#include <array>
#include <functional>

#include "discharge/core/Settings.h"

class QLineEdit;

namespace discharge {

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  SettingsDialog(const Settings& current, char decimalSeparator, QWidget* parent = nullptr);

  /// The boxes in the order of parseSettings.
  std::array<QLineEdit*, kSettingCount> edits{};
  /// Called on OK with the boxes' texts; the dialog closes only when it returns true.
  std::function<bool(const std::array<QString, kSettingCount>&)> onAccept;

  void accept() override;
};

}  // namespace discharge
