#include "trend/ExportDialog.h"

#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "archive/core/ArchiveExport.h"
#include "toolkit/MessageBoxes.h"
#include "trend/BackgroundScan.h"

namespace trend {

ExportDialog::ExportDialog(QString archiveFolder, int unit, const Range& range, toolkit::MessageBoxes& boxes,
                           QWidget* parent)
    : QDialog(parent), folder_(std::move(archiveFolder)), boxes_(boxes) {
  setWindowTitle(QStringLiteral("导出长期记录"));
  unitBox = new QSpinBox(this);
  unitBox->setRange(1, 99);
  unitBox->setValue(std::clamp(unit, 1, 99));
  const QDate last = QDateTime::fromMSecsSinceEpoch(std::max(range.fromMs, range.toMs - 1)).date();
  fromDate = new QDateEdit(QDateTime::fromMSecsSinceEpoch(range.fromMs).date(), this);
  toDate = new QDateEdit(last, this);
  for (QDateEdit* d : {fromDate, toDate}) {
    d->setCalendarPopup(true);
    d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  }
  runsChoice = new QRadioButton(QStringLiteral("每次采样（time,V1..V108,V）"), this);
  daysChoice = new QRadioButton(QStringLiteral("日汇总（每节每日最低、平均、最高）"), this);
  runsChoice->setChecked(true);
  outcome = new QLabel(this);
  outcome->setWordWrap(true);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("检测仪"), unitBox);
  form->addRow(QStringLiteral("从（含）"), fromDate);
  form->addRow(QStringLiteral("到（含）"), toDate);
  form->addRow(QStringLiteral("内容"), runsChoice);
  form->addRow(QString(), daysChoice);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  exportButton = buttons->addButton(QStringLiteral("导出…"), QDialogButtonBox::ActionRole);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(exportButton, &QPushButton::clicked, this, [this] { exportNow(); });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(outcome);
  layout->addWidget(buttons);

  askSavePath = [this](const QString& title, const QString& suggested) {
    return QFileDialog::getSaveFileName(this, title, suggested, QStringLiteral("CSV (*.csv)"));
  };
}

QString ExportDialog::exportNow() {
  const int unit = unitBox->value();
  const QDate first = std::min(fromDate->date(), toDate->date()), last = std::max(fromDate->date(), toDate->date());
  const bool days = daysChoice->isChecked();
  const QString suggested = QStringLiteral("第%1台%2_%3_%4.csv")
                                .arg(unit)
                                .arg(days ? QStringLiteral("日汇总") : QString())
                                .arg(first.toString(Qt::ISODate), last.toString(Qt::ISODate));
  const QString path = askSavePath(windowTitle(), suggested);
  if (path.isEmpty()) return {};
  const qint64 fromMs = first.startOfDay().toMSecsSinceEpoch(), toMs = last.addDays(1).startOfDay().toMSecsSinceEpoch();

  qint64 written = 0;
  try {
    const QString folder = folder_;
    const bool complete = runInBackground(
        this, windowTitle(), QStringLiteral("正在导出第%1台的长期记录…").arg(unit),
        [&](ScanControl& control) {
          const archive::ExportProgress onProgress = [&](qint64 done, qint64 total) {
            written = done;
            control.progress(done, total);
            return !control.cancelled();
          };
          archive::ArchiveReader reader(folder);
          const archive::ExportResult result =
              days ? archive::exportDaySummariesCsv(reader, unit, archive::dayOf(fromMs), archive::dayOf(toMs - 1), path,
                                                    onProgress)
                   : archive::exportRunsCsv(reader, unit, fromMs, toMs, path, onProgress);
          if (result == archive::ExportResult::Cancelled) control.cancel();
        },
        progressShown);
    if (!complete) {
      outcome->setText(QStringLiteral("已取消，未写入文件。"));
      return {};
    }
    outcome->setText(written == 0 ? QStringLiteral("此时段无长期记录；已写入只有表头的 %1。").arg(QDir::toNativeSeparators(path))
                                  : QStringLiteral("已导出 %1 行到 %2。").arg(written).arg(QDir::toNativeSeparators(path)));
    return path;
  } catch (const std::exception& e) {
    outcome->setText(QString());
    boxes_.error(this, QString::fromUtf8(e.what()));
    return {};
  }
}

}  // namespace trend
