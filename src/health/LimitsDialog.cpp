#include "health/LimitsDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "common/NumberText.h"

namespace health {

LimitsDialog::LimitsDialog(const Limits& current, char decimalSeparator, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("limitsDialog"));
  setWindowTitle(QStringLiteral("报警设置"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  for (std::size_t i = 0; i < edits.size(); ++i) {
    const Limit l = kAllLimits[i];
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QStringLiteral("limit%1").arg(i));
    if (current[l]) edit->setText(QString::fromStdString(common::formatGeneral(*current[l], decimalSeparator)));
    edit->setPlaceholderText(QStringLiteral("不设"));
    edits[i] = edit;
    form->addRow(limitName(l) + QStringLiteral("（V）："), edit);
  }
  layout->addLayout(form);
  layout->addWidget(new QLabel(QStringLiteral("全站所有检测仪共用；留空表示不设此项。\n"
                                              "连续两次测得越限才报警，连续两次回到限值以内"
                                              "（单体、压差 0.02V，总电压 0.5V）才解除。"),
                               this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &LimitsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &LimitsDialog::reject);
  layout->addWidget(buttons);
}

void LimitsDialog::accept() {
  std::array<QString, kLimitCount> texts;
  for (std::size_t i = 0; i < edits.size(); ++i) texts[i] = edits[i]->text();
  if (onAccept && !onAccept(texts)) return;
  QDialog::accept();
}

}  // namespace health
