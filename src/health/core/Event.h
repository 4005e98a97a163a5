#pragma once
// One entry of the event record.
#include <QDateTime>
#include <QString>
#include <optional>

#include "health/core/Limits.h"

namespace health {

enum class EventKind {
  AlarmRaised,
  AlarmCleared,
  UnitOffline,
  UnitOnline,
  PollingStarted,
  PollingStopped,
  SamplingFailed,
  LineDown,
  LineUp,
  DischargeStarted,
  DischargeEnded,
  /// The daily backup of db1.mdb could not be written (detail: why).
  BackupFailed,
  StoreDelayed,   ///< db1.mdb locked by another program: sampling runs wait to be written
  StoreResumed,   ///< the runs that waited are written
  DiskLow,        ///< the disk holding the station folder is nearly full
  DiskRecovered,
  /// A month file of the long-term archive was found damaged and set aside (detail: which).
  ArchiveDamaged,
};

/// How the record writes an event's time.
inline constexpr char kEventTimeFormat[] = "yyyy-MM-dd HH:mm:ss";

struct Event {
  QDateTime time;
  EventKind kind = EventKind::PollingStarted;
  /// The limit of an alarm event.
  Limit limit = Limit::CellLow;
  /// 0 for events of the station or the line.
  int unit = 0;
  /// 1..108 for a cell's alarm; 0 otherwise.
  int cell = 0;
  std::optional<double> value;
  /// Free text that comes with the event (a sampling failure's message); may be empty.
  QString detail;
};

/// What the record says happened: "单体电压过低", "单体电压过低解除", "离线", ...
QString eventText(const Event& e);

/// One line of the station log for the event, without its time.
QString eventLogLine(const Event& e);

}  // namespace health
