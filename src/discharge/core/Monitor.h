#pragma once
// Discharge tests on the station: detection per unit, recording into the archive, the events.
// The window feeds it what the polling cycle sees and offers the operator's actions; it owns the
// detector and the recorder. Everything here runs on the thread that feeds it (the window's);
// only the recorder's writer runs on its own.
#include <QObject>
#include <QString>
#include <array>
#include <optional>
#include <span>
#include <vector>

#include "protocol/Frames.h"
#include "discharge/core/Detector.h"
#include "discharge/core/Recorder.h"
#include "discharge/core/Settings.h"

namespace discharge {

/// The event texts of the event record, the log and the published events.
inline const QString kEventStarted = QStringLiteral("放电开始");
inline const QString kEventEnded = QStringLiteral("放电结束");
inline const QString kEventInterrupted = QStringLiteral("放电记录中断");

class Monitor : public QObject {
  Q_OBJECT
 public:
  /// `dbFile` is the station database (db1.mdb) holding the settings; the archive goes to
  /// archive/discharge.sqlite under `stationFolder`. Settings that cannot be read are logged
  /// and the defaults taken.
  ///
  /// Records an earlier run left unfinished (the station stopped without closing) are ended as
  /// interrupted at once (interruptedAtStart()). Such a discharge may still be running: when
  /// the unit's first readings after the start are low and a discharge of it begins (detected,
  /// or by hand for a test begun by hand) within the maximum duration of the interrupted one's
  /// start, the interrupted
  /// record is continued (one record from the real start, the restart noted in it) instead of
  /// a new one. A reading back above the threshold first means it has ended.
  Monitor(const QString& stationFolder, const QString& dbFile, QObject* parent = nullptr);
  /// Ends running discharges as StationClosed (when close() was not called) and writes the rest.
  ~Monitor() override;

  /// A good reply of `unit` at `timeMs` (UTC ms): its cell voltages 1..cells and total, in
  /// volts as the tables hold them.
  void takeReply(int unit, qint64 timeMs, std::span<const double> cellVolts, double total);
  /// The unit gave no good reply to its poll.
  void takeSilence(int unit, qint64 timeMs);
  void pollingStarted();
  void pollingStopped() {}

  /// The operator's 开始记录: false when the unit is already recorded by hand. Taking over a
  /// running automatic discharge returns true and begins no new record.
  bool startRecording(int unit, qint64 nowMs, std::optional<int> ratedMinutes = std::nullopt);
  /// The operator's 结束记录: false when no discharge of the unit runs.
  bool endRecording(int unit, qint64 nowMs);
  bool recording(int unit) const { return detector_.discharging(unit); }
  bool recordingByHand(int unit) const { return detector_.discharging(unit) && detector_.manual(unit); }

  /// Ends every running discharge as StationClosed.
  void close(qint64 nowMs);

  const Settings& settings() const { return detector_.settings(); }
  /// Saves the settings in the database (throws SettingError or SettingsDbError; nothing
  /// changes then) and uses them from the next reading.
  void applySettings(const Settings& s);

  /// The records found unfinished when the station started, ended as interrupted; with the
  /// event text of each (interruptedDetail).
  const std::vector<DischargeRecord>& interruptedAtStart() const { return interrupted_; }
  static QString interruptedDetail(const DischargeRecord& r);

  QString archivePath() const { return archive_; }
  Recorder& recorder() { return recorder_; }
  const Detector& detector() const { return detector_; }

 signals:
  /// A discharge began or ended; `detail` names the unit and how, for the event record.
  void started(int unit, qint64 timeMs, const QString& detail);
  void ended(int unit, qint64 timeMs, const QString& detail);

 private:
  void apply(int unit, const Outcome& o, const Sample* sample, std::optional<int> rated = std::nullopt);

  QString dbFile_;
  QString archive_;
  Detector detector_;
  Recorder recorder_;
  std::array<qint64, 100> tokens_{};  // the running record's token per unit, 0 for none
  std::array<qint64, 100> starts_{};
  std::array<int, 100> cells_{};  // cells of the last good reply per unit
  std::array<std::optional<Sample>, 100> held_{};
  std::vector<DischargeRecord> interrupted_;
  std::array<std::optional<DischargeRecord>, protocol::kMaxUnit + 1> resumable_{};  // per unit, until it reads high
  bool closed_ = false;
};

}  // namespace discharge
