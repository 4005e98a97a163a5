#include "trend/ExportDialog.h"

#include <QCoreApplication>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QLoggingCategory>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "archive/core/ArchiveExport.h"
#include "toolkit/MessageBoxes.h"

Q_DECLARE_LOGGING_CATEGORY(lcTrend)

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
    d->calendarWidget()->setLocale(QLocale(QLocale::Chinese, QLocale::China));
    d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
  }
  runsChoice = new QRadioButton(QStringLiteral("每次采样（time,V1..V108,V）"), this);
  daysChoice = new QRadioButton(QStringLiteral("日汇总（每节每个 UTC 日的最低、平均、最高，含今天未结束的一天）"), this);
  runsChoice->setChecked(true);
  outcome = new QLabel(this);
  outcome->setWordWrap(true);
  // The day summaries are kept per UTC day: the dates then name UTC days, and the dialog says so.
  daysNote = new QLabel(this);
  daysNote->setWordWrap(true);
  daysNote->setVisible(false);
  connect(daysChoice, &QRadioButton::toggled, daysNote, [this](bool on) {
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    daysNote->setText(QStringLiteral("日汇总的日期为 UTC 日期（本机时间 UTC%1%2:%3）。")
                          .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                          .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
                          .arg(std::abs(offset) % 3600 / 60, 2, 10, QLatin1Char('0')));
    daysNote->setVisible(on);
  });

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
  layout->addWidget(daysNote);
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
  // Runs over whole local days; day summaries over the UTC days of those dates.
  const qint64 fromMs = days ? QDateTime(first, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch()
                             : first.startOfDay().toMSecsSinceEpoch();
  const qint64 toMs = days ? QDateTime(last.addDays(1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch()
                           : last.addDays(1).startOfDay().toMSecsSinceEpoch();

  archive::ArchiveReader reader(folder_);
  // Months without a file inside the archive's span: said before and after, and logged.
  const QStringList missing = reader.missingMonths(fromMs, toMs);
  QString missingText;
  if (!missing.isEmpty()) {
    missingText = QStringLiteral("缺少 %1 的长期记录文件，这些月份不在导出中。").arg(missing.join(QStringLiteral("、")));
    qCWarning(lcTrend).noquote() << QStringLiteral("export of unit %1: month file(s) missing: %2").arg(unit).arg(missing.join(QStringLiteral(", ")));
  }
  QProgressDialog progress(QStringLiteral("正在导出第%1台的长期记录…").arg(unit) +
                               (missingText.isEmpty() ? QString() : QLatin1Char('\n') + missingText),
                           QStringLiteral("取消"), 0, 1, this);
  progress.setWindowTitle(windowTitle());
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setAutoReset(false);
  progress.setAutoClose(false);
  qint64 written = 0;
  const archive::ExportProgress onProgress = [&](qint64 done, qint64 total) {
    written = done;
    // The bar counts in thousands: a year's export may exceed an int's rows.
    progress.setMaximum(int(std::clamp<qint64>(total / 1000 + 1, 1, INT_MAX)));
    progress.setValue(int(std::min<qint64>(done / 1000, progress.maximum())));
    if (progressShown) progressShown(progress);
    QCoreApplication::processEvents();
    return !progress.wasCanceled();
  };
  try {
    const archive::ExportResult result =
        days ? archive::exportDaySummariesCsv(reader, unit, archive::dayOf(fromMs), archive::dayOf(toMs - 1), path, onProgress)
             : archive::exportRunsCsv(reader, unit, fromMs, toMs, path, onProgress);
    progress.close();
    // Files that could not be read (damaged, locked) were skipped: their span is not in the file.
    const QStringList skipped = reader.takeProblems();
    for (const QString& problem : skipped) qCWarning(lcTrend).noquote() << problem;
    if (result == archive::ExportResult::Cancelled) {
      outcome->setText(QStringLiteral("已取消，未写入文件。"));
      return {};
    }
    QString text = written == 0 ? QStringLiteral("此时段无长期记录；已写入只有表头的 %1。").arg(QDir::toNativeSeparators(path))
                                : QStringLiteral("已导出 %1 行到 %2。").arg(written).arg(QDir::toNativeSeparators(path));
    if (!missingText.isEmpty()) text += QLatin1Char(' ') + missingText;
    if (!skipped.isEmpty()) text += QStringLiteral(" 无法读取、未导出：%1").arg(skipped.join(QStringLiteral("；")));
    outcome->setText(text);
    return path;
  } catch (const std::exception& e) {
    progress.close();
    outcome->setText(QString());
    boxes_.error(this, QString::fromUtf8(e.what()));
    return {};
  }
}

}  // namespace trend
