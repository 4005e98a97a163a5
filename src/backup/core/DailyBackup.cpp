#include "backup/core/DailyBackup.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "engine/Backup.h"

namespace backup {

DailyBackup::DailyBackup(QString stationFolder, int keep)
    : folder_(std::move(stationFolder)),
      backups_(QDir(folder_).filePath(QLatin1String(kBackupFolder))),
      keep_(keep < 1 ? 1 : keep) {}

QString DailyBackup::fileFor(const QDate& day) const {
  return QDir(backups_).filePath(QStringLiteral("db1-%1.mdb").arg(day.toString(QStringLiteral("yyyyMMdd"))));
}

bool DailyBackup::due(const QDate& day) const { return !QFileInfo::exists(fileFor(day)); }

DailyBackup::Result DailyBackup::run(const QDate& day) {
  Result result;
  if (!due(day)) return result;
  if (!QDir().mkpath(backups_)) {
    result.failures << QStringLiteral("无法建立备份目录 %1").arg(QDir::toNativeSeparators(backups_));
    return result;
  }
  const QString failure = engine::backupDatabase(QDir(folder_).filePath(QStringLiteral("db1.mdb")), fileFor(day));
  if (!failure.isEmpty()) {
    result.failures << failure;
    return result;
  }
  result.written = true;
  // Names sort by date; anything else in the folder is the operator's and stays.
  static const QRegularExpression dated(QStringLiteral("^db1-\\d{8}\\.mdb$"));
  QStringList backups;
  for (const QString& name : QDir(backups_).entryList(QDir::Files, QDir::Name))
    if (dated.match(name).hasMatch()) backups << name;
  for (qsizetype i = 0; i + keep_ < backups.size(); ++i) {
    if (!QFile::remove(QDir(backups_).filePath(backups.at(i))))
      result.failures << QStringLiteral("无法删除旧备份 %1").arg(QDir::toNativeSeparators(QDir(backups_).filePath(backups.at(i))));
  }
  return result;
}

}  // namespace backup
