#include "app/BackupWiring.h"

#include <QDir>
#include <QMenu>
#include <QTimer>

#include "app/Unit1.h"
#include "health/HealthMonitor.h"

std::unique_ptr<backup::BackupService> attachBackups(TForm1& form, health::HealthMonitor& health,
                                                     backup::BackupService::Options options) {
  auto service = std::make_unique<backup::BackupService>(QDir::currentPath(), &form, form.boxes(), form.guard(), options);
  backup::BackupService* s = service.get();
  s->onDailyFailed = [&health](const QString& failure) {
    health::Event e;
    e.kind = health::EventKind::BackupFailed;
    e.detail = failure;
    health.note(std::move(e));
  };
  health.menuAdditions.push_back([s](QMenu& menu) { s->addMenuEntry(menu); });
  // The first look at the date once the event loop runs, with the window up.
  QTimer::singleShot(0, s, form.guard().wrap([s] { s->start(); }));
  return service;
}
