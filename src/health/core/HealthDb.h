#pragma once
// The station's alarm limits and event record in db1.mdb, next to `setting`. A connection of
// its own, opened as the engine opens the file, with every value bound: nothing the operator or
// the line supplies becomes statement text.
//
// The database file is never created here: a missing file fails like any other database
// error (HealthDbError with the engine's text). Tables of our own are created when first
// written: `alarmLimit` (one row: cellLow, cellHigh, totalLow, totalHigh, spreadHigh; null
// for a limit that is off) and `event` (id, eventTime, unit, cell, value, kind, detail).
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <stdexcept>
#include <vector>

#include "engine/DatabaseFile.h"
#include "health/core/Event.h"
#include "health/core/Limits.h"

namespace health {

class HealthDbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The record keeps this many events; older ones go as new ones come.
inline constexpr int kMaxEvents = 100000;

struct StoredEvent {
  qint64 id = 0;
  QString time;
  int unit = 0;
  int cell = 0;
  std::optional<double> value;
  QString kind;
  QString detail;
};

class HealthDb {
 public:
  /// `file` is taken as it stands at construction (a relative name against the current folder).
  explicit HealthDb(const QString& file, int maxEvents = kMaxEvents);
  ~HealthDb();
  HealthDb(const HealthDb&) = delete;
  HealthDb& operator=(const HealthDb&) = delete;

  /// The stored limits; all off when none were ever saved. A stored value that is no valid
  /// limit is taken as off, and a line for it goes to `problems`. Throws HealthDbError.
  Limits loadLimits(QStringList* problems = nullptr);
  /// Throws HealthDbError; the stored limits then stay as they were.
  void saveLimits(const Limits& limits);

  /// Appends the events in one transaction and drops the oldest beyond the bound. Throws
  /// HealthDbError, having stored none of them.
  void append(const std::vector<Event>& events);
  /// Newest first; unit 0 for all units; at most `limit` rows (0: no limit).
  std::vector<StoredEvent> events(int unit = 0, int limit = 0);
  /// Events held.
  qint64 eventCount();
  /// Closes the connection when db1.mdb is now another file than the one opened; the next
  /// use opens the new one.
  void letGoIfReplaced() noexcept;


 private:
  void open();
  void ensureTables();
  std::optional<engine::OpenedFile> opened_;
  [[noreturn]] void fail(const QString& step, const QString& why);

  QString file_;
  QString name_;
  int maxEvents_;
  bool tablesReady_ = false;
};

}  // namespace health
