#include "discharge/SettingsDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace discharge {

SettingsDialog::SettingsDialog(const Settings& current, char decimalSeparator, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("dischargeSettingsDialog"));
  setWindowTitle(QStringLiteral("放电设置"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  const auto texts = settingTexts(current, decimalSeparator);
  for (int i = 0; i < kSettingCount; ++i) {
    auto* edit = new QLineEdit(texts[static_cast<std::size_t>(i)], this);
    edit->setObjectName(QStringLiteral("dischargeSetting%1").arg(i));
    edits[static_cast<std::size_t>(i)] = edit;
    form->addRow(settingName(i) + QStringLiteral("："), edit);
  }
  layout->addLayout(form);
  layout->addWidget(new QLabel(QStringLiteral("全站所有检测仪共用，电压按每节计，乘以节数即为该台的总电压。\n"
                                              "总电压连续两次低于判定电压即开始记录放电；连续两次高于判定电压加回差，\n"
                                              "或达到最长放电时间，即结束。单体以终止电压评判（铅酸电池常用 1.80V）。"),
                               this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
  layout->addWidget(buttons);
}

void SettingsDialog::accept() {
  std::array<QString, kSettingCount> texts;
  for (std::size_t i = 0; i < edits.size(); ++i) texts[i] = edits[i]->text();
  if (onAccept && !onAccept(texts)) return;
  QDialog::accept();
}

}  // namespace discharge
