#pragma once
// The station's automatic daily backup: backup/db1-YYYYMMDD.mdb in the station folder, one a
// day, the newest 14 kept, each checked whole after writing (see engine::backupDatabase).
#include <QDate>
#include <QString>
#include <QStringList>

namespace backup {

inline constexpr int kKeptBackups = 14;
inline constexpr char kBackupFolder[] = "backup";

class DailyBackup {
 public:
  /// `stationFolder` holds db1.mdb; the backups go into its folder backup/ (made when missing).
  explicit DailyBackup(QString stationFolder, int keep = kKeptBackups);

  /// The file the backup of `day` goes to.
  QString fileFor(const QDate& day) const;
  /// True when `day` has no backup yet.
  bool due(const QDate& day) const;

  struct Result {
    bool written = false;  ///< a backup of `day` was written now
    QStringList failures;  ///< for the operator (event, log, one box); empty when all went well
  };
  /// Writes the backup of `day` when it is due, then removes the oldest backups beyond the
  /// number kept. Only files named db1-YYYYMMDD.mdb are counted or removed. Runs a whole
  /// copy of the database: call it off the window's thread.
  Result run(const QDate& day);

 private:
  QString folder_;
  QString backups_;
  int keep_;
};

}  // namespace backup
