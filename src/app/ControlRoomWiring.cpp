#include "app/ControlRoomWiring.h"

#include <QCoreApplication>
#include <QDateTime>

#include "app/Unit1.h"
#include "controlroom/core/ControlSettings.h"
#include "health/HealthMonitor.h"
#include "health/LineRecovery.h"

ControlRoomFeed::ControlRoomFeed(TForm1& form, health::HealthMonitor* health,
                                 std::unique_ptr<controlroom::ControlRoom> room)
    : form_(form), health_(health), room_(std::move(room)) {
  coalesce_.setSingleShot(true);
  coalesce_.setInterval(0);
  connect(&coalesce_, &QTimer::timeout, this, [this] { publishNow(); });
  const acquisition::PollingController* polling = form.polling;
  const auto later = [this] { coalesce_.start(); };
  // Queued behind the window's and the health monitor's own handling of the same change.
  connect(polling, &acquisition::PollingController::replyHandled, this, later);
  connect(polling, &acquisition::PollingController::unitSilent, this, later);
  connect(polling, &acquisition::PollingController::requestSent, this, later);
  connect(polling, &acquisition::PollingController::pollingStarted, this, later);
  connect(polling, &acquisition::PollingController::pollingStopped, this, later);
  connect(polling, &acquisition::PollingController::samplingRunStored, this, [this](double seconds) {
    lastSamplingMs_ = QDateTime::currentMSecsSinceEpoch();
    room_->observeSamplingRun(seconds);
    coalesce_.start();
  });
  if (health) {
    connect(health, &health::HealthMonitor::eventRecorded, this, later);
  } else {
    // Without the health monitor's record, the feed notes itself which units have answered.
    connect(polling, &acquisition::PollingController::replyHandled, this, [this](const acquisition::ReplyOutcome& o, int) {
      if (o.stored() && o.unit >= 1 && o.unit <= acquisition::kUnits)
        lastReplyMs_[static_cast<std::size_t>(o.unit - 1)] = QDateTime::currentMSecsSinceEpoch();
    });
  }
  // Before the first start the servers answer for the stored unit count.
  connect(&form, &TForm1::settingsLoaded, this, [this](int units) {
    storedUnitCount_ = units;
    coalesce_.start();
  });
  publishNow();
}

ControlRoomFeed::~ControlRoomFeed() = default;

void ControlRoomFeed::publishNow() {
  const acquisition::PollingController& polling = *form_.polling;
  auto snapshot = std::make_shared<acquisition::StationSnapshot>();
  snapshot->polling = polling.polling();
  snapshot->unitCount = polling.UnitCount ? polling.UnitCount : storedUnitCount_;
  snapshot->lastSamplingMs = lastSamplingMs_;
  snapshot->lineUp = polling.polling() && (!health_ || health_->line().state() != health::LineRecovery::State::Down);
  for (int u = 1; u <= acquisition::kUnits; ++u) {
    acquisition::UnitSnapshot& s = snapshot->unit(u);
    s.cellCount = polling.tables.CellCount[u];
    for (int k = 1; k <= acquisition::kCells; ++k) s.cellVolts[static_cast<std::size_t>(k - 1)] = polling.tables.CellVoltage[u][k];
    s.totalVolts = polling.tables.TotalVoltage[u];
    if (!health_) {
      if (const std::int64_t at = lastReplyMs_[static_cast<std::size_t>(u - 1)]) s.lastGoodMs = at;
      continue;
    }
    const health::UnitCounts& c = health_->counts().counts(u);
    if (c.lastGoodMs) s.lastGoodMs = c.lastGoodMs;
    s.online = c.lastGoodMs != 0 && !health_->counts().offline(u);
    s.requests = c.requests;
    s.replies = c.replies;
    s.noReply = c.noReply;
    s.badChecksum = c.badChecksum;
    s.malformed = c.malformed;
    s.foreign = c.foreign;
    const health::AlarmTracker& alarms = health_->alarms();
    for (std::size_t i = 0; i < health::kAllLimits.size(); ++i) s.alarm[i] = alarms.limitInAlarm(u, health::kAllLimits[i]);
    for (int k = 1; k <= s.cellCount; ++k) s.cellsInAlarm += alarms.cellInAlarm(u, k) ? 1 : 0;
  }
  room_->publish(std::shared_ptr<const acquisition::StationSnapshot>(std::move(snapshot)));
}

std::unique_ptr<ControlRoomFeed> attachControlRoom(TForm1& form, health::HealthMonitor* health) {
  controlroom::ControlRoomStart start = controlroom::ControlRoom::start(
      QString::fromLatin1(controlroom::kSettingsFileName), QCoreApplication::applicationVersion().toStdString());
  if (!start.problem.isEmpty()) {
    const QString text = QStringLiteral("控制室接口设置有误：\n") + start.problem;
    // After the window is up, so the station starts as it always does.
    QTimer::singleShot(0, &form, [&form, text] { form.boxes().error(&form, text); });
  }
  if (!start.room) return nullptr;
  return std::make_unique<ControlRoomFeed>(form, health, std::move(start.room));
}
