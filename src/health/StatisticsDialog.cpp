#include "health/StatisticsDialog.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "acquisition/core/MeasurementTables.h"
#include "health/LineRecovery.h"
#include "health/core/LineCounts.h"

namespace health {

namespace {

const QStringList kStatisticsColumns{QStringLiteral("台号"),   QStringLiteral("请求"),     QStringLiteral("应答"),
                           QStringLiteral("无应答"), QStringLiteral("校验错"),   QStringLiteral("错帧"),
                           QStringLiteral("串号"),   QStringLiteral("最后应答"), QStringLiteral("状态")};

void setCell(QTableWidget* table, int row, int column, const QString& text) {
  QTableWidgetItem* item = table->item(row, column);
  if (!item) {
    item = new QTableWidgetItem;
    item->setTextAlignment(column == 0 || column >= 7 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
    table->setItem(row, column, item);
  }
  if (item->text() != text) item->setText(text);
}

void add(UnitCounts& sum, const UnitCounts& c) {
  sum.requests += c.requests;
  sum.replies += c.replies;
  sum.noReply += c.noReply;
  sum.badChecksum += c.badChecksum;
  sum.malformed += c.malformed;
  sum.foreign += c.foreign;
  sum.lastGoodMs = std::max(sum.lastGoodMs, c.lastGoodMs);
}

}  // namespace

StatisticsDialog::StatisticsDialog(LineCounts& counts, const LineRecovery& line, std::function<int()> unitCount,
                                   QWidget* parent)
    : QDialog(parent), counts_(counts), line_(line), unitCount_(std::move(unitCount)) {
  setObjectName(QStringLiteral("statisticsDialog"));
  setWindowTitle(QStringLiteral("通信统计"));
  resize(720, 480);
  auto* layout = new QVBoxLayout(this);
  lineState = new QLabel(this);
  layout->addWidget(lineState);
  table = new QTableWidget(0, static_cast<int>(kStatisticsColumns.size()), this);
  table->setHorizontalHeaderLabels(kStatisticsColumns);
  table->verticalHeader()->setVisible(false);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  layout->addWidget(table);
  auto* buttons = new QHBoxLayout;
  auto* reset = new QPushButton(QStringLiteral("计数清零"), this);
  auto* close = new QPushButton(QStringLiteral("关闭"), this);
  buttons->addStretch();
  buttons->addWidget(reset);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(reset, &QPushButton::clicked, this, &StatisticsDialog::resetCounts);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  connect(&timer_, &QTimer::timeout, this, &StatisticsDialog::refresh);
  timer_.start(1000);
  refresh();
}

void StatisticsDialog::resetCounts() {
  counts_.resetCounts();
  refresh();
}

void StatisticsDialog::refresh() {
  const QString port = QStringLiteral("串口：");
  switch (line_.state()) {
    case LineRecovery::State::Idle: lineState->setText(port + QStringLiteral("未巡检")); break;
    case LineRecovery::State::Up: lineState->setText(port + QStringLiteral("正常")); break;
    case LineRecovery::State::Down:
      lineState->setText(port + QStringLiteral("断开（自 %1 起，已重连 %2 次，下次 %3；%4）")
                                    .arg(line_.downSince().toString(QStringLiteral("HH:mm:ss")))
                                    .arg(line_.attempts())
                                    .arg(line_.nextAttempt().toString(QStringLiteral("HH:mm:ss")), line_.lastError()));
      break;
  }
  if (line_.outages() > 0) lineState->setText(lineState->text() + QStringLiteral("  断开次数：%1").arg(line_.outages()));
  if (moreLines) {
    const QStringList more = moreLines();
    if (!more.isEmpty()) lineState->setText(lineState->text() + QLatin1Char('\n') + more.join(QLatin1Char('\n')));
  }

  const int units = std::clamp(unitCount_ ? unitCount_() : acquisition::kUnits, 1, acquisition::kUnits);
  table->setRowCount(units + 1);
  UnitCounts sum = counts_.unasked();
  auto row = [&](int r, const QString& name, const UnitCounts& c, const QString& state) {
    setCell(table, r, 0, name);
    setCell(table, r, 1, QString::number(c.requests));
    setCell(table, r, 2, QString::number(c.replies));
    setCell(table, r, 3, QString::number(c.noReply));
    setCell(table, r, 4, QString::number(c.badChecksum));
    setCell(table, r, 5, QString::number(c.malformed));
    setCell(table, r, 6, QString::number(c.foreign));
    setCell(table, r, 7, c.lastGoodMs ? QDateTime::fromMSecsSinceEpoch(c.lastGoodMs).toString(QStringLiteral("MM-dd HH:mm:ss")) : QStringLiteral("—"));
    setCell(table, r, 8, state);
  };
  for (int u = 1; u <= units; ++u) {
    const UnitCounts& c = counts_.counts(u);
    add(sum, c);
    row(u - 1, QString::number(u), c, counts_.offline(u) ? QStringLiteral("离线") : QStringLiteral("在线"));
  }
  row(units, QStringLiteral("合计"), sum, QString());
}

}  // namespace health
