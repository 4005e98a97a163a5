#include "trend/CompareDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "trend/CompareReport.h"
#include "trend/DeviationPlot.h"
#include "trend/core/TrendTexts.h"

namespace trend {

namespace {

// Columns of the chart of deviations: one per pixel of a wide dialog is more than enough.
constexpr int kColumns = 600;

QTableWidget* table(const QStringList& head, int rows, QWidget* parent) {
  auto* t = new QTableWidget(rows, int(head.size()), parent);
  t->setHorizontalHeaderLabels(head);
  t->verticalHeader()->hide();
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  return t;
}

void put(QTableWidget* t, int row, int column, const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  t->setItem(row, column, item);
}

}  // namespace

QString signedMv(double mv) {
  const double r = std::round(mv * 10) / 10;
  return (r > 0 ? QStringLiteral("+") : QString()) + QString::number(r == 0 ? 0.0 : r, 'f', 1);
}

archive::DeviationReport comparisonOf(const QString& archiveFolder, int unit, const Range& range,
                                      const archive::DeviationProgress& progress) {
  archive::ArchiveReader reader(archiveFolder);
  return archive::cellDeviations(reader, unit, range.fromMs, range.toMs, kColumns, 10, progress);
}

CompareDialog::CompareDialog(archive::DeviationReport report, int unit, const Range& range, QWidget* parent)
    : QDialog(parent), unit_(unit), range_(range), report_(std::move(report)) {
  setWindowTitle(QStringLiteral("单体对比"));

  heading = new QLabel(this);
  heading->setText(report_.cells.empty()
                       ? QStringLiteral("第%1台检测仪 %2 至 %3：此时段无长期记录")
                             .arg(unit)
                             .arg(localMinute(range.fromMs), localMinute(range.toMs))
                       : QStringLiteral("第%1台检测仪 %2 至 %3：各节与全组平均电压之差（mV），趋势按月（30 天）计")
                             .arg(unit)
                             .arg(localMinute(range.fromMs), localMinute(range.toMs)));
  heading->setWordWrap(true);

  drifting = table({QStringLiteral("名次"), QStringLiteral("节号"), QStringLiteral("平均偏差 mV"), QStringLiteral("趋势 mV/月")},
                   int(report_.drifting.size()), this);
  for (std::size_t i = 0; i < report_.drifting.size(); ++i) {
    const archive::CellDeviation& d = report_.drifting[i];
    put(drifting, int(i), 0, QString::number(i + 1));
    put(drifting, int(i), 1, QString::number(d.cell));
    put(drifting, int(i), 2, signedMv(d.meanDeviationMv));
    put(drifting, int(i), 3, signedMv(d.trendMvPerMonth));
    drifting->item(int(i), 1)->setForeground(curveColor(i));
  }
  cells = table({QStringLiteral("节号"), QStringLiteral("平均偏差 mV"), QStringLiteral("趋势 mV/月"), QStringLiteral("样本")},
                int(report_.cells.size()), this);
  for (std::size_t i = 0; i < report_.cells.size(); ++i) {
    const archive::CellDeviation& d = report_.cells[i];
    put(cells, int(i), 0, QString::number(d.cell));
    put(cells, int(i), 1, signedMv(d.meanDeviationMv));
    put(cells, int(i), 2, signedMv(d.trendMvPerMonth));
    put(cells, int(i), 3, QString::number(d.samples));
  }

  auto* left = new QVBoxLayout;
  left->addWidget(new QLabel(QStringLiteral("漂移最大的 10 节"), this));
  left->addWidget(drifting);
  left->addWidget(new QLabel(QStringLiteral("偏差随时间"), this));
  left->addWidget(new DeviationPlot(report_, range_, this), 1);
  auto* right = new QVBoxLayout;
  right->addWidget(new QLabel(QStringLiteral("全部单体"), this));
  right->addWidget(cells);
  auto* body = new QHBoxLayout;
  body->addLayout(left, 3);
  body->addLayout(right, 2);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  printButton = buttons->addButton(QStringLiteral("打印…"), QDialogButtonBox::ActionRole);
  printButton->setEnabled(!report_.cells.empty());
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(printButton, &QPushButton::clicked, this, [this] {
    if (print) print();
  });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading);
  layout->addLayout(body, 1);
  layout->addWidget(buttons);
  resize(980, 640);
}

std::function<void(report::PageWriter&)> CompareDialog::reportBody(const QString& station) const {
  return [station, unit = unit_, range = range_, deviations = report_](report::PageWriter& w) {
    writeComparison(w, station, unit, range, deviations);
  };
}

}  // namespace trend
