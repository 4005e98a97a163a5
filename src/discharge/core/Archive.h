#pragma once
// The discharge archive: archive/discharge.sqlite in the station folder, with the tables
//   discharge        (id, unit, cells, start_ms, end_ms, started_by, ended_by, rated_minutes,
//                     threshold_mv, end_mv)
//   discharge_sample (discharge, time_ms, cells, total_mv, v1 .. v108)
//   discharge_restart (discharge, stopped_ms, resumed_ms): a discharge that went on across a
//                     restart of the station: its last sample before the stop, its first after
// Times are UTC ms since the epoch; voltages whole mV (null beyond the reply's cells).
// One object is one connection, used on the thread that made it. The folder and the file are
// created when missing; every value is bound.
#include <QString>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "discharge/core/Recording.h"

class QSqlQuery;

namespace discharge {

class ArchiveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// archive/discharge.sqlite under the station folder.
QString archiveFile(const QString& stationFolder);

class Archive {
 public:
  /// Opens (making the folder and the file when missing). Throws ArchiveError.
  explicit Archive(const QString& file);
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  /// Every discharge, newest first, with its sample count.
  std::vector<DischargeRecord> list();
  std::optional<DischargeRecord> record(qint64 id);
  /// The record with its samples in time order; throws ArchiveError for an unknown id.
  Recording load(qint64 id);
  void setRatedMinutes(qint64 id, std::optional<int> minutes);

  /// Gives every record without an end (the station stopped without closing) the time of its
  /// last sample (or its start) and EndReason::Interrupted; returns them as ended so.
  std::vector<DischargeRecord> closeInterrupted();

  // The recorder's writes, each inside the transaction begun by begin().
  void begin();
  void commit();
  void rollback();
  qint64 insertRecord(const DischargeRecord& r);
  /// Continues an interrupted record: its end is taken back and the restart noted (from its
  /// last sample to `resumedMs`). False when the record is not (or no longer) interrupted.
  bool resumeRecord(qint64 id, qint64 resumedMs);
  void insertSample(qint64 id, const Sample& s);
  void endRecord(qint64 id, qint64 endMs, EndReason why);

 private:
  [[noreturn]] void fail(const QString& step) const;
  QString file_;
  QString name_;
  std::unique_ptr<QSqlQuery> sampleInsert_;  // prepared once, on first use
};

}  // namespace discharge
