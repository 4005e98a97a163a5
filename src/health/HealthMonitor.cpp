#include "health/HealthMonitor.h"

#include <QContextMenuEvent>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QPalette>
#include <stdexcept>

#include "common/NumberText.h"
#include "health/EventsDialog.h"
#include "health/HealthLog.h"
#include "health/LimitsDialog.h"
#include "health/LineRecovery.h"
#include "health/StatisticsDialog.h"
#include "toolkit/Fonts.h"
#include "toolkit/HandlerGuard.h"
#include "toolkit/KeyValueGrid.h"
#include "toolkit/MessageBoxes.h"

namespace health {

Q_LOGGING_CATEGORY(lcHealth, "cellstation.health")

namespace {

constexpr std::uint8_t kAlarmMark = 1;
constexpr std::uint8_t kOfflineMark = 2;
/// Events kept in memory while the database refuses them; beyond this the oldest go (they are
/// in the log file all the same).
constexpr std::size_t kMaxPending = 100000;
/// Units named one by one in the notice before the rest are only counted.
constexpr int kNamedUnits = 12;

QColor alarmGround() { return QColor(255, 0, 0); }
QColor alarmText() { return QColor(255, 255, 255); }
QColor offlineText() { return QColor(128, 128, 128); }
/// Grey that still reads on the red ground.
QColor offlineOnAlarmText() { return QColor(255, 200, 200); }

QFont noticeFont() { return toolkit::songFont(13, true); }

QString unitList(const std::vector<int>& units) {
  QStringList names;
  for (std::size_t i = 0; i < units.size() && i < kNamedUnits; ++i) names << QStringLiteral("%1号").arg(units[i]);
  QString text = names.join(QStringLiteral("、"));
  if (units.size() > kNamedUnits) text += QStringLiteral(" 等%1台").arg(units.size());
  return text;
}

void markItem(QTableWidgetItem* item, const QColor* ground, const QColor* text) {
  if (!item) return;
  // Unmarked rows carry no colour data at all, exactly as the tables were made.
  item->setData(Qt::BackgroundRole, ground ? QVariant(QBrush(*ground)) : QVariant());
  item->setData(Qt::ForegroundRole, text ? QVariant(QBrush(*text)) : QVariant());
}

}  // namespace

HealthMonitor::HealthMonitor(StationView view, const QString& databaseFile, QObject* parent)
    : QObject(parent), view_(std::move(view)), db_(databaseFile), alarms_(std::make_unique<AlarmTracker>()) {
  line_ = new LineRecovery(*view_.comm, *view_.guard, this);
  connect(line_, &LineRecovery::lineDown, this, [this](const QString& why) {
    Event e;
    e.kind = EventKind::LineDown;
    e.detail = why;
    record(e);
  });
  connect(line_, &LineRecovery::lineUp, this, [this](int attempts) {
    Event e;
    e.kind = EventKind::LineUp;
    e.detail = QStringLiteral("第%1次重连成功").arg(attempts);
    record(e);
  });

  flushTimer_.setSingleShot(true);
  connect(&flushTimer_, &QTimer::timeout, this, view_.guard->wrap([this] { flushEvents(); }));

  notice_ = new QLabel(view_.window);
  notice_->setObjectName(QStringLiteral("healthNotice"));
  notice_->setFont(noticeFont());
  QPalette p = notice_->palette();
  p.setColor(QPalette::WindowText, alarmGround());
  notice_->setPalette(p);
  // The empty strip below the 18th row of the six tables: a double click there still reaches
  // the table beneath.
  notice_->setGeometry(6, 507, 740, 17);
  notice_->setAttribute(Qt::WA_TransparentForMouseEvents);
  if (view_.keepUnder) notice_->stackUnder(view_.keepUnder);
  notice_->hide();

  totalPalette_ = std::make_unique<QPalette>(view_.total->palette());
  totalAutoFill_ = view_.total->autoFillBackground();

  runMenu = [](QMenu& menu, const QPoint& pos) { menu.exec(pos); };
  runDialog = [](QDialog& dialog) { dialog.exec(); };
  askSavePath = [this](const QString& title, const QString& suggested) {
    return QFileDialog::getSaveFileName(view_.window, title, QDir::current().filePath(suggested),
                                        QStringLiteral("CSV (*.csv)"));
  };

  view_.window->installEventFilter(this);

  try {
    QStringList problems;
    std::vector<AlarmChange> none;
    alarms_->setLimits(db_.loadLimits(&problems), none);
    for (const QString& line : problems) qCWarning(lcHealth).noquote() << line;
  } catch (const std::exception& e) {
    qCWarning(lcHealth).noquote() << "alarm limits not read, all off:" << QString::fromUtf8(e.what());
  }
}

HealthMonitor::~HealthMonitor() {
  if (view_.window) view_.window->removeEventFilter(this);
  flushEvents();
}

// ---- what the window reports

void HealthMonitor::pollingStarted() {
  line_->pollingStarted();
  Event e;
  e.kind = EventKind::PollingStarted;
  record(e);
}

void HealthMonitor::pollingStopped() {
  line_->pollingStopped();
  counts_.pollingStopped();
  Event e;
  e.kind = EventKind::PollingStopped;
  record(e);
}

void HealthMonitor::requestSent(int unit, bool queued) {
  offlineScratch_.clear();
  counts_.requestSent(unit, queued, offlineScratch_);
  if (!offlineScratch_.empty()) takeOfflineChanges(offlineScratch_);
  line_->requestSent(unit, queued);
}

void HealthMonitor::unitSilent(int unit) { counts_.unitSilent(unit); }

void HealthMonitor::replyHandled(const acquisition::ReplyOutcome& outcome, int polledUnit) {
  offlineScratch_.clear();
  counts_.replyHandled(outcome, polledUnit, QDateTime::currentMSecsSinceEpoch(), offlineScratch_);
  if (!outcome.stored()) return;
  const int u = outcome.unit;
  const acquisition::MeasurementTables& m = *view_.measurements;
  alarmScratch_.clear();
  alarms_->reading(u, m.CellVoltage[u], m.CellCount[u], m.TotalVoltage[u], alarmScratch_);
  if (!offlineScratch_.empty()) takeOfflineChanges(offlineScratch_);
  if (!alarmScratch_.empty()) takeAlarmChanges(alarmScratch_);
  // The tables were just rewritten for the unit on show; its marks follow its new readings.
  else if (u == view_.shownUnit()) paintShownUnit();
}

void HealthMonitor::samplingFailed(const QString& text) {
  Event e;
  e.kind = EventKind::SamplingFailed;
  e.detail = text;
  record(e);
}

void HealthMonitor::shownUnitChanged() { paintShownUnit(); }

// ---- alarms and offline units

void HealthMonitor::takeAlarmChanges(const std::vector<AlarmChange>& changes) {
  for (const AlarmChange& c : changes) {
    Event e;
    e.kind = c.raised ? EventKind::AlarmRaised : EventKind::AlarmCleared;
    e.limit = c.limit;
    e.unit = c.unit;
    e.cell = c.cell;
    e.value = c.value;
    record(e);
  }
  paintShownUnit();
  updateNotice();
}

void HealthMonitor::takeOfflineChanges(const std::vector<OfflineChange>& changes) {
  for (const OfflineChange& c : changes) {
    Event e;
    e.kind = c.offline ? EventKind::UnitOffline : EventKind::UnitOnline;
    e.unit = c.unit;
    record(e);
  }
  paintShownUnit();
  updateNotice();
}

void HealthMonitor::applyLimits(const Limits& limits) {
  db_.saveLimits(limits);
  std::vector<AlarmChange> cleared;
  alarms_->setLimits(limits, cleared);
  qCInfo(lcHealth).noquote() << "alarm limits set:" << [&] {
    QStringList parts;
    for (Limit l : kAllLimits)
      parts << limitName(l) + QLatin1Char('=') +
                   (limits[l] ? QString::fromStdString(common::formatGeneral(*limits[l])) : QStringLiteral("off"));
    return parts.join(QLatin1Char(' '));
  }();
  takeAlarmChanges(cleared);
}

// ---- marks in the window

void HealthMonitor::paintShownUnit() {
  const int u = view_.shownUnit();
  if (!acquisition::IndexedArray<int, 1, acquisition::kUnits>::contains(u)) return;
  const acquisition::MeasurementTables& m = *view_.measurements;
  const bool offline = counts_.offline(u);
  const bool anyAlarm = alarms_->activeCount(u) > 0;
  for (std::size_t t = 0; t < view_.tables.size(); ++t) {
    toolkit::KeyValueGrid* grid = view_.tables[t];
    std::vector<std::uint8_t>& marked = marked_[t];
    const int rows = grid->dataRowCount();
    if (marked.size() != static_cast<std::size_t>(rows)) marked.resize(static_cast<std::size_t>(rows), 0);
    for (int r = 1; r <= rows; ++r) {
      std::uint8_t want = offline ? kOfflineMark : 0;
      if (anyAlarm) {
        // Rows are found by their key, as the live display finds them.
        bool ok = false;
        const int k = grid->key(r).toInt(&ok);
        if (ok && k >= 1 && k <= m.CellCount[u] && alarms_->cellInAlarm(u, k)) want |= kAlarmMark;
      }
      std::uint8_t& have = marked[static_cast<std::size_t>(r - 1)];
      if (want == have) continue;
      have = want;
      const QColor ground = alarmGround(), white = alarmText(), grey = offlineText(), pale = offlineOnAlarmText();
      const bool alarm = want & kAlarmMark;
      const QColor* valueText = (want & kOfflineMark) ? (alarm ? &pale : &grey) : (alarm ? &white : nullptr);
      markItem(grid->item(r - 1, 0), alarm ? &ground : nullptr, alarm ? &white : nullptr);
      markItem(grid->item(r - 1, 1), alarm ? &ground : nullptr, valueText);
    }
  }
  paintTotal(u);
}

void HealthMonitor::paintTotal(int u) {
  const int want = (counts_.offline(u) ? kOfflineMark : 0) | (alarms_->totalInAlarm(u) ? kAlarmMark : 0);
  if (want == totalMarks_) return;
  totalMarks_ = want;
  QLabel* total = view_.total;
  if (!want) {
    total->setPalette(*totalPalette_);
    total->setAutoFillBackground(totalAutoFill_);
    return;
  }
  QPalette p = *totalPalette_;
  const bool alarm = want & kAlarmMark;
  if (alarm) p.setColor(QPalette::Window, alarmGround());
  p.setColor(QPalette::WindowText, (want & kOfflineMark) ? (alarm ? offlineOnAlarmText() : offlineText()) : alarmText());
  total->setPalette(p);
  total->setAutoFillBackground(alarm || totalAutoFill_);
}

void HealthMonitor::updateNotice() {
  std::vector<int> offline;
  for (int u = 1; u <= acquisition::kUnits; ++u)
    if (counts_.offline(u)) offline.push_back(u);
  const std::vector<int> alarmed = alarms_->unitsInAlarm();
  QStringList parts;
  if (!alarmed.empty()) parts << QStringLiteral("报警：") + unitList(alarmed);
  if (!offline.empty()) parts << QStringLiteral("离线：") + unitList(offline);
  if (parts.isEmpty()) {
    notice_->hide();
    notice_->clear();
    return;
  }
  notice_->setText(parts.join(QStringLiteral("    ")) + QStringLiteral("    （右键“事件记录…”查看）"));
  notice_->show();
}

// ---- the event record

void HealthMonitor::record(Event e) {
  if (!e.time.isValid()) e.time = QDateTime::currentDateTime();
  const QString line = eventLogLine(e);
  if (e.kind == EventKind::AlarmRaised || e.kind == EventKind::UnitOffline || e.kind == EventKind::LineDown ||
      e.kind == EventKind::SamplingFailed)
    qCWarning(lcHealth).noquote() << "event:" << line;
  else
    qCInfo(lcHealth).noquote() << "event:" << line;
  if (pending_.size() >= kMaxPending) pending_.erase(pending_.begin());
  pending_.push_back(e);
  emit eventRecorded(e);
  // Events come in bursts (a string sagging takes many cells at once): one write for them all.
  if (!flushTimer_.isActive()) flushTimer_.start(flushFailing_ ? 30000 : 500);
}

bool HealthMonitor::flushEvents() {
  flushTimer_.stop();
  if (pending_.empty()) return true;
  try {
    db_.append(pending_);
  } catch (const std::exception& e) {
    if (!flushFailing_)
      qCWarning(lcHealth).noquote() << "event record not written, kept for a later try:" << QString::fromUtf8(e.what());
    flushFailing_ = true;
    flushTimer_.start(30000);
    return false;
  }
  if (flushFailing_) qCInfo(lcHealth) << "event record written again";
  flushFailing_ = false;
  pending_.clear();
  return true;
}

// ---- the context menu and its dialogs

bool HealthMonitor::eventFilter(QObject* watched, QEvent* event) {
  // Right clicks that no control took for itself (the bars, labels and tables take none) reach
  // the window; the edit box and the spin boxes keep their own menus.
  if (watched == view_.window && event->type() == QEvent::ContextMenu) {
    const QPoint pos = static_cast<QContextMenuEvent*>(event)->globalPos();
    view_.guard->run([this, pos] { showMenu(pos); });
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void HealthMonitor::showMenu(const QPoint& globalPos) {
  QMenu menu(view_.window);
  menu.setObjectName(QStringLiteral("healthMenu"));
  toolkit::HandlerGuard& guard = *view_.guard;
  connect(menu.addAction(QStringLiteral("报警设置…")), &QAction::triggered, this, guard.wrap([this] { openLimits(); }));
  connect(menu.addAction(QStringLiteral("通信统计…")), &QAction::triggered, this,
          guard.wrap([this] { openStatistics(); }));
  connect(menu.addAction(QStringLiteral("事件记录…")), &QAction::triggered, this, guard.wrap([this] { openEvents(); }));
  menu.addSeparator();
  connect(menu.addAction(QStringLiteral("导出历史数据…")), &QAction::triggered, this,
          guard.wrap([this] { exportHistory(); }));
  for (const auto& add : menuAdditions) add(menu);
  runMenu(menu, globalPos);
}

void HealthMonitor::openLimits() {
  LimitsDialog dialog(limits(), view_.decimalSeparator, view_.window);
  dialog.onAccept = [this](const std::array<QString, kLimitCount>& texts) {
    try {
      applyLimits(parseLimits(texts, view_.decimalSeparator));
      return true;
    } catch (const std::exception& e) {
      view_.boxes->error(view_.window, QString::fromUtf8(e.what()));
      return false;
    }
  };
  runDialog(dialog);
}

void HealthMonitor::openStatistics() {
  StatisticsDialog dialog(counts_, *line_, view_.unitCount, view_.window);
  dialog.moreLines = statisticsLines;
  dialog.refresh();
  runDialog(dialog);
}

void HealthMonitor::openEvents() {
  EventsDialog dialog(*this, view_.window);
  runDialog(dialog);
}

void HealthMonitor::exportHistory() {
  const int unit = view_.shownUnit();
  const QString path = askSavePath(QStringLiteral("导出第%1台的历史数据").arg(unit),
                                   QStringLiteral("measure%1.csv").arg(unit));
  if (path.isEmpty()) return;
  const int rows = exportSamples(unit, path);
  view_.boxes->plain(view_.window,
                     QStringLiteral("已导出第%1台的%2条记录到 %3").arg(unit).arg(rows).arg(QDir::toNativeSeparators(path)));
}

}  // namespace health
