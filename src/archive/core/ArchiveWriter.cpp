#include "archive/core/ArchiveWriter.h"

#include <QDir>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <set>

#include "archive/core/ArchiveDb.h"
#include "archive/core/BlockClose.h"
#include "archive/core/BlockCodec.h"
#include "archive/core/Retention.h"

namespace archive {

ArchiveWriter::ArchiveWriter(WriterOptions options) : options_(std::move(options)) {
  options_.runsPerBlock = std::max(1, options_.runsPerBlock);
}

ArchiveWriter::~ArchiveWriter() = default;

void ArchiveWriter::setRetention(const Retention& retention) {
  options_.retention = retention;
  lastAgeCheckDay_ = -1;
}

void ArchiveWriter::openMonth(const QString& fileName, AppendOutcome& outcome) {
  current_.reset();
  openValid_ = false;
  currentName_.clear();
  const QString path = QDir(options_.folder).filePath(fileName);
  try {
    current_ = std::make_unique<ArchiveDb>(path, true, options_.busyTimeoutMs, true);
  } catch (const ArchiveCorrupt& e) {
    outcome.notices << QStringLiteral("长期记录文件损坏，已移至 %1（%2）")
                           .arg(QDir::toNativeSeparators(setAside(path)), QString::fromStdString(e.what()));
    current_ = std::make_unique<ArchiveDb>(path, true, options_.busyTimeoutMs, false);
  }
  currentName_ = fileName;
  othersSwept_ = false;
}

// Blocks left open in other month files (the month changed, the clock went back across a
// month, the station stopped mid-block) are closed, so only the current file has staging rows.
void ArchiveWriter::closeOthers(const QString& keep, AppendOutcome& outcome) {
  for (const QFileInfo& f : monthFiles(options_.folder)) {
    if (f.fileName() == keep) continue;
    try {
      ArchiveDb db(f.filePath(), false, options_.busyTimeoutMs, false);
      QSqlQuery q(db.db());
      if (!q.exec(QStringLiteral("SELECT 1 FROM staging LIMIT 1"))) db.fail(QStringLiteral("无法读取长期记录"), q.lastError());
      const bool any = q.next();
      q.finish();
      if (any) outcome.blocksClosed += closeAll(db);
      // The file is done with: the pages its staging rows took (and any an earlier run left
      // free) go back to the disk.
      shrinkFile(db);
    } catch (const ArchiveCorrupt& e) {
      outcome.notices << QStringLiteral("长期记录文件损坏，已移至 %1（%2）")
                             .arg(QDir::toNativeSeparators(setAside(f.filePath())), QString::fromStdString(e.what()));
    } catch (const ArchiveError& e) {
      outcome.notices << QString::fromStdString(e.what());
    }
  }
  othersSwept_ = true;
}

int ArchiveWriter::closeAll(ArchiveDb& db) {
  QSqlDatabase d = db.db();
  if (!d.transaction()) db.fail(QStringLiteral("无法写入长期记录"), d.lastError());
  int closed = 0;
  try {
    QSqlQuery q(d);
    if (!q.exec(QStringLiteral("SELECT DISTINCT unit, day FROM staging")))
      db.fail(QStringLiteral("无法读取长期记录"), q.lastError());
    std::vector<std::pair<int, qint64>> groups;
    while (q.next()) groups.emplace_back(q.value(0).toInt(), q.value(1).toLongLong());
    q.finish();
    for (const auto& [unit, day] : groups)
      if (closeBlockIn(db, unit, day, options_.compressionLevel) > 0) ++closed;
    if (!d.commit()) db.fail(QStringLiteral("无法写入长期记录"), d.lastError());
  } catch (...) {
    d.rollback();
    throw;
  }
  return closed;
}

int ArchiveWriter::closeOpenBlocks() {
  int closed = 0;
  for (const QFileInfo& f : monthFiles(options_.folder)) {
    if (current_ && f.fileName() == currentName_) {
      closed += closeAll(*current_);
      open_.clear();
      continue;
    }
    ArchiveDb db(f.filePath(), false, options_.busyTimeoutMs, false);
    closed += closeAll(db);
  }
  return closed;
}

void ArchiveWriter::loadOpenBlocks() {
  open_.clear();
  lastDay_ = -1;
  QSqlQuery q(current_->db());
  q.setForwardOnly(true);
  if (!q.exec(QStringLiteral("SELECT unit, day, timeMs FROM staging ORDER BY seq")))
    current_->fail(QStringLiteral("无法读取长期记录"), q.lastError());
  std::set<std::pair<int, qint64>> stale;
  while (q.next()) {
    const int unit = q.value(0).toInt();
    const qint64 day = q.value(1).toLongLong();
    OpenBlock& b = open_[unit];
    // More than one open day for a unit (left by an older run): the earlier ones are closed
    // with the next run.
    if (!b.times.empty() && b.day != day) {
      stale.emplace(unit, b.day);
      b.times.clear();
    }
    b.day = day;
    b.times.push_back(q.value(2).toLongLong());
  }
  q.finish();
  if (!stale.empty()) {
    QSqlDatabase d = current_->db();
    if (!d.transaction()) current_->fail(QStringLiteral("无法写入长期记录"), d.lastError());
    try {
      for (const auto& [unit, day] : stale) closeBlockIn(*current_, unit, day, options_.compressionLevel);
      if (!d.commit()) current_->fail(QStringLiteral("无法写入长期记录"), d.lastError());
    } catch (...) {
      d.rollback();
      throw;
    }
  }
  openValid_ = true;
}

void ArchiveWriter::storeRun(const Run& run, AppendOutcome& outcome) {
  if (!openValid_) loadOpenBlocks();
  QSqlDatabase d = current_->db();
  if (!d.transaction()) current_->fail(QStringLiteral("无法写入长期记录"), d.lastError());
  int closed = 0;
  try {
    QSqlQuery insert(d);
    insert.prepare(QStringLiteral("INSERT INTO staging (unit, day, timeMs, data) VALUES (?, ?, ?, ?)"));
    const qint64 day = dayOf(run.timeMs);
    if (day != lastDay_) {
      // A new day: every unit's block of another day closes now, also for units that no longer
      // answer, so the day summaries are whole.
      for (auto& [unit, b] : open_)
        if (!b.times.empty() && b.day != day) {
          closed += closeBlockIn(*current_, unit, b.day, options_.compressionLevel) > 0;
          b.times.clear();
        }
    }
    for (const UnitReading& reading : run.units) {
      if (reading.unit < 1) continue;
      OpenBlock& b = open_[reading.unit];
      if (!b.times.empty() && b.day != day) {
        closed += closeBlockIn(*current_, reading.unit, b.day, options_.compressionLevel) > 0;
        b.times.clear();
      }
      if (std::find(b.times.begin(), b.times.end(), run.timeMs) != b.times.end()) continue;
      insert.bindValue(0, reading.unit);
      insert.bindValue(1, day);
      insert.bindValue(2, run.timeMs);
      insert.bindValue(3, encodeRow(toStored(run.timeMs, reading)));
      if (!insert.exec()) current_->fail(QStringLiteral("无法写入长期记录"), insert.lastError());
      b.day = day;
      b.times.push_back(run.timeMs);
      if (int(b.times.size()) >= options_.runsPerBlock) {
        closed += closeBlockIn(*current_, reading.unit, day, options_.compressionLevel) > 0;
        b.times.clear();
      }
    }
    insert.finish();
    if (!d.commit()) current_->fail(QStringLiteral("无法写入长期记录"), d.lastError());
    lastDay_ = day;
  } catch (...) {
    d.rollback();
    openValid_ = false;  // the open blocks are read again from the file
    throw;
  }
  outcome.blocksClosed += closed;
}

AppendOutcome ArchiveWriter::append(const Run& run) {
  AppendOutcome outcome;
  if (!QDir().mkpath(options_.folder))
    throw ArchiveError(
        QStringLiteral("无法建立长期记录目录 %1").arg(QDir::toNativeSeparators(options_.folder)).toStdString());
  const QString name = monthFileName(run.timeMs);
  try {
    if (!current_ || currentName_ != name) openMonth(name, outcome);
    if (!othersSwept_) closeOthers(name, outcome);
    storeRun(run, outcome);
  } catch (const ArchiveCorrupt& e) {
    // Damaged while open: set aside, and the run goes into a new file.
    const QString path = current_ ? current_->path() : QDir(options_.folder).filePath(name);
    current_.reset();
    openValid_ = false;
    outcome.notices << QStringLiteral("长期记录文件损坏，已移至 %1（%2）")
                           .arg(QDir::toNativeSeparators(setAside(path)), QString::fromStdString(e.what()));
    openMonth(name, outcome);
    storeRun(run, outcome);
  }

  // The run is stored: what follows never undoes it, and its failures are notices.
  const qint64 day = dayOf(run.timeMs);
  try {
    if (day != lastAgeCheckDay_) {
      PruneResult r = pruneByAge(options_.folder, options_.retention.yearsKept, run.timeMs, currentName_,
                                 options_.busyTimeoutMs);
      lastAgeCheckDay_ = day;
      outcome.daysDropped += r.daysDropped;
      outcome.notices << r.notices;
    }
    if (archiveBytes(options_.folder) > options_.retention.sizeLimitBytes) {
      PruneResult r = pruneBySize(options_.folder, options_.retention.sizeLimitBytes, day, currentName_,
                                  options_.busyTimeoutMs);
      outcome.daysDropped += r.daysDropped;
      outcome.notices << r.notices;
    }
  } catch (const ArchiveError& e) {
    outcome.notices << QString::fromStdString(e.what());
  }
  outcome.disk = checkDiskSpace(options_.folder, options_.lowDiskBytes);
  outcome.lowDiskChanged = outcome.disk.low != lowDisk_;
  lowDisk_ = outcome.disk.low;
  return outcome;
}

}  // namespace archive
