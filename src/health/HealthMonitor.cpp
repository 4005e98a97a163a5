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
#include "engine/DatabaseFile.h"
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

HealthMonitor::HealthMonitor(StationView view, const QString& databaseFile, QObject* parent)
    : QObject(parent),
      view_(std::move(view)),
      db_(databaseFile),
      alarms_(std::make_unique<AlarmTracker>()),
      events_(databaseFile) {
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

  events_.onRecorded = [this](const Event& e) { emit eventRecorded(e); };

  runMenu = [](QMenu& menu, const QPoint& pos) { menu.exec(pos); };
  runDialog = [](QDialog& dialog) { dialog.exec(); };
  askSavePath = [this](const QString& title, const QString& suggested) {
    return QFileDialog::getSaveFileName(view_.window, title, QDir::current().filePath(suggested),
                                        QStringLiteral("CSV (*.csv)"));
  };

  view_.window->installEventFilter(this);

  limitsRetry_.setInterval(10000);
  connect(&limitsRetry_, &QTimer::timeout, this, view_.guard->wrap([this] { retryLimits(); }));
  // At start-up, before the window is shown, the read may wait for a lock; later reads go to
  // the record's own thread.
  LimitsRead read;
  try {
    read.limits = db_.loadLimits(&read.problems);
  } catch (const std::exception& e) {
    read.failure = QString::fromUtf8(e.what());
  }
  if (read.limits)
    takeLimitsRead(read);
  else
    limitsUnknown(read.failure);
}

HealthMonitor::~HealthMonitor() {
  if (view_.window) view_.window->removeEventFilter(this);
}

void HealthMonitor::setRetryIntervals(int limitsMs, int eventsMs) {
  limitsRetry_.setInterval(limitsMs);
  events_.writer().setRetryMs(eventsMs);
}

bool HealthMonitor::flushEvents() { return events_.flush(engine::kLockWaitMs + 2000); }

// ---- the limits until they are read

void HealthMonitor::limitsUnknown(const QString& why) {
  qCWarning(lcHealth).noquote() << "alarm limits not read, all off until they are:" << why;
  marks_.setNotice(QLatin1String(kLimitsNotice), QStringLiteral("报警设置未能读取"));
  limitsRetry_.start();
}

void HealthMonitor::retryLimits() {
  if (limitsKnown_ || limitsAsked_) return;
  limitsAsked_ = true;
  // The answer comes back on this thread; it is dropped if the monitor is gone by then.
  events_.writer().readLimits([this](const LimitsRead& read) {
    QMetaObject::invokeMethod(this, [this, read] { view_.guard->run([&] { takeLimitsRead(read); }); }, Qt::QueuedConnection);
  });
}

void HealthMonitor::takeLimitsRead(const LimitsRead& read) {
  limitsAsked_ = false;
  // Limits saved meanwhile are the stored ones.
  if (limitsKnown_ || !read.limits) return;
  for (const QString& line : read.problems) qCWarning(lcHealth).noquote() << line;
  std::vector<AlarmChange> none;
  alarms_->setLimits(*read.limits, none);
  const bool late = limitsRetry_.isActive();
  limitsKnown_ = true;
  limitsRetry_.stop();
  marks_.clearNotice(QLatin1String(kLimitsNotice));
  if (late) qCInfo(lcHealth) << "alarm limits read at last";
}

// ---- what the window reports

void HealthMonitor::pollingStarted() {
  retryLimits();
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
  else if (u == view_.shownUnit()) marks_.paintShownUnit();
}

void HealthMonitor::samplingFailed(const QString& text) {
  Event e;
  e.kind = EventKind::SamplingFailed;
  e.detail = text;
  record(e);
}

void HealthMonitor::shownUnitChanged() { marks_.paintShownUnit(); }

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
  marks_.paintShownUnit();
  marks_.updateNotice();
}

void HealthMonitor::takeOfflineChanges(const std::vector<OfflineChange>& changes) {
  for (const OfflineChange& c : changes) {
    Event e;
    e.kind = c.offline ? EventKind::UnitOffline : EventKind::UnitOnline;
    e.unit = c.unit;
    record(e);
  }
  marks_.paintShownUnit();
  marks_.updateNotice();
}

void HealthMonitor::applyLimits(const Limits& limits) {
  db_.saveLimits(limits);
  std::vector<AlarmChange> cleared;
  alarms_->setLimits(limits, cleared);
  if (!limitsKnown_) {
    limitsKnown_ = true;
    limitsRetry_.stop();
    marks_.clearNotice(QLatin1String(kLimitsNotice));
  }
  qCInfo(lcHealth).noquote() << "alarm limits set:" << [&] {
    QStringList parts;
    for (Limit l : kAllLimits)
      parts << limitName(l) + QLatin1Char('=') +
                   (limits[l] ? QString::fromStdString(common::formatGeneral(*limits[l])) : QStringLiteral("off"));
    return parts.join(QLatin1Char(' '));
  }();
  takeAlarmChanges(cleared);
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
  const bool knownAtOpening = limitsKnown_;
  dialog.onAccept = [this, knownAtOpening](const std::array<QString, kLimitCount>& texts) {
    // Empty boxes over limits never read are no choice of the operator's: saving them would
    // wipe the stored limits.
    if (!knownAtOpening) {
      view_.boxes->error(view_.window, limitsKnown_ ? QStringLiteral("报警设置刚刚读出，请关闭后重新打开报警设置再修改。")
                                                    : QStringLiteral("报警设置未能从数据库读取，为免覆盖已存的设置，现在不能保存。"));
      return false;
    }
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
