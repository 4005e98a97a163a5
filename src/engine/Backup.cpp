#include "engine/Backup.h"

#include <sqlite3.h>

#include <cstdio>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include "engine/DatabaseFile.h"
#include "engine/DirectStatements.h"
#include "engine/EngineError.h"
#include "engine/FailureText.h"

namespace engine {

namespace {

/// A Qt SQL connection of its own, removed again when done.
class ScopedConnection {
 public:
  ScopedConnection() : name_(QStringLiteral("cs_backup_") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}
  ~ScopedConnection() {
    if (!QSqlDatabase::contains(name_)) return;
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
  }
  ScopedConnection(const ScopedConnection&) = delete;
  ScopedConnection& operator=(const ScopedConnection&) = delete;
  const QString& name() const { return name_; }
  QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }

 private:
  QString name_;
};

void removeWithSideFiles(const QString& path) {
  for (const QString& suffix : {QString(), QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")})
    QFile::remove(path + suffix);
}


/// Copies every page of `from` into the new file `partial` with SQLite's online backup, in one
/// step: one read transaction, so the copy is the file as committed when the step began
/// (against VACUUM INTO, which rebuilds every table: a tenth less CPU for the copy, bench_backup).
QString copyPages(const QSqlDatabase& from, const QString& partial) {
  ScopedConnection to;
  QSqlDatabase target = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), to.name());
  target.setDatabaseName(partial);
  if (!target.open()) return errorText(target.lastError());
  sqlite3* source = sqliteHandle(from);
  sqlite3* copy = sqliteHandle(target);
  if (!source || !copy) return QStringLiteral("no SQLite connection behind the Qt SQL driver");
  sqlite3_backup* backup = sqlite3_backup_init(copy, "main", source, "main");
  if (!backup) return QString::fromUtf8(sqlite3_errmsg(copy));
  // A lock that keeps the step from starting is waited for as long as a writer would wait.
  QDeadlineTimer deadline(kLockWaitMs);
  int rc = SQLITE_OK;
  while ((rc = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    if (deadline.hasExpired()) break;
    sqlite3_sleep(20);
  }
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) return QString::fromUtf8(sqlite3_errstr(rc));
  // The copy carries the source's write-ahead-log mark: made a plain file again, it opens on
  // its own anywhere, read-only too, and leaves no side files.
  QSqlQuery q(target);
  if (!q.exec(QStringLiteral("PRAGMA journal_mode=DELETE")) || !q.next() ||
      q.value(0).toString().compare(QLatin1String("delete"), Qt::CaseInsensitive) != 0)
    return QStringLiteral("cannot leave the write-ahead log in the copy: ") + errorText(q.lastError());
  return {};
}

}  // namespace

QString integrityCheck(const QString& path) {
  ScopedConnection c;
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), c.name());
  QUrl uri = QUrl::fromLocalFile(path);
  uri.setQuery(QStringLiteral("mode=ro"));
  db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
  db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kLockWaitMs));
  if (!db.open()) return errorText(db.lastError());
  QSqlQuery q(db);
  if (!q.exec(QStringLiteral("PRAGMA integrity_check"))) return errorText(q.lastError());
  QStringList findings;
  while (q.next()) findings << q.value(0).toString();
  return findings.join(QLatin1Char('\n'));
}

QString backupDatabase(const QString& sourcePath, const QString& targetPath) {
  const QString source = QFileInfo(sourcePath).absoluteFilePath();
  const QString target = QFileInfo(targetPath).absoluteFilePath();
  if (source == target) return QStringLiteral("备份文件不能是数据库本身：%1").arg(QDir::toNativeSeparators(target));
  const QFileInfo targetInfo(target);
  if (!targetInfo.dir().exists())
    return QStringLiteral("备份目录不存在：%1").arg(QDir::toNativeSeparators(targetInfo.absolutePath()));
  const QString partial = targetInfo.dir().filePath(QStringLiteral(".%1.part-%2")
                                                        .arg(targetInfo.fileName(),
                                                             QUuid::createUuid().toString(QUuid::Id128).left(8)));
  QString failure;
  {
    ScopedConnection c;
    try {
      // The station's own opening: never creates the source, waits for a writer's lock.
      openDatabaseFile(c.name(), source);
      failure = copyPages(c.db(), partial);
    } catch (const EDatabaseError& e) {
      failure = e.engineText();
    }
  }
  if (failure.isEmpty()) {
    const QString check = integrityCheck(partial);
    if (check != QLatin1String("ok")) failure = QStringLiteral("integrity_check of the copy: ") + check;
  }
  if (failure.isEmpty()) {
    // rename(2) replaces an existing target in one step: it is never missing or half written.
    if (::rename(QFile::encodeName(partial).constData(), QFile::encodeName(target).constData()) != 0)
      failure = QStringLiteral("cannot write '%1'").arg(QDir::toNativeSeparators(target));
  }
  if (failure.isEmpty()) return {};
  removeWithSideFiles(partial);
  return QStringLiteral("数据库备份失败（%1）：%2").arg(QDir::toNativeSeparators(target), failureText(failure));
}

}  // namespace engine
