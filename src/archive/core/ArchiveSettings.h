#pragma once
// How long and how much the archive keeps, as the operator sets it (table archiveSetting in
// db1.mdb, one row, made with the defaults when missing), and the free space check.
#include <QString>
#include <QStringList>

namespace archive {

inline constexpr qint64 kMiB = 1024 * 1024;

struct Retention {
  int yearsKept = 10;                    // the operator's range: 1..100
  qint64 sizeLimitBytes = 20480 * kMiB;  // the operator's range: 100 MiB .. 100 TiB, whole MiB
};

/// The stored settings; the table is made with the defaults when db1.mdb has none. A stored
/// value out of range is taken as its default, with a line in `problems`. Throws ArchiveError
/// (the database cannot be opened: db1.mdb is never created here).
Retention loadRetention(const QString& dbFile, QStringList* problems = nullptr);
/// Throws ArchiveError with the text for the operator when a value is out of range or the
/// database refuses; the stored settings then stay as they were.
void saveRetention(const QString& dbFile, const Retention& retention);
/// The reason a setting is refused, or an empty text.
QString checkRetention(const Retention& retention);

/// The archive warns below this much free space on the disk of the station folder.
inline constexpr qint64 kLowDiskBytes = qint64(1) << 30;

struct DiskSpace {
  qint64 freeBytes = -1;  // -1: unknown
  bool low = false;
  QString text;           // for the event record and the notice when low
};
DiskSpace checkDiskSpace(const QString& folder, qint64 threshold = kLowDiskBytes);

}  // namespace archive
