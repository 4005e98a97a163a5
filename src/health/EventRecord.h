#pragma once
// The event record on its way to db1.mdb: every event goes to the log at once and to the
// record's writer, which writes it on a thread of its own (see EventWriter): the window never
// waits on the file, and while the database refuses events they are kept and tried again.
#include <functional>
#include <memory>

#include "health/core/Event.h"
#include "health/core/EventWriter.h"

namespace health {

class EventRecord {
 public:
  /// `databaseFile` as HealthDb takes it; what cannot be written at exit is appended to
  /// kLeftoverFile beside it.
  explicit EventRecord(const QString& databaseFile);

  /// Logs the event, queues it for the record and tells onRecorded.
  void record(Event e);
  /// Writes the events not yet in the record, waiting up to `timeoutMs`; false (keeping them)
  /// when the database refuses them.
  bool flush(int timeoutMs);
  std::size_t pending() const { return writer_->pending(); }
  EventWriter& writer() { return *writer_; }

  /// Called with every event as it is recorded.
  std::function<void(const Event&)> onRecorded;

  /// Beside db1.mdb: events that could not be written when the station closed, one a line.
  static constexpr char kLeftoverFile[] = "db1-events-unwritten.txt";

 private:
  std::unique_ptr<EventWriter> writer_;
};

}  // namespace health
