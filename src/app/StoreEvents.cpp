#include "app/StoreEvents.h"

#include "app/Unit1.h"
#include "health/HealthMonitor.h"

namespace {

void note(health::HealthMonitor& health, health::EventKind kind, const QString& detail) {
  health::Event e;
  e.kind = kind;
  e.detail = detail;
  health.note(std::move(e));
}

}  // namespace

void noteStoreEvents(TForm1& form, health::HealthMonitor& health) {
  const store::StoreThread* thread = &form.store.thread();
  toolkit::HandlerGuard& guard = form.guard();
  QObject::connect(thread, &store::StoreThread::delayStarted, &health, [&health, &guard](const QString& text) {
    guard.run([&] { note(health, health::EventKind::StoreDelayed, text); });
  });
  QObject::connect(thread, &store::StoreThread::delayEnded, &health, [&health, &guard](int runs) {
    guard.run([&] { note(health, health::EventKind::StoreResumed, QStringLiteral("%1 次采样延迟写入").arg(runs)); });
  });
  QObject::connect(thread, &store::StoreThread::archiveDamaged, &health, [&health, &guard](const QString& text) {
    guard.run([&] {
      note(health, health::EventKind::ArchiveDamaged, text);
      // Told in the red strip until polling is started afresh: the file is set aside and a new
      // one takes the runs, but someone should look at it.
      health.setNotice(QStringLiteral("store.archive"), QStringLiteral("长期记录文件损坏，已移开"));
    });
  });
  QObject::connect(form.polling, &acquisition::PollingController::pollingStarted, &health,
                   [&health] { health.clearNotice(QStringLiteral("store.archive")); });
  QObject::connect(&form.store.watch(), &store::ReplacementWatch::replaced, &health, [&health] { health.letGoIfReplaced(); });
  QObject::connect(thread, &store::StoreThread::diskLow, &health, [&health, &guard](bool low, const QString& text) {
    guard.run([&] {
      note(health, low ? health::EventKind::DiskLow : health::EventKind::DiskRecovered, text);
      // Red strip below the tables while the disk stays low; the event holds the free space.
      health.setNotice(QStringLiteral("store.disk"), low ? QStringLiteral("磁盘空间不足") : QString());
    });
  });
}
