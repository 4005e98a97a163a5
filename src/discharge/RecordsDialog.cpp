#include "discharge/RecordsDialog.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "discharge/Report.h"
#include "discharge/core/Csv.h"
#include "toolkit/MessageBoxes.h"

namespace discharge {

namespace {
enum Column { Id, Unit, Start, End, Duration, StartedBy, EndedBy, Samples, Rated, ColumnCount };
constexpr int kIdRole = Qt::UserRole + 1;
}  // namespace

RecordsDialog::RecordsDialog(Archive& archive, toolkit::MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent), archive_(archive), boxes_(boxes) {
  setObjectName(QStringLiteral("dischargeRecordsDialog"));
  setWindowTitle(QStringLiteral("放电记录"));
  resize(900, 420);
  auto* layout = new QVBoxLayout(this);
  table = new QTableWidget(0, ColumnCount, this);
  table->setHorizontalHeaderLabels({QStringLiteral("编号"), QStringLiteral("检测仪"), QStringLiteral("开始"),
                                    QStringLiteral("结束"), QStringLiteral("历时"), QStringLiteral("开始方式"),
                                    QStringLiteral("结束方式"), QStringLiteral("样本"),
                                    QStringLiteral("额定时间（分钟）")});
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->verticalHeader()->hide();
  table->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table);
  auto* buttons = new QHBoxLayout;
  reportButton = new QPushButton(QStringLiteral("报告…"), this);
  csvButton = new QPushButton(QStringLiteral("导出CSV…"), this);
  auto* close = new QPushButton(QStringLiteral("关闭"), this);
  buttons->addWidget(reportButton);
  buttons->addWidget(csvButton);
  buttons->addStretch();
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(reportButton, &QPushButton::clicked, this, &RecordsDialog::reportSelected);
  connect(csvButton, &QPushButton::clicked, this, &RecordsDialog::exportSelected);
  connect(close, &QPushButton::clicked, this, &RecordsDialog::accept);
  connect(table, &QTableWidget::cellChanged, this, &RecordsDialog::ratedEdited);
  connect(table, &QTableWidget::cellDoubleClicked, this, [this](int, int column) {
    if (column != Rated) reportSelected();
  });
  chooseCsvFile = [this](const QString& suggested) {
    return QFileDialog::getSaveFileName(this, QStringLiteral("导出放电数据"), suggested, QStringLiteral("CSV (*.csv)"));
  };
  reload();
}

void RecordsDialog::reload() {
  loading_ = true;
  table->setRowCount(0);
  try {
    const auto records = archive_.list();
    table->setRowCount(static_cast<int>(records.size()));
    int row = 0;
    for (const DischargeRecord& r : records) {
      const QString cells[ColumnCount] = {
          QString::number(r.id),
          QString::number(r.unit),
          reportTime(r.startMs),
          r.endMs ? reportTime(*r.endMs) : QStringLiteral("进行中"),
          r.endMs ? durationText(*r.endMs - r.startMs) : QString(),
          text(r.startedBy),
          r.endedBy ? text(*r.endedBy) : QString(),
          QString::number(r.samples),
          r.ratedMinutes ? QString::number(*r.ratedMinutes) : QString()};
      for (int c = 0; c < ColumnCount; ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        item->setData(kIdRole, r.id);
        if (c != Rated) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        table->setItem(row, c, item);
      }
      ++row;
    }
    if (row > 0) table->selectRow(0);
  } catch (const std::exception& e) {
    boxes_.error(this, QString::fromUtf8(e.what()));
  }
  table->resizeColumnsToContents();
  reportButton->setEnabled(table->rowCount() > 0);
  csvButton->setEnabled(table->rowCount() > 0);
  loading_ = false;
}

qint64 RecordsDialog::selectedId() const {
  const auto rows = table->selectionModel()->selectedRows();
  if (rows.isEmpty()) return 0;
  return table->item(rows.front().row(), Id)->data(kIdRole).toLongLong();
}

void RecordsDialog::ratedEdited(int row, int column) {
  if (loading_ || column != Rated) return;
  const QTableWidgetItem* item = table->item(row, column);
  const qint64 id = item->data(kIdRole).toLongLong();
  const QString text = item->text().trimmed();
  bool ok = true;
  const int minutes = text.isEmpty() ? 0 : text.toInt(&ok);
  try {
    if (!ok || minutes < 0 || minutes > 100000)
      throw std::runtime_error(QStringLiteral("额定时间：“%1”不是分钟数，请输入正整数（例如 180），不填请留空")
                                   .arg(text)
                                   .toStdString());
    archive_.setRatedMinutes(id, minutes > 0 ? std::optional<int>(minutes) : std::nullopt);
  } catch (const std::exception& e) {
    boxes_.error(this, QString::fromUtf8(e.what()));
  }
  reload();
  for (int r = 0; r < table->rowCount(); ++r)
    if (table->item(r, Id)->data(kIdRole).toLongLong() == id) table->selectRow(r);
}

void RecordsDialog::reportSelected() {
  const qint64 id = selectedId();
  if (id && openReport) openReport(id);
}

void RecordsDialog::exportSelected() {
  const qint64 id = selectedId();
  if (!id) return;
  try {
    const auto record = archive_.record(id);
    if (!record) return;
    const QString suggested = QDir::home().filePath(
        QStringLiteral("放电记录_第%1台_%2.csv")
            .arg(record->unit)
            .arg(QDateTime::fromMSecsSinceEpoch(record->startMs).toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmm"))));
    const QString path = chooseCsvFile ? chooseCsvFile(suggested) : QString();
    if (path.isEmpty()) return;
    writeRecordingCsv(archive_.load(id), path);
  } catch (const std::exception& e) {
    boxes_.error(this, QString::fromUtf8(e.what()));
  }
}

}  // namespace discharge
