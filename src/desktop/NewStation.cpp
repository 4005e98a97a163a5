#include "desktop/NewStation.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QProcess>
#include <QSpinBox>
#include <QStandardPaths>

#include "desktop/StartUp.h"
#include "desktop/StationDir.h"


namespace desktop {

NewStationDialog::NewStationDialog(const QString& folder, QWidget* parent)
    : QDialog(parent), interval_(new QDoubleSpinBox(this)), units_(new QSpinBox(this)) {
  setWindowTitle(QStringLiteral("新建监测站"));
  interval_->setRange(0.1, 3600);
  interval_->setDecimals(1);
  interval_->setValue(5);
  interval_->setSuffix(QStringLiteral(" 秒"));
  units_->setRange(1, 99);
  units_->setValue(10);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* form = new QFormLayout(this);
  form->addRow(new QLabel(QStringLiteral("在 %1 建立新的数据库：").arg(QDir::toNativeSeparators(folder)), this));
  form->addRow(QStringLiteral("巡检间隔"), interval_);
  form->addRow(QStringLiteral("检测仪台数"), units_);
  form->addRow(buttons);
}

NewStationSettings NewStationDialog::settings() const { return {interval_->value(), units_->value()}; }

QString makeStation(const QString& folder, const NewStationSettings& settings) {
  const QString maker = QStandardPaths::findExecutable(QStringLiteral("cellstation-make-db"),
                                                       {QCoreApplication::applicationDirPath()});
  const QString program =
      maker.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("cellstation-make-db")) : maker;
  if (program.isEmpty()) return QStringLiteral("cellstation-make-db 未找到");
  if (!QDir().mkpath(folder)) return QStringLiteral("无法建立文件夹 %1").arg(QDir::toNativeSeparators(folder));
  // The interval in the plain decimal text the maker takes (a period, never an exponent).
  const QString interval = QString::number(settings.interval, 'f', 1);
  QProcess p;
  p.start(program, {folder, interval, QString::number(settings.units)});
  if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
  return {};
}

bool offerNewStation(toolkit::MessageBoxes& boxes, const QString& folder,
                     const std::function<std::optional<NewStationSettings>()>& ask) {
  const QString shown = QDir::toNativeSeparators(folder);
  const QString text = QStringLiteral("监测站文件夹 %1 不存在。\n\n是否建立该文件夹和新的数据库？\n"
                                      "（也可以在终端执行：mkdir -p %1 && cellstation-make-db %1 间隔秒数 台数）")
                           .arg(shown);
  if (boxes.confirm(nullptr, text) != toolkit::MessageBoxes::Answer::Yes) return false;
  const std::optional<NewStationSettings> settings = ask();
  if (!settings) return false;
  const QString failure = makeStation(folder, *settings);
  if (!failure.isEmpty()) {
    boxes.error(nullptr, QStringLiteral("未能建立监测站 %1：%2").arg(shown, failure));
    return false;
  }
  return true;
}

std::optional<int> settleMissingStation(StartUp& start, toolkit::MessageBoxes& boxes) {
  if (start.missingStation.empty()) return std::nullopt;
  const QString folder = QString::fromStdString(start.missingStation);
  const bool made = offerNewStation(boxes, folder, [&folder]() -> std::optional<NewStationSettings> {
    NewStationDialog dialog(folder);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.settings();
  });
  if (!made) return 1;
  const EnteredStation entered = enterStationDir(start.missingStation);
  if (!entered.ok) {
    boxes.error(nullptr, QString::fromStdString(entered.error));
    return 1;
  }
  start.stationPath = entered.path;
  start.stationWarning = entered.warning;
  start.missingStation.clear();
  return std::nullopt;
}

}  // namespace desktop
