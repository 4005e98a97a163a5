#pragma once
// The one way the station opens its database file, for every connection it keeps to it (the
// engine's, the health record's): never creating it, one lock wait, the same journal, and the
// file's identity kept so that a file replaced while open (a restore, a sync tool renaming a
// copy into place) is noticed instead of written into the unlinked one.
#include <QString>
#include <optional>

namespace engine {

/// How long a writer waits for another program's lock before it gives up with "database is
/// locked". Readers never wait in a write-ahead log.
inline constexpr int kLockWaitMs = 5000;

/// Which file a path names: device and inode.
struct FileIdentity {
  unsigned long long device = 0;
  unsigned long long inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

/// The identity of the regular file at `path` now; none when there is none.
std::optional<FileIdentity> identityOf(const QString& path);

/// How commits reach the file. Wal (the default): through the write-ahead log db1.mdb-wal,
/// so a reader holding a read transaction never blocks a commit; the log is copied into the
/// file after outermost commits (TADOConnection::setCheckpointInterval) and removed when the
/// last connection closes. Rollback:
/// each commit rewrites pages of the file itself (kept for comparison in the benchmarks).
enum class Journal { Wal, Rollback };

struct OpenedFile {
  QString path;            ///< absolute
  FileIdentity identity;   ///< of the file opened
  bool writable = false;   ///< the file has a write bit (the read-only attribute is honoured)
  bool wal = false;        ///< commits go through the write-ahead log
};

/// Opens the existing SQLite file `path` (absolute) on the Qt SQL connection `connectionName`
/// (added when missing, closed first when open) and reads its schema, which tells a database
/// from any other file before anything is written. Switches the journal to `journal` when the
/// file can be written (a file another program holds in WAL mode stays so). Throws
/// EDatabaseError naming the file: missing, empty, not a database, cannot be opened; the
/// connection is then closed and the file untouched.
OpenedFile openDatabaseFile(const QString& connectionName, const QString& path, Journal journal = Journal::Wal);

/// True when `path` no longer names the file opened (gone, or another file in its place).
bool replaced(const OpenedFile& opened);

/// Copies what the write-ahead log holds into the file, without waiting for readers (what a
/// reader's snapshot still needs stays for a later checkpoint). Nothing for a rollback journal.
/// Returns false when the checkpoint could not run.
bool checkpoint(const QString& connectionName);

/// Closes the connection opened with openDatabaseFile: an open transaction is rolled back and
/// the write-ahead log copied into the file first. A file replaced meanwhile gets its log
/// emptied (TRUNCATE, waiting for readers up to the lock wait): the log is found by the path,
/// and frames of the old file left in it would be read as part of the new one. The last
/// connection's close removes the log. Never throws.
void closeDatabaseFile(const QString& connectionName, const OpenedFile& opened) noexcept;

}  // namespace engine
