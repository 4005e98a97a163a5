#pragma once
// Control rooms read the station: a Modbus TCP server for SCADA systems and PLCs and a
// Prometheus endpoint, each switched on in controlroom.ini in the station folder. Both serve
// from the snapshot last published here, on threads of their own; the window's thread only
// publishes.
//
// Use from the window's thread:
//   ControlRoomStart start = ControlRoom::start("controlroom.ini", version);
//   if (!start.problem.isEmpty()) show it once after the window appears;
//   start.room (may be null) ->publish(snapshot) after every change the window shows;
//   ->observeSamplingRun(seconds) after each sampling run. Destroy it before the window.
#include <QLoggingCategory>
#include <QString>
#include <memory>
#include <string>

#include "acquisition/core/StationSnapshot.h"
#include "controlroom/core/ControlSettings.h"
#include "controlroom/core/TcpServer.h"
#include "metrics/core/SamplingHistogram.h"

Q_DECLARE_LOGGING_CATEGORY(lcModbus)
Q_DECLARE_LOGGING_CATEGORY(lcMetrics)

namespace controlroom {

class ControlRoom;

/// The outcome of looking for controlroom.ini.
struct ControlRoomStart {
  /// Set when at least one server runs.
  std::unique_ptr<ControlRoom> room;
  /// Set when the file is faulty or a server cannot listen: the text for the operator (already
  /// logged), one line per fault, a server's own prefixed with its name. A server whose section
  /// is sound and that can listen runs whatever became of the other.
  QString problem;
};

class ControlRoom {
 public:
  /// Reads `iniPath` and starts the servers it switches on. No file, or nothing enabled: no room
  /// and no problem.
  static ControlRoomStart start(const QString& iniPath, const std::string& version);
  /// The same, with settings already read (tests, benchmarks).
  static ControlRoomStart start(const ControlSettings& settings, const std::string& version);
  ~ControlRoom();
  ControlRoom(const ControlRoom&) = delete;
  ControlRoom& operator=(const ControlRoom&) = delete;

  /// The picture the servers answer from from now on.
  void publish(acquisition::StationSnapshot snapshot) { board_.publish(std::move(snapshot)); }
  void publish(std::shared_ptr<const acquisition::StationSnapshot> snapshot) { board_.publish(std::move(snapshot)); }
  /// One sampling run took `seconds`.
  void observeSamplingRun(double seconds) { runs_.observe(seconds); }

  /// The servers running (null when switched off or unable to listen).
  const TcpServer* modbus() const { return modbus_.get(); }
  const TcpServer* metrics() const { return metrics_.get(); }

 private:
  ControlRoom() = default;

  // Declared before the servers: they read both until they are stopped.
  acquisition::SnapshotBoard board_;
  metrics::SamplingHistogram runs_;
  std::unique_ptr<TcpServer> modbus_;
  std::unique_ptr<TcpServer> metrics_;
};

}  // namespace controlroom
