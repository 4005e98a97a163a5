#include "app/HealthWiring.h"

#include "app/Unit1.h"
#include "toolkit/ArrowSpinBox.h"

std::unique_ptr<health::HealthMonitor> attachHealth(TForm1& form) {
  health::StationView view;
  view.window = &form;
  for (int t = 1; t <= 6; ++t) view.tables[static_cast<std::size_t>(t - 1)] = form.cellTable(t);
  view.total = form.measureV;
  view.keepUnder = form.Panel3;
  view.measurements = &form.polling->tables;
  view.shownUnit = [&form] { return form.SpinEdit2->value(); };
  view.unitCount = [&form] { return form.SpinEdit1->value(); };
  view.decimalSeparator = form.decimalSeparator();
  view.guard = &form.guard();
  view.boxes = &form.boxes();
  view.comm = form.Comm1;
  auto monitor = std::make_unique<health::HealthMonitor>(std::move(view), QStringLiteral("db1.mdb"));

  health::HealthMonitor* m = monitor.get();
  m->exportSamples = [&form](int unit, const QString& path) { return form.store.exportSamples(unit, path); };
  toolkit::HandlerGuard& guard = form.guard();
  const acquisition::PollingController* polling = form.polling;
  QObject::connect(polling, &acquisition::PollingController::pollingStarted, m, guard.wrap([m] { m->pollingStarted(); }));
  QObject::connect(polling, &acquisition::PollingController::pollingStopped, m, guard.wrap([m] { m->pollingStopped(); }));
  QObject::connect(polling, &acquisition::PollingController::requestSent, m,
                   [m, &guard](int unit, bool queued) { guard.run([=] { m->requestSent(unit, queued); }); });
  QObject::connect(polling, &acquisition::PollingController::unitSilent, m, [m, &guard](int unit) { guard.run([=] { m->unitSilent(unit); }); });
  QObject::connect(polling, &acquisition::PollingController::replyHandled, m,
                   [m, &guard](const acquisition::ReplyOutcome& outcome, int polled) {
                     guard.run([&] { m->replyHandled(outcome, polled); });
                   });
  QObject::connect(polling, &acquisition::PollingController::samplingFailed, m,
                   [m, &guard](const QString& text) { guard.run([&] { m->samplingFailed(text); }); });
  // After the window's own handler, which has redrawn the tables for the new unit.
  QObject::connect(form.SpinEdit2, &QSpinBox::valueChanged, m, guard.wrap([m] { m->shownUnitChanged(); }));
  return monitor;
}
