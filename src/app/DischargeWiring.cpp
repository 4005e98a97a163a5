#include "app/DischargeWiring.h"

#include <QDateTime>
#include <QDir>
#include <QMenu>
#include <span>

#include "app/Unit1.h"
#include "discharge/Actions.h"
#include "discharge/RecordsDialog.h"
#include "discharge/SettingsDialog.h"
#include "discharge/core/Archive.h"
#include "health/HealthMonitor.h"
#include "report/RvSystem.h"
#include "toolkit/ArrowSpinBox.h"

namespace {

qint64 nowMs() { return QDateTime::currentMSecsSinceEpoch(); }

void note(health::HealthMonitor& health, health::EventKind kind, int unit, qint64 timeMs, const QString& detail) {
  health::Event e;
  e.time = QDateTime::fromMSecsSinceEpoch(timeMs);
  e.kind = kind;
  e.unit = unit;
  e.detail = detail;
  health.note(std::move(e));
}

void addMenu(QMenu& menu, TForm1& form, discharge::Monitor& monitor) {
  toolkit::HandlerGuard& guard = form.guard();
  menu.addSeparator();
  QObject::connect(menu.addAction(QStringLiteral("放电设置…")), &QAction::triggered, &monitor, guard.wrap([&form, &monitor] {
    discharge::SettingsDialog dialog(monitor.settings(), form.decimalSeparator(), &form);
    discharge::takeSettingsFrom(dialog, monitor, form.decimalSeparator(), form.boxes());
    dialog.exec();
  }));
  const int unit = form.SpinEdit2->value();
  QMenu* test = menu.addMenu(QStringLiteral("放电测试"));
  QAction* begin = test->addAction(QStringLiteral("开始记录"));
  begin->setEnabled(!monitor.recordingByHand(unit));
  QObject::connect(begin, &QAction::triggered, &monitor, guard.wrap([&monitor, unit] { monitor.startRecording(unit, nowMs()); }));
  QAction* end = test->addAction(QStringLiteral("结束记录"));
  end->setEnabled(monitor.recording(unit));
  QObject::connect(end, &QAction::triggered, &monitor, guard.wrap([&monitor, unit] { monitor.endRecording(unit, nowMs()); }));
  QObject::connect(menu.addAction(QStringLiteral("放电记录…")), &QAction::triggered, &monitor, guard.wrap([&form, &monitor] {
    discharge::Archive archive(monitor.archivePath());
    discharge::RecordsDialog dialog(archive, form.boxes(), &form);
    const QString path = monitor.archivePath();
    dialog.openReport = [&form, path](qint64 id) {
      report::TRvSystem rv;
      rv.OnPrint = discharge::reportBody(path, id, QDir::current().dirName());
      rv.Execute(&form);
    };
    dialog.exec();
  }));
}

}  // namespace

std::unique_ptr<discharge::Monitor> attachDischarge(TForm1& form, health::HealthMonitor& health) {
  auto monitor = std::make_unique<discharge::Monitor>(QDir::currentPath(), QStringLiteral("db1.mdb"));
  discharge::Monitor* m = monitor.get();
  const acquisition::PollingController* polling = form.polling;
  QObject::connect(polling, &acquisition::PollingController::replyHandled, m,
                   [m, polling](const acquisition::ReplyOutcome& outcome, int) {
                     if (!outcome.stored()) return;
                     const int u = outcome.unit;
                     std::array<double, acquisition::kCells> cells{};
                     const int n = polling->tables.CellCount[u];
                     for (int k = 1; k <= n; ++k) cells[static_cast<std::size_t>(k - 1)] = polling->tables.CellVoltage[u][k];
                     m->takeReply(u, nowMs(), std::span<const double>(cells.data(), static_cast<std::size_t>(n)),
                                  polling->tables.TotalVoltage[u]);
                   });
  QObject::connect(polling, &acquisition::PollingController::unitSilent, m, [m](int unit) {
    if (unit > 0) m->takeSilence(unit, nowMs());
  });
  QObject::connect(polling, &acquisition::PollingController::pollingStarted, m, [m] { m->pollingStarted(); });
  QObject::connect(polling, &acquisition::PollingController::pollingStopped, m, [m] { m->pollingStopped(); });
  QObject::connect(m, &discharge::Monitor::started, &health, [&health](int unit, qint64 timeMs, const QString& detail) {
    note(health, health::EventKind::DischargeStarted, unit, timeMs, detail);
  });
  QObject::connect(m, &discharge::Monitor::ended, &health, [&health](int unit, qint64 timeMs, const QString& detail) {
    note(health, health::EventKind::DischargeEnded, unit, timeMs, detail);
  });
  for (const discharge::DischargeRecord& r : m->interruptedAtStart())
    note(health, health::EventKind::DischargeInterrupted, r.unit, nowMs(), discharge::Monitor::interruptedDetail(r));
  health.menuAdditions.push_back([&form, m](QMenu& menu) { addMenu(menu, form, *m); });
  return monitor;
}
