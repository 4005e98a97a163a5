#include "app/Publishing.h"

#include <QTimer>
#include <chrono>

#include "app/Unit1.h"

std::unique_ptr<publish::Publisher> attachPublishing(TForm1& form) {
  publish::PublishStart start = publish::startPublishing(QString::fromLatin1(publish::kSettingsFileName));
  if (!start.problem.isEmpty()) {
    const QString text = QStringLiteral("MQTT 发布设置文件有误，本次运行不发布数据：\n") + start.problem;
    // After the window is up, so the station starts as it always does.
    QTimer::singleShot(0, &form, [&form, text] { form.boxes().error(&form, text); });
    return nullptr;
  }
  publish::Publisher* p = start.publisher.get();
  if (!p) return nullptr;
  // Home Assistant learns the station's units as soon as the stored count is read.
  QObject::connect(&form, &TForm1::settingsLoaded, p, [p](int units) { p->setUnitCount(units); });
  const acquisition::PollingController* polling = form.polling;
  QObject::connect(polling, &acquisition::PollingController::replyHandled, p,
                   [p, polling](const acquisition::ReplyOutcome& outcome, int) { p->publishReply(outcome, polling->tables); });
  QObject::connect(polling, &acquisition::PollingController::pollingStarted, p, [p, polling] {
    p->setUnitCount(polling->UnitCount);
    p->publishPolling(true);
  });
  QObject::connect(polling, &acquisition::PollingController::pollingStopped, p, [p] { p->publishPolling(false); });
  return std::move(start.publisher);
}

namespace {

// The event names of the topics; events of the station itself (polling, sampling) go out on
// their own topics or not at all.
const char* eventName(health::EventKind kind) {
  switch (kind) {
    case health::EventKind::AlarmRaised: return "alarm_raised";
    case health::EventKind::AlarmCleared: return "alarm_cleared";
    case health::EventKind::UnitOffline: return "unit_offline";
    case health::EventKind::UnitOnline: return "unit_online";
    case health::EventKind::LineDown: return "line_down";
    case health::EventKind::LineUp: return "line_up";
    case health::EventKind::DischargeStarted: return "discharge_started";
    case health::EventKind::DischargeEnded: return "discharge_ended";
    default: return nullptr;
  }
}

}  // namespace

void publishHealthEvents(health::HealthMonitor& health, publish::Publisher& publisher) {
  health.statisticsLines = [p = &publisher] { return p->statusLines(); };
  // The online and alarm state of the units, for the Home Assistant binary sensors: online once
  // a unit has answered and while it does, as the control-room servers say.
  publisher.setUnitStateSource([h = &health](int u) {
    const health::LineCounts& counts = h->counts();
    return publish::Publisher::UnitState{counts.counts(u).lastGoodMs != 0 && !counts.offline(u), h->alarms().activeCount(u) > 0};
  });
  QObject::connect(&health, &health::HealthMonitor::eventRecorded, &publisher, [p = &publisher](const health::Event& e) {
    if (e.unit > 0 && (e.kind == health::EventKind::UnitOffline || e.kind == health::EventKind::UnitOnline ||
                       e.kind == health::EventKind::AlarmRaised || e.kind == health::EventKind::AlarmCleared))
      p->unitStatesMayHaveChanged();
    const char* name = eventName(e.kind);
    if (!name) return;
    const std::chrono::system_clock::time_point at{std::chrono::milliseconds(e.time.toMSecsSinceEpoch())};
    p->publishEvent(name, publish::eventJson(name, e.unit, e.cell, e.value, health::eventText(e).toStdString(), at));
  });
}
