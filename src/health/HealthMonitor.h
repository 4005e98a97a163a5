#pragma once
// Line health, alarms and the event record on the station window. It learns what happens from
// the window's signals (the app connects them), marks the unit on show in the cell tables
// (alarms on a red ground, an offline unit's values in grey), names the units in alarm or
// offline below the tables, and offers its dialogs through the window's context menu.
//
// With no limit set and every unit answering it changes nothing the window shows.
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "acquisition/core/MeasurementTables.h"
#include "acquisition/core/ReplyDecoder.h"
#include "health/core/AlarmTracker.h"
#include "health/core/Event.h"
#include "health/core/HealthDb.h"
#include "health/core/LineCounts.h"
#include "health/AlarmMarks.h"
#include "health/EventRecord.h"
#include "health/StationView.h"

class QDialog;
class QMenu;
class QPalette;

namespace health {

class LineRecovery;

class HealthMonitor : public QObject {
  Q_OBJECT
 public:
  /// Loads the limits from `databaseFile`. When they cannot be read, every alarm stays off, the
  /// strip below the tables says so, and they are read again every limitsRetryMs and at each
  /// start of polling until they are read; the limits dialog will not save meanwhile.
  HealthMonitor(StationView view, const QString& databaseFile, QObject* parent = nullptr);
  /// Writes what is left of the event record (bounded by the engine's lock wait).
  ~HealthMonitor() override;

  /// Between reads of limits not yet known, and between writes of events the database refused.
  void setRetryIntervals(int limitsMs, int eventsMs);
  /// True once the stored limits were read (or saved) in this run.
  bool limitsKnown() const { return limitsKnown_; }

  /// A notice of the station in the red strip below the tables (see AlarmMarks::setNotice):
  /// set under a key of the caller's own, replaced by setting the key again, taken away by
  /// clearNotice or an empty text. With no notice and no alarm the window is unchanged.
  void setNotice(const QString& key, const QString& text) { marks_.setNotice(key, text); }
  void clearNotice(const QString& key) { marks_.clearNotice(key); }
  bool hasNotice(const QString& key) const { return marks_.hasNotice(key); }
  /// The key of the notice shown while the limits are unknown.
  static constexpr char kLimitsNotice[] = "health.limits";

  // What the window reports.
  void pollingStarted();
  void pollingStopped();
  void requestSent(int unit, bool queued);
  void unitSilent(int unit);
  void replyHandled(const acquisition::ReplyOutcome& outcome, int polledUnit);
  void samplingFailed(const QString& text);
  void shownUnitChanged();

  // The context menu's entries.
  void openLimits();
  void openStatistics();
  void openEvents();
  void exportHistory();

  /// Puts checked limits in force and stores them. Throws HealthDbError (nothing changes then).
  void applyLimits(const Limits& limits);
  const Limits& limits() const { return alarms_->limits(); }

  /// An event another feature noted (a discharge): into the record and the log like the
  /// monitor's own.
  void note(Event e) { record(std::move(e)); }

  /// Writes the events not yet in the record, waiting a little longer than the engine's lock
  /// wait; false (keeping them) when the database refuses them.
  bool flushEvents();
  /// Events waiting for the record.
  std::size_t pendingEvents() const { return events_.pending(); }

  const AlarmTracker& alarms() const { return *alarms_; }
  LineCounts& counts() { return counts_; }
  LineRecovery& line() { return *line_; }
  HealthDb& db() { return db_; }
  /// db1.mdb may have been replaced by another file: the monitor's connections (its own and
  /// the record's thread's) let go of the old one. Never waits on the record's thread.
  void letGoIfReplaced() {
    db_.letGoIfReplaced();
    events_.writer().letGoIfReplaced();
  }
  QLabel* notice() const { return marks_.notice(); }
  const StationView& view() const { return view_; }

  // The modal parts, replaceable in tests.
  std::function<void(QMenu&, const QPoint&)> runMenu;
  std::function<void(QDialog&)> runDialog;
  /// A file to write, or empty when the operator gave none.
  std::function<QString(const QString& title, const QString& suggested)> askSavePath;
  /// Writes a unit's stored samples as CSV to a path and returns the rows written: the store's
  /// export, for the menu's 导出历史数据….
  std::function<int(int unit, const QString& path)> exportSamples;
  /// Further lines for 通信统计… (the broker link's state); none when empty.
  std::function<QStringList()> statisticsLines;
  /// Further entries of the window's context menu, added after the monitor's own by the
  /// features that offer them.
  std::vector<std::function<void(QMenu&)>> menuAdditions;

 signals:
  /// An event went to the record (and the log).
  void eventRecorded(const health::Event& event);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void record(Event e) { events_.record(std::move(e)); }
  void takeAlarmChanges(const std::vector<AlarmChange>& changes);
  void takeOfflineChanges(const std::vector<OfflineChange>& changes);
  void showMenu(const QPoint& globalPos);
  void limitsUnknown(const QString& why);
  void takeLimitsRead(const LimitsRead& read);
  void retryLimits();

  StationView view_;
  HealthDb db_;
  std::unique_ptr<AlarmTracker> alarms_;
  LineCounts counts_;
  LineRecovery* line_ = nullptr;
  EventRecord events_;
  AlarmMarks marks_{view_, *alarms_, counts_};
  bool limitsKnown_ = false;
  bool limitsAsked_ = false;
  QTimer limitsRetry_;
  std::vector<AlarmChange> alarmScratch_;
  std::vector<OfflineChange> offlineScratch_;
};

}  // namespace health
