#pragma once
// The event record on its way to db1.mdb: every event goes to the log at once and waits in
// memory for the next write, which takes a burst of events (a string sagging takes many cells at
// once) in one go. While the database refuses them they are kept and tried again every 30 s.
#include <QTimer>
#include <functional>
#include <vector>

#include "health/core/Event.h"
#include "health/core/HealthDb.h"

namespace toolkit {
class HandlerGuard;
}

namespace health {

class EventRecord {
 public:
  /// The database and the guard are borrowed.
  EventRecord(HealthDb& db, toolkit::HandlerGuard& guard);

  /// Logs the event, keeps it for the record and tells onRecorded.
  void record(Event e);
  /// Writes the events not yet in the record; false (keeping them) when the database fails.
  bool flush();
  std::size_t pending() const { return pending_.size(); }

  /// Called with every event as it is recorded.
  std::function<void(const Event&)> onRecorded;

 private:
  HealthDb& db_;
  std::vector<Event> pending_;
  QTimer flushTimer_;
  bool flushFailing_ = false;
};

}  // namespace health
