#include "archive/core/Retention.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QVariant>
#include <memory>

#include "archive/core/ArchiveDb.h"

namespace archive {

namespace {

void removeFile(const QFileInfo& f) {
  for (const QString& ext : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
    const QString path = f.filePath() + ext;
    if (QFile::exists(path) && !QFile::remove(path))
      throw ArchiveError(QStringLiteral("无法删除旧的长期记录文件 %1").arg(QDir::toNativeSeparators(path)).toStdString());
  }
}

void exec(const ArchiveDb& db, QSqlQuery& q) {
  if (!q.exec()) db.fail(QStringLiteral("无法删除旧的长期记录"), q.lastError());
}

qint64 pragmaValue(const ArchiveDb& db, const QString& pragma) {
  QSqlQuery q(db.db());
  if (!q.exec(pragma) || !q.next()) db.fail(QStringLiteral("无法整理长期记录文件"), q.lastError());
  return q.value(0).toLongLong();
}

// Gives every free page back to the file system (the file shrinks at the checkpoint).
// SQLite's incremental vacuum frees one page per step of its statement, and a query here
// takes one step per exec: it runs once per free page, in one transaction.
void shrink(const ArchiveDb& db) {
  const qint64 free = pragmaValue(db, QStringLiteral("PRAGMA freelist_count"));
  if (free > 0) {
    QSqlDatabase d = db.db();
    if (!d.transaction()) db.fail(QStringLiteral("无法整理长期记录文件"), d.lastError());
    QSqlQuery q(d);
    bool ok = q.prepare(QStringLiteral("PRAGMA incremental_vacuum"));
    for (qint64 i = 0; ok && i < free; ++i) ok = q.exec();
    q.finish();
    if (!ok) {
      const QSqlError e = q.lastError();
      d.rollback();
      db.fail(QStringLiteral("无法整理长期记录文件"), e);
    }
    if (!d.commit()) db.fail(QStringLiteral("无法整理长期记录文件"), d.lastError());
  }
  // A reader may hold the checkpoint back; the pages are free anyway.
  QSqlQuery q(db.db());
  if (q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"))) q.next();
}

qint64 pagesInUse(const ArchiveDb& db) {
  QSqlQuery q(db.db());
  qint64 pages = 0, freePages = 0, size = 0;
  if (q.exec(QStringLiteral("PRAGMA page_count")) && q.next()) pages = q.value(0).toLongLong();
  if (q.exec(QStringLiteral("PRAGMA freelist_count")) && q.next()) freePages = q.value(0).toLongLong();
  if (q.exec(QStringLiteral("PRAGMA page_size")) && q.next()) size = q.value(0).toLongLong();
  return (pages - freePages) * size;
}

// Drops the given days (day < before, or day == only) of every unit; returns the days dropped.
int dropDays(const ArchiveDb& db, const QString& where, qint64 day) {
  QSqlDatabase d = db.db();
  if (!d.transaction()) db.fail(QStringLiteral("无法删除旧的长期记录"), d.lastError());
  int days = 0;
  try {
    QSqlQuery q(d);
    q.prepare(QStringLiteral("SELECT count(*) FROM (SELECT day FROM block WHERE day %1 ? UNION "
                             "SELECT day FROM daySummary WHERE day %1 ? UNION SELECT day FROM staging WHERE day %1 ?)")
                  .arg(where));
    for (int i = 0; i < 3; ++i) q.addBindValue(day);
    exec(db, q);
    if (q.next()) days = q.value(0).toInt();
    q.finish();
    for (const char* table : {"block", "daySummary", "staging"}) {
      q.prepare(QStringLiteral("DELETE FROM %1 WHERE day %2 ?").arg(QLatin1String(table), where));
      q.addBindValue(day);
      exec(db, q);
    }
    if (!d.commit()) db.fail(QStringLiteral("无法删除旧的长期记录"), d.lastError());
  } catch (...) {
    d.rollback();
    throw;
  }
  shrink(db);
  return days;
}

}  // namespace

void shrinkFile(const ArchiveDb& db) { shrink(db); }

PruneResult pruneByAge(const QString& folder, int yearsKept, qint64 nowMs, const QString& keepFile,
                       int busyTimeoutMs) {
  PruneResult result;
  const QDate cutoffDate = QDateTime::fromMSecsSinceEpoch(nowMs, Qt::UTC).date().addYears(-yearsKept);
  const qint64 cutoffMs = QDateTime(cutoffDate, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
  const qint64 cutoffDay = dayOf(cutoffMs);
  for (const QFileInfo& f : monthFiles(folder)) {
    qint64 first = 0, end = 0;
    monthSpan(f.fileName(), &first, &end);
    if (first >= cutoffMs) break;
    if (end <= cutoffMs && f.fileName() != keepFile) {
      removeFile(f);
      result.daysDropped += int((end - first) / kDayMs);
      result.notices << QStringLiteral("已删除超过 %1 年的长期记录 %2").arg(yearsKept).arg(f.fileName());
      continue;
    }
    ArchiveDb db(f.filePath(), false, busyTimeoutMs, false);
    const int days = dropDays(db, QStringLiteral("<"), cutoffDay);
    if (days > 0) {
      result.daysDropped += days;
      result.notices << QStringLiteral("已删除超过 %1 年的长期记录：%2 天（%3）").arg(yearsKept).arg(days).arg(f.fileName());
    }
  }
  return result;
}

PruneResult pruneBySize(const QString& folder, qint64 limitBytes, qint64 keepDay, const QString& keepFile,
                        int busyTimeoutMs) {
  PruneResult result;
  struct Open {
    QFileInfo info;
    std::unique_ptr<ArchiveDb> db;
    qint64 bytes = 0;
  };
  std::vector<Open> files;
  qint64 total = 0;
  for (const QFileInfo& f : monthFiles(folder)) {
    Open o{f, nullptr, f.size()};
    try {
      o.db = std::make_unique<ArchiveDb>(f.filePath(), false, busyTimeoutMs, false);
      shrink(*o.db);  // the pages of closed blocks' staging rows first
      o.bytes = pagesInUse(*o.db);
    } catch (const ArchiveError& e) {
      result.notices << QString::fromStdString(e.what());  // counted at its size, left alone
    }
    total += o.bytes;
    files.push_back(std::move(o));
  }
  QStringList droppedDays;
  for (Open& o : files) {
    if (total <= limitBytes) break;
    if (!o.db) continue;
    while (total > limitBytes) {
      QSqlQuery q(o.db->db());
      q.prepare(QStringLiteral("SELECT min(day) FROM (SELECT day FROM block UNION SELECT day FROM daySummary) WHERE day < ?"));
      q.addBindValue(keepDay);
      exec(*o.db, q);
      const QVariant oldest = q.next() ? q.value(0) : QVariant();
      q.finish();
      if (oldest.isNull()) {
        q.prepare(QStringLiteral("SELECT 1 FROM staging LIMIT 1"));
        exec(*o.db, q);
        const bool staging = q.next();
        q.finish();
        if (!staging && o.info.fileName() != keepFile) {
          o.db.reset();
          removeFile(o.info);
          total -= o.bytes;
        }
        break;
      }
      const qint64 day = oldest.toLongLong();
      // Only the day itself: "=" with the day found.
      dropDays(*o.db, QStringLiteral("="), day);
      ++result.daysDropped;
      droppedDays << QDateTime::fromMSecsSinceEpoch(day * kDayMs, Qt::UTC).date().toString(Qt::ISODate);
      const qint64 now = pagesInUse(*o.db);
      total -= o.bytes - now;
      o.bytes = now;
    }
  }
  if (!droppedDays.isEmpty())
    result.notices << QStringLiteral("长期记录超过容量上限 %1 MB，已删除最早的 %2 天（%3 至 %4）")
                          .arg(limitBytes / kMiB)
                          .arg(droppedDays.size())
                          .arg(droppedDays.front(), droppedDays.back());
  return result;
}

}  // namespace archive
