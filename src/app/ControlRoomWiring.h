#pragma once
// Modbus TCP and Prometheus metrics (controlroom.ini): the servers answer from a picture of the
// station that the window's thread publishes after every change worth reading.
#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "controlroom/ControlRoom.h"

class TForm1;
namespace health {
class HealthMonitor;
}

class ControlRoomFeed : public QObject {
 public:
  ControlRoomFeed(TForm1& form, health::HealthMonitor* health, std::unique_ptr<controlroom::ControlRoom> room);
  ~ControlRoomFeed() override;

  /// Builds the picture now and hands it to the servers.
  void publishNow();

 private:
  TForm1& form_;
  health::HealthMonitor* health_;
  std::unique_ptr<controlroom::ControlRoom> room_;
  /// Several changes within one pass of the event loop give one picture.
  QTimer coalesce_;
  std::optional<std::int64_t> lastSamplingMs_;
  /// The unit count of the station's settings, served until polling first starts; 0 before
  /// they are read.
  int storedUnitCount_ = 0;
  /// Without a health monitor: when each unit last answered (0 for never).
  std::array<std::int64_t, acquisition::kUnits> lastReplyMs_{};
};

/// Starts the servers controlroom.ini switches on and feeds them; none without the file. A
/// faulty file or a port in use is shown once after the window appears (already logged).
std::unique_ptr<ControlRoomFeed> attachControlRoom(TForm1& form, health::HealthMonitor* health);
