#include "engine/DatabaseFile.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlDriver>
#include <QUrl>
#include <map>
#include <mutex>

#include "engine/EngineError.h"

namespace engine {

namespace {

bool anyWriteBit(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0; }

// The files this process holds open, by identity: how many connections each, and whether the
// log of a file since replaced has been emptied already. Once one connection has emptied it,
// the others must leave the log alone: another program may be using it with the new file by then.
struct OpenFiles {
  struct Entry {
    int connections = 0;
    bool logEmptied = false;
  };
  std::mutex mutex;
  std::map<std::pair<unsigned long long, unsigned long long>, Entry> files;

  static std::pair<unsigned long long, unsigned long long> key(const FileIdentity& id) { return {id.device, id.inode}; }
  void opened(const FileIdentity& id) {
    const std::lock_guard lock(mutex);
    ++files[key(id)].connections;
  }
  void closed(const FileIdentity& id) {
    const std::lock_guard lock(mutex);
    const auto it = files.find(key(id));
    // Forgotten with the last connection: the inode number may be given to another file.
    if (it != files.end() && --it->second.connections <= 0) files.erase(it);
  }
  bool logEmptied(const FileIdentity& id) {
    const std::lock_guard lock(mutex);
    const auto it = files.find(key(id));
    return it != files.end() && it->second.logEmptied;
  }
  void setLogEmptied(const FileIdentity& id) {
    const std::lock_guard lock(mutex);
    files[key(id)].logEmptied = true;
  }
};

OpenFiles& openFiles() {
  static OpenFiles files;
  return files;
}

sqlite3* handleOf(const QSqlDatabase& db) {
  const QVariant v = db.driver()->handle();
  if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0) return nullptr;
  return *static_cast<sqlite3* const*>(v.constData());
}

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
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'setting'")) || !q.next()) {
      const QString text = errorText(q.lastError());
      q = QSqlQuery();
      db.close();
      // A file held by another program is a database all the same: say which it is.
      if (text.contains(QLatin1StringView("is locked"), Qt::CaseInsensitive))
        throw EDatabaseError(QStringLiteral("Cannot read '%1' while another program holds it: %2").arg(shown, text));
      throw EDatabaseError(QStringLiteral("'%1' is not a database this engine can read (%2).").arg(shown, text));
    }
    if (q.value(0).toInt() == 0) {
      // Another program's database under the station's name: read nothing from it, write
      // nothing into it, and leave its journal as it is.
      q = QSqlQuery();
      db.close();
      throw EDatabaseError(
          QStringLiteral("'%1' is not a station database (it has no table setting); it is left as it is.").arg(shown));
    }
    q.finish();
    // A write-ahead log lets readers (a report script, a database browser holding a
    // transaction open) read while the station commits, and a commit never rewrites pages a
    // copy is reading. The log is checkpointed after every run, so the file alone is at most
    // one run behind, and removed at the last close. Neither journal is essential, so a file
    // that cannot switch (read-only) still opens.
    if (opened.writable)
      q.exec(journal == Journal::Rollback ? QStringLiteral("PRAGMA journal_mode=DELETE")
                                          : QStringLiteral("PRAGMA journal_mode=WAL"));
    opened.wal = q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next() &&
                 q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    q.finish();
    // FULL: a committed run survives a power cut too.
    q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    // A day of samples for 99 units is some 50 MB that every run walks (row counts, the
    // oldest rows): reading it through a memory map costs no copy and no private memory.
    q.exec(QStringLiteral("PRAGMA mmap_size=1073741824"));
  }
  openFiles().opened(opened.identity);
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
    if (!replaced(opened)) {
      q.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
    } else {
      // The log and its index are found by the path, so a program opening the new file reads
      // them too: the old file's frames must go at once (TRUNCATE, by the first of our
      // connections to let go), and no later close may checkpoint or remove them, which would
      // take the new file's frames, once another program writes them, into the old file.
      if (!openFiles().logEmptied(opened.identity) &&
          q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) && q.next() && q.value(0).toInt() == 0)
        openFiles().setLogEmptied(opened.identity);
      q.finish();
      if (sqlite3* handle = handleOf(db)) sqlite3_db_config(handle, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
  }
  db.close();
  openFiles().closed(opened.identity);
}

}  // namespace engine
