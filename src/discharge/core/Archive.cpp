#include "discharge/core/Archive.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>
#include <algorithm>
#include <sqlite3.h>

namespace discharge {

namespace {

QString sampleInsertText() {
  QString columns = QStringLiteral("discharge, time_ms, cells, total_mv");
  QString marks = QStringLiteral("?, ?, ?, ?");
  for (int k = 1; k <= kMaxCells; ++k) {
    columns += QStringLiteral(", v%1").arg(k);
    marks += QStringLiteral(", ?");
  }
  return QStringLiteral("INSERT INTO discharge_sample (%1) VALUES (%2)").arg(columns, marks);
}

const QString kRecordColumns = QStringLiteral(
    "d.id, d.unit, d.cells, d.start_ms, d.end_ms, d.started_by, d.ended_by, d.rated_minutes, d.threshold_mv, d.end_mv, "
    "(SELECT count(*) FROM discharge_sample s WHERE s.discharge = d.id)");

DischargeRecord readRecord(const QSqlQuery& q) {
  DischargeRecord r;
  r.id = q.value(0).toLongLong();
  r.unit = q.value(1).toInt();
  r.cells = std::clamp(q.value(2).toInt(), 0, kMaxCells);
  r.startMs = q.value(3).toLongLong();
  if (!q.value(4).isNull()) r.endMs = q.value(4).toLongLong();
  r.startedBy = startReasonFromCode(q.value(5).toString()).value_or(StartReason::Automatic);
  if (!q.value(6).isNull()) r.endedBy = endReasonFromCode(q.value(6).toString());
  if (!q.value(7).isNull()) r.ratedMinutes = q.value(7).toInt();
  r.thresholdMv = q.value(8).toInt();
  r.endMv = q.value(9).toInt();
  r.samples = q.value(10).toLongLong();
  return r;
}

}  // namespace

QString archiveFile(const QString& stationFolder) {
  return QDir(stationFolder).filePath(QStringLiteral("archive/discharge.sqlite"));
}

Archive::Archive(const QString& file)
    : file_(QDir::current().absoluteFilePath(file)),
      name_(QStringLiteral("discharge-archive-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
  if (!QDir().mkpath(QFileInfo(file_).absolutePath()))
    throw ArchiveError(QStringLiteral("无法建立放电记录文件夹 %1")
                           .arg(QDir::toNativeSeparators(QFileInfo(file_).absolutePath()))
                           .toStdString());
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
  db.setDatabaseName(file_);
  db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
  if (!db.open()) fail(QStringLiteral("无法打开放电记录 %1").arg(QDir::toNativeSeparators(file_)));
  QSqlQuery q(db);
  QString sampleColumns;
  for (int k = 1; k <= kMaxCells; ++k) sampleColumns += QStringLiteral(", v%1 integer").arg(k);
  for (const QString& sql :
       {QStringLiteral("PRAGMA journal_mode=WAL"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS discharge (id INTEGER PRIMARY KEY AUTOINCREMENT, unit integer NOT NULL, "
                       "cells integer NOT NULL, start_ms integer NOT NULL, end_ms integer, started_by text NOT NULL, "
                       "ended_by text, rated_minutes integer, threshold_mv integer, end_mv integer)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS discharge_sample (discharge integer NOT NULL REFERENCES discharge(id), "
                       "time_ms integer NOT NULL, cells integer NOT NULL, total_mv integer NOT NULL%1)")
            .arg(sampleColumns),
        QStringLiteral("CREATE INDEX IF NOT EXISTS discharge_sample_time ON discharge_sample (discharge, time_ms)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS discharge_restart (discharge integer NOT NULL REFERENCES discharge(id), "
                       "stopped_ms integer NOT NULL, resumed_ms integer NOT NULL)")}) {
    if (!q.exec(sql)) fail(QStringLiteral("无法建立放电记录表"));
  }
}

Archive::~Archive() {
  sampleInsert_.reset();
  { QSqlDatabase::database(name_, false).close(); }
  QSqlDatabase::removeDatabase(name_);
}

void Archive::fail(const QString& step) const {
  QSqlDatabase db = QSqlDatabase::database(name_, false);
  throw ArchiveError(QStringLiteral("%1：%2").arg(step, db.lastError().text()).toStdString());
}

std::vector<DischargeRecord> Archive::list() {
  QSqlQuery q(QSqlDatabase::database(name_, false));
  if (!q.exec(QStringLiteral("SELECT %1 FROM discharge d ORDER BY d.start_ms DESC, d.id DESC").arg(kRecordColumns)))
    throw ArchiveError(QStringLiteral("无法读取放电记录：%1").arg(q.lastError().text()).toStdString());
  std::vector<DischargeRecord> out;
  while (q.next()) out.push_back(readRecord(q));
  return out;
}

std::optional<DischargeRecord> Archive::record(qint64 id) {
  QSqlQuery q(QSqlDatabase::database(name_, false));
  q.prepare(QStringLiteral("SELECT %1 FROM discharge d WHERE d.id = ?").arg(kRecordColumns));
  q.addBindValue(id);
  if (!q.exec()) throw ArchiveError(QStringLiteral("无法读取放电记录：%1").arg(q.lastError().text()).toStdString());
  if (!q.next()) return std::nullopt;
  return readRecord(q);
}

Recording Archive::load(qint64 id) {
  const auto rec = record(id);
  if (!rec) throw ArchiveError(QStringLiteral("放电记录 %1 不存在").arg(id).toStdString());
  Recording r;
  r.record = *rec;
  QSqlQuery q(QSqlDatabase::database(name_, false));
  q.setForwardOnly(true);
  // A record begun by hand before the unit answered has no cell count; its samples have.
  q.prepare(QStringLiteral("SELECT max(cells) FROM discharge_sample WHERE discharge = ?"));
  q.addBindValue(id);
  if (!q.exec() || !q.next()) throw ArchiveError(QStringLiteral("无法读取放电数据：%1").arg(q.lastError().text()).toStdString());
  r.cells = std::clamp(std::max(rec->cells, q.value(0).toInt()), 0, kMaxCells);
  q.finish();
  QString columns = QStringLiteral("time_ms, total_mv");
  for (int k = 1; k <= r.cells; ++k) columns += QStringLiteral(", v%1").arg(k);
  // A four-hour recording of 108 cells is four million values: read straight from SQLite's own
  // statement (the connection's handle), without a QVariant for each.
  const QVariant handle = QSqlDatabase::database(name_, false).driver()->handle();
  sqlite3* db = handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0 ? *static_cast<sqlite3* const*>(handle.data()) : nullptr;
  if (!db) throw ArchiveError("无法读取放电数据：no SQLite connection");
  const QByteArray sql = QStringLiteral("SELECT %1 FROM discharge_sample WHERE discharge = ? ORDER BY time_ms").arg(columns).toUtf8();
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.constData(), static_cast<int>(sql.size()), &st, nullptr) != SQLITE_OK)
    throw ArchiveError(QStringLiteral("无法读取放电数据：%1").arg(QString::fromUtf8(sqlite3_errmsg(db))).toStdString());
  const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(st, sqlite3_finalize);
  sqlite3_bind_int64(st, 1, id);
  const auto n = static_cast<std::size_t>(rec->samples);
  r.times.reserve(n);
  r.totals.reserve(n);
  r.cellMv.reserve(n * static_cast<std::size_t>(r.cells));
  int rc = 0;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    r.times.push_back(sqlite3_column_int64(st, 0));
    r.totals.push_back(sqlite3_column_int(st, 1));
    for (int k = 1; k <= r.cells; ++k)
      r.cellMv.push_back(sqlite3_column_type(st, 1 + k) == SQLITE_NULL ? -1 : sqlite3_column_int(st, 1 + k));
  }
  if (rc != SQLITE_DONE)
    throw ArchiveError(QStringLiteral("无法读取放电数据：%1").arg(QString::fromUtf8(sqlite3_errmsg(db))).toStdString());
  q.prepare(QStringLiteral("SELECT stopped_ms, resumed_ms FROM discharge_restart WHERE discharge = ? ORDER BY resumed_ms"));
  q.addBindValue(id);
  if (!q.exec()) throw ArchiveError(QStringLiteral("无法读取放电数据：%1").arg(q.lastError().text()).toStdString());
  while (q.next()) r.restarts.push_back({q.value(0).toLongLong(), q.value(1).toLongLong()});
  return r;
}

void Archive::setRatedMinutes(qint64 id, std::optional<int> minutes) {
  QSqlQuery q(QSqlDatabase::database(name_, false));
  q.prepare(QStringLiteral("UPDATE discharge SET rated_minutes = ? WHERE id = ?"));
  q.addBindValue(minutes ? QVariant(*minutes) : QVariant(QMetaType(QMetaType::Int)));
  q.addBindValue(id);
  if (!q.exec()) throw ArchiveError(QStringLiteral("无法保存额定时间：%1").arg(q.lastError().text()).toStdString());
}

std::vector<DischargeRecord> Archive::closeInterrupted() {
  QSqlDatabase db = QSqlDatabase::database(name_, false);
  if (!db.transaction()) fail(QStringLiteral("无法结束中断的放电记录"));
  std::vector<DischargeRecord> out;
  QSqlQuery q(db);
  q.prepare(QStringLiteral("UPDATE discharge SET ended_by = ?, end_ms = coalesce((SELECT max(time_ms) FROM "
                           "discharge_sample s WHERE s.discharge = discharge.id), start_ms) WHERE end_ms IS NULL "
                           "RETURNING id"));
  q.addBindValue(code(EndReason::Interrupted));
  std::vector<qint64> ids;
  bool ok = q.exec();
  while (ok && q.next()) ids.push_back(q.value(0).toLongLong());
  q.finish();
  if (!ok || !db.commit()) {
    db.rollback();
    fail(QStringLiteral("无法结束中断的放电记录"));
  }
  std::sort(ids.begin(), ids.end());
  for (const qint64 id : ids)
    if (auto r = record(id)) out.push_back(*r);
  return out;
}

bool Archive::resumeRecord(qint64 id, qint64 resumedMs) {
  QSqlQuery q(QSqlDatabase::database(name_, false));
  q.prepare(QStringLiteral("INSERT INTO discharge_restart (discharge, stopped_ms, resumed_ms) SELECT id, end_ms, ? "
                           "FROM discharge WHERE id = ? AND ended_by = ?"));
  q.addBindValue(resumedMs);
  q.addBindValue(id);
  q.addBindValue(code(EndReason::Interrupted));
  if (!q.exec()) throw ArchiveError(QStringLiteral("无法续写放电记录：%1").arg(q.lastError().text()).toStdString());
  if (q.numRowsAffected() != 1) return false;
  q.prepare(QStringLiteral("UPDATE discharge SET end_ms = NULL, ended_by = NULL WHERE id = ?"));
  q.addBindValue(id);
  if (!q.exec()) throw ArchiveError(QStringLiteral("无法续写放电记录：%1").arg(q.lastError().text()).toStdString());
  return true;
}

void Archive::begin() {
  if (!QSqlDatabase::database(name_, false).transaction()) fail(QStringLiteral("无法写入放电记录"));
}

void Archive::commit() {
  if (!QSqlDatabase::database(name_, false).commit()) fail(QStringLiteral("无法写入放电记录"));
}

void Archive::rollback() { QSqlDatabase::database(name_, false).rollback(); }

qint64 Archive::insertRecord(const DischargeRecord& r) {
  QSqlQuery q(QSqlDatabase::database(name_, false));
  q.prepare(QStringLiteral("INSERT INTO discharge (unit, cells, start_ms, started_by, rated_minutes, threshold_mv, "
                           "end_mv) VALUES (?, ?, ?, ?, ?, ?, ?)"));
  q.addBindValue(r.unit);
  q.addBindValue(r.cells);
  q.addBindValue(r.startMs);
  q.addBindValue(code(r.startedBy));
  q.addBindValue(r.ratedMinutes ? QVariant(*r.ratedMinutes) : QVariant(QMetaType(QMetaType::Int)));
  q.addBindValue(r.thresholdMv);
  q.addBindValue(r.endMv);
  if (!q.exec()) throw ArchiveError(QStringLiteral("无法写入放电记录：%1").arg(q.lastError().text()).toStdString());
  return q.lastInsertId().toLongLong();
}

void Archive::insertSample(qint64 id, const Sample& s) {
  if (!sampleInsert_) {
    sampleInsert_ = std::make_unique<QSqlQuery>(QSqlDatabase::database(name_, false));
    if (!sampleInsert_->prepare(sampleInsertText())) {
      const QString why = sampleInsert_->lastError().text();
      sampleInsert_.reset();
      throw ArchiveError(QStringLiteral("无法写入放电数据：%1").arg(why).toStdString());
    }
  }
  QSqlQuery& q = *sampleInsert_;
  q.addBindValue(id);
  q.addBindValue(s.timeMs);
  q.addBindValue(s.cells);
  q.addBindValue(s.totalMv);
  const QVariant null(QMetaType(QMetaType::Int));
  for (int k = 0; k < kMaxCells; ++k) q.addBindValue(k < s.cells ? QVariant(s.cellMv[static_cast<std::size_t>(k)]) : null);
  if (!q.exec()) throw ArchiveError(QStringLiteral("无法写入放电数据：%1").arg(q.lastError().text()).toStdString());
}

void Archive::endRecord(qint64 id, qint64 endMs, EndReason why) {
  QSqlQuery q(QSqlDatabase::database(name_, false));
  q.prepare(QStringLiteral("UPDATE discharge SET end_ms = ?, ended_by = ? WHERE id = ? AND end_ms IS NULL"));
  q.addBindValue(endMs);
  q.addBindValue(code(why));
  q.addBindValue(id);
  if (!q.exec()) throw ArchiveError(QStringLiteral("无法写入放电记录：%1").arg(q.lastError().text()).toStdString());
}

}  // namespace discharge
