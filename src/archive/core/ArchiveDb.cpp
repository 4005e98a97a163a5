#include "archive/core/ArchiveDb.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

#include "archive/core/ArchiveTypes.h"

namespace archive {

namespace {

const QString kSuffix = QStringLiteral(".sqlite");

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS block (unit INTEGER NOT NULL, day INTEGER NOT NULL, firstMs INTEGER NOT NULL, "
    "lastMs INTEGER NOT NULL, runs INTEGER NOT NULL, data BLOB NOT NULL)",
    "CREATE INDEX IF NOT EXISTS blockByUnit ON block (unit, firstMs)",
    "CREATE TABLE IF NOT EXISTS staging (seq INTEGER PRIMARY KEY, unit INTEGER NOT NULL, day INTEGER NOT NULL, "
    "timeMs INTEGER NOT NULL, data BLOB NOT NULL)",
    "CREATE INDEX IF NOT EXISTS stagingByUnit ON staging (unit, day)",
    "CREATE TABLE IF NOT EXISTS daySummary (unit INTEGER NOT NULL, day INTEGER NOT NULL, cell INTEGER NOT NULL, "
    "minMv INTEGER NOT NULL, meanUv INTEGER NOT NULL, maxMv INTEGER NOT NULL, samples INTEGER NOT NULL, "
    "PRIMARY KEY (unit, day, cell)) WITHOUT ROWID",
    "CREATE VIEW IF NOT EXISTS daySummaryVolts AS SELECT unit, date(day * 86400, 'unixepoch') AS day, "
    "CASE cell WHEN 0 THEN 'V' ELSE 'V' || cell END AS cell, minMv / 1000.0 AS vMin, meanUv / 1000000.0 AS vMean, "
    "maxMv / 1000.0 AS vMax, samples FROM daySummary",
};

}  // namespace

std::vector<QFileInfo> monthFiles(const QString& folder) {
  std::vector<QFileInfo> out;
  const QDir dir(folder);
  for (const QFileInfo& f : dir.entryInfoList({QStringLiteral("*") + kSuffix}, QDir::Files, QDir::Name))
    if (monthSpan(f.fileName(), nullptr, nullptr)) out.push_back(f);
  return out;
}

QString monthFileName(qint64 timeMs) {
  return QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC).toString(QStringLiteral("yyyy-MM")) + kSuffix;
}

bool monthSpan(const QString& fileName, qint64* firstMs, qint64* endMs) {
  static const QRegularExpression re(QStringLiteral("^(\\d{4})-(\\d{2})\\.sqlite$"));
  const auto m = re.match(fileName);
  if (!m.hasMatch()) return false;
  const QDate first(m.captured(1).toInt(), m.captured(2).toInt(), 1);
  if (!first.isValid()) return false;
  if (firstMs) *firstMs = QDateTime(first, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
  if (endMs) *endMs = QDateTime(first.addMonths(1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
  return true;
}

qint64 archiveBytes(const QString& folder) {
  qint64 total = 0;
  for (const QFileInfo& f : monthFiles(folder)) total += f.size();
  return total;
}

bool isCorruption(const QSqlError& e) {
  const int code = e.nativeErrorCode().toInt() & 0xFF;
  return code == 11 || code == 26;  // SQLITE_CORRUPT, SQLITE_NOTADB
}

QString setAside(const QString& path) {
  const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
  QString target = path + QStringLiteral(".corrupt-") + stamp;
  for (int i = 2; QFile::exists(target); ++i) target = path + QStringLiteral(".corrupt-%1-%2").arg(stamp).arg(i);
  if (!QFile::rename(path, target))
    throw ArchiveError(QStringLiteral("无法移开损坏的长期记录文件 %1").arg(QDir::toNativeSeparators(path)).toStdString());
  // The logs belong to the damaged file: replayed into a new file of the same name they would
  // do harm, so they go with it.
  for (const char* ext : {"-wal", "-shm"}) {
    const QString side = path + QLatin1String(ext);
    if (QFile::exists(side) && !QFile::rename(side, target + QLatin1String(ext))) QFile::remove(side);
  }
  return target;
}

ArchiveDb::ArchiveDb(const QString& path, bool create, int busyTimeoutMs, bool check)
    : path_(path), name_(QStringLiteral("archive-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
  try {
    open(create, busyTimeoutMs, check);
  } catch (...) {
    { QSqlDatabase::database(name_, false).close(); }
    QSqlDatabase::removeDatabase(name_);
    throw;
  }
}

ArchiveDb::~ArchiveDb() {
  { QSqlDatabase::database(name_, false).close(); }
  QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase ArchiveDb::db() const { return QSqlDatabase::database(name_, false); }

void ArchiveDb::fail(const QString& step, const QSqlError& e) const {
  const QString text = QStringLiteral("%1 %2：%3").arg(step, QDir::toNativeSeparators(path_), e.text());
  if (isCorruption(e)) throw ArchiveCorrupt(text.toStdString());
  throw ArchiveError(text.toStdString());
}

void ArchiveDb::open(bool create, int busyTimeoutMs, bool check) {
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
  QUrl uri = QUrl::fromLocalFile(path_);
  uri.setQuery(create ? QStringLiteral("mode=rwc") : QStringLiteral("mode=rw"));
  db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
  db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
  if (!db.open()) fail(QStringLiteral("无法打开长期记录文件"), db.lastError());
  QSqlQuery q(db);
  // The first read of the file: a file that is no database fails here.
  if (!q.exec(QStringLiteral("PRAGMA schema_version")) || !q.next()) fail(QStringLiteral("无法读取长期记录文件"), q.lastError());
  const bool fresh = q.value(0).toInt() == 0;
  if (check && !fresh) {
    if (!q.exec(QStringLiteral("PRAGMA quick_check(1)")) || !q.next()) fail(QStringLiteral("无法检查长期记录文件"), q.lastError());
    if (q.value(0).toString() != QLatin1String("ok"))
      throw ArchiveCorrupt(QStringLiteral("长期记录文件损坏 %1：%2")
                               .arg(QDir::toNativeSeparators(path_), q.value(0).toString())
                               .toStdString());
  }
  q.finish();
  if (!create) return;
  // Incremental vacuum lets pruning (and the end of a month's staging rows) give their space
  // back to the disk; it must be chosen before the first table. WAL: a run is one small append, and readers on other
  // threads never wait for the writer.
  // Pages stay at SQLite's 4 KiB: a day's block of a unit (about 9 KiB) then lies in full
  // overflow pages, where larger pages would hold one block each and leave the rest empty.
  if (fresh && !q.exec(QStringLiteral("PRAGMA auto_vacuum = INCREMENTAL")))
    fail(QStringLiteral("无法建立长期记录文件"), q.lastError());
  if (!q.exec(QStringLiteral("PRAGMA journal_mode = WAL"))) fail(QStringLiteral("无法建立长期记录文件"), q.lastError());
  q.finish();
  if (!q.exec(QStringLiteral("PRAGMA journal_size_limit = 4194304"))) fail(QStringLiteral("无法建立长期记录文件"), q.lastError());
  q.finish();
  if (!q.exec(QStringLiteral("PRAGMA synchronous = NORMAL"))) fail(QStringLiteral("无法建立长期记录文件"), q.lastError());
  for (const char* sql : kSchema)
    if (!q.exec(QLatin1String(sql))) fail(QStringLiteral("无法建立长期记录表"), q.lastError());
}

}  // namespace archive
