#include "engine/DatabaseFile.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include "engine/EngineError.h"

namespace engine {

namespace {

bool anyWriteBit(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0; }

}  // namespace

std::optional<FileIdentity> identityOf(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileIdentity{static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

bool replaced(const OpenedFile& opened) { return identityOf(opened.path) != std::optional(opened.identity); }

OpenedFile openDatabaseFile(const QString& connectionName, const QString& path, Journal journal) {
  const QString shown = QDir::toNativeSeparators(path);
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
    throw EDatabaseError(QStringLiteral("Could not find file '%1'.").arg(shown));
  if (st.st_size == 0) throw EDatabaseError(QStringLiteral("'%1' is empty, not a database.").arg(shown));

  QSqlDatabase db = QSqlDatabase::contains(connectionName)
                        ? QSqlDatabase::database(connectionName, false)
                        : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
  db.close();
  // mode=rw: SQLite opens the file but never creates it.
  QUrl uri = QUrl::fromLocalFile(path);
  uri.setQuery(QStringLiteral("mode=rw"));
  db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
  db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kLockWaitMs));
  if (!db.open()) {
    const QString text = errorText(db.lastError());
    db.close();
    throw EDatabaseError(QStringLiteral("Cannot open '%1': %2").arg(shown, text));
  }
  OpenedFile opened;
  opened.path = path;
  opened.identity = FileIdentity{static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
  opened.writable = anyWriteBit(st);
  {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
      const QString text = errorText(q.lastError());
      q = QSqlQuery();
      db.close();
      throw EDatabaseError(QStringLiteral("'%1' is not a database this engine can read (%2).").arg(shown, text));
    }
    q.finish();
    // A write-ahead log lets readers (a report script, a database browser holding a
    // transaction open) read while the station commits, and a commit never rewrites pages a
    // copy is reading. The log is checkpointed every few commits (see
    // TADOConnection::setCheckpointInterval) and removed at the last close; until then it is
    // part of the database, which copies made through SQLite take along. Neither journal is essential, so a file
    // that cannot switch (read-only) still opens.
    if (opened.writable)
      q.exec(journal == Journal::Rollback ? QStringLiteral("PRAGMA journal_mode=DELETE")
                                          : QStringLiteral("PRAGMA journal_mode=WAL"));
    opened.wal = q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next() &&
                 q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    q.finish();
    // FULL: a committed run survives a power cut too.
    q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    // No memory map: every page a connection touched would stay in the process's resident
    // memory, within a day the whole file (some 50 MB at 99 units). Pages go through SQLite's
    // own bounded cache instead; a sampling run touches a few pages a table (row counts are
    // kept between runs, see WindowRun.h).
    q.exec(QStringLiteral("PRAGMA mmap_size=0"));
  }
  return opened;
}

bool checkpoint(const QString& connectionName) {
  QSqlDatabase db = QSqlDatabase::database(connectionName, false);
  if (!db.isOpen()) return false;
  QSqlQuery q(db);
  // PASSIVE: copies every frame no reader still needs, without waiting for readers or writers.
  const bool ok = q.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
  q.finish();
  return ok;
}

void closeDatabaseFile(const QString& connectionName, const OpenedFile& opened) noexcept {
  QSqlDatabase db = QSqlDatabase::database(connectionName, false);
  if (!db.isOpen()) return;
  if (opened.wal) {
    QSqlQuery q(db);
    q.exec(QStringLiteral("ROLLBACK"));  // fails harmlessly when no transaction is open
    q.exec(replaced(opened) ? QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")
                            : QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
  }
  db.close();
}

}  // namespace engine
