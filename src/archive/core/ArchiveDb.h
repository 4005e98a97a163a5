#pragma once
// The archive's files: one SQLite file per UTC month in the archive folder, named YYYY-MM.sqlite,
// and the connection to one of them. A connection belongs to the thread that opened it.
//
// Tables of a month file:
//   block      (unit, day, firstMs, lastMs, runs, data): closed blocks, zstd-packed (BlockCodec)
//   staging    (seq, unit, day, timeMs, data): runs of blocks still open, one row each
//   daySummary (unit, day, cell, minMv, meanUv, maxMv, samples): per unit, UTC day and cell
//              (0 = the total) over the closed blocks; view daySummaryVolts shows it in volts
//              with the date as text.
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <vector>

#include "archive/core/ArchiveTypes.h"

namespace archive {

/// The folder's month files, oldest first (other files are not the archive's).
std::vector<QFileInfo> monthFiles(const QString& folder);
/// "2026-12.sqlite" for a time in December 2026 (UTC).
QString monthFileName(qint64 timeMs);
/// The UTC span [first, end) of a month file by its name; false for another name.
bool monthSpan(const QString& fileName, qint64* firstMs, qint64* endMs);
/// Bytes the archive's month files take (their write-ahead logs, kept below 4 MiB after each
/// checkpoint, are not counted).
qint64 archiveBytes(const QString& folder);

/// SQLite's "file is damaged" and "not a database".
bool isCorruption(const QSqlError& e);

/// A damaged file (and its -wal and -shm) renamed to NAME.corrupt-<UTC time>; returns the new
/// name, or throws ArchiveError when it cannot be renamed.
QString setAside(const QString& path);

class ArchiveDb {
 public:
  /// Opens (and with `create` makes, with its tables) a month file. Throws ArchiveError;
  /// `corrupt()` then says whether the file is damaged. `check` runs SQLite's quick check.
  ArchiveDb(const QString& path, bool create, int busyTimeoutMs, bool check);
  ~ArchiveDb();
  ArchiveDb(const ArchiveDb&) = delete;
  ArchiveDb& operator=(const ArchiveDb&) = delete;

  QSqlDatabase db() const;
  const QString& path() const { return path_; }
  /// Throws ArchiveError("<step>: <why>"), marking a damaged file.
  [[noreturn]] void fail(const QString& step, const QSqlError& e) const;

 private:
  void open(bool create, int busyTimeoutMs, bool check);
  QString path_;
  QString name_;
};


}  // namespace archive
