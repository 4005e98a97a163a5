#include "health/EventsDialog.h"

#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <stdexcept>

#include "acquisition/core/MeasurementTables.h"
#include "toolkit/AtomicFile.h"

#include "common/NumberText.h"
#include "health/HealthMonitor.h"
#include "toolkit/HandlerGuard.h"
#include "toolkit/MessageBoxes.h"

namespace health {

namespace {

const QStringList kEventColumns{QStringLiteral("时间"), QStringLiteral("台号"), QStringLiteral("单体"),
                           QStringLiteral("数值"), QStringLiteral("事件"), QStringLiteral("说明")};

QStringList fields(const StoredEvent& e, char separator) {
  return {e.time,
          e.unit ? QString::number(e.unit) : QString(),
          e.cell ? QString::number(e.cell) : QString(),
          e.value ? QString::fromStdString(common::formatGeneral(*e.value, separator)) : QString(),
          e.kind,
          e.detail};
}

QString csvField(const QString& text) {
  if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
      !text.contains(QLatin1Char('\r')))
    return text;
  QString quoted = text;
  quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

EventsDialog::EventsDialog(HealthMonitor& monitor, QWidget* parent) : QDialog(parent), monitor_(monitor) {
  setObjectName(QStringLiteral("eventsDialog"));
  setWindowTitle(QStringLiteral("事件记录"));
  resize(760, 520);
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("检测仪："), this));
  unitFilter = new QComboBox(this);
  unitFilter->addItem(QStringLiteral("全部"), 0);
  for (int u = 1; u <= acquisition::kUnits; ++u) unitFilter->addItem(QStringLiteral("%1号").arg(u), u);
  top->addWidget(unitFilter);
  top->addStretch();
  auto* exportButton = new QPushButton(QStringLiteral("导出CSV…"), this);
  auto* close = new QPushButton(QStringLiteral("关闭"), this);
  top->addWidget(exportButton);
  top->addWidget(close);
  layout->addLayout(top);
  table = new QTableWidget(0, static_cast<int>(kEventColumns.size()), this);
  table->setHorizontalHeaderLabels(kEventColumns);
  table->verticalHeader()->setVisible(false);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setColumnWidth(0, 150);
  table->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table);

  toolkit::HandlerGuard& guard = *monitor_.view().guard;
  connect(unitFilter, &QComboBox::currentIndexChanged, this, guard.wrap([this] { reload(); }));
  connect(exportButton, &QPushButton::clicked, this, guard.wrap([this] { exportAsked(); }));
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  guard.run([this] { reload(); });
}

int EventsDialog::unit() const { return unitFilter->currentData().toInt(); }

void EventsDialog::reload() {
  // What happened a moment ago belongs in the record the operator is about to read.
  monitor_.flushEvents();
  const std::vector<StoredEvent> rows = monitor_.db().events(unit(), kShownRows);
  table->setRowCount(static_cast<int>(rows.size()));
  const char separator = monitor_.view().decimalSeparator;
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const QStringList f = fields(rows[static_cast<std::size_t>(r)], separator);
    for (int c = 0; c < f.size(); ++c) table->setItem(r, c, new QTableWidgetItem(f[c]));
  }
}

int EventsDialog::exportTo(const QString& path) {
  monitor_.flushEvents();
  const std::vector<StoredEvent> rows = monitor_.db().events(unit(), 0);
  // A byte-order mark, so that spreadsheet programs read the Chinese texts as UTF-8.
  QString csv = QStringLiteral("\uFEFF") + kEventColumns.join(QLatin1Char(',')) + QStringLiteral("\r\n");
  for (const StoredEvent& e : rows) {
    QStringList line;
    for (const QString& f : fields(e, '.')) line << csvField(f);
    csv += line.join(QLatin1Char(',')) + QStringLiteral("\r\n");
  }
  toolkit::writeFileAtomically(path, csv.toUtf8());
  return static_cast<int>(rows.size());
}

void EventsDialog::exportAsked() {
  const QString path = monitor_.askSavePath(QStringLiteral("导出事件记录"), QStringLiteral("events.csv"));
  if (path.isEmpty()) return;
  const int rows = exportTo(path);
  monitor_.view().boxes->plain(this, QStringLiteral("已导出%1条事件到 %2").arg(rows).arg(QDir::toNativeSeparators(path)));
}

}  // namespace health
