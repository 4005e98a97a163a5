#include "archive/core/ArchiveSettings.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QUrl>
#include <QUuid>
#include <QVariant>
#include <algorithm>

#include "archive/core/ArchiveTypes.h"

namespace archive {

namespace {

constexpr int kMinYears = 1, kMaxYears = 100;
constexpr qint64 kMinMb = 100, kMaxMb = 100000000;
constexpr qint64 kDefaultMb = 20480;

// One connection for one call: settings are read at start and written from a dialog.
class SettingsDb {
 public:
  explicit SettingsDb(const QString& file)
      : file_(QDir::current().absoluteFilePath(file)),
        name_(QStringLiteral("archive-settings-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    QUrl uri = QUrl::fromLocalFile(file_);
    uri.setQuery(QStringLiteral("mode=rw"));
    db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) fail(QStringLiteral("无法打开数据库"), db.lastError());
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS archiveSetting (yearsKept integer, sizeLimitMb integer)")))
      fail(QStringLiteral("无法建立长期记录设置表"), q.lastError());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM archiveSetting")) || !q.next())
      fail(QStringLiteral("无法读取长期记录设置"), q.lastError());
    if (q.value(0).toInt() == 0) {
      q.prepare(QStringLiteral("INSERT INTO archiveSetting (yearsKept, sizeLimitMb) VALUES (?, ?)"));
      q.addBindValue(Retention{}.yearsKept);
      q.addBindValue(kDefaultMb);
      if (!q.exec()) fail(QStringLiteral("无法建立长期记录设置表"), q.lastError());
    }
  }
  ~SettingsDb() {
    { QSqlDatabase::database(name_, false).close(); }
    QSqlDatabase::removeDatabase(name_);
  }
  SettingsDb(const SettingsDb&) = delete;
  SettingsDb& operator=(const SettingsDb&) = delete;
  QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }
  [[noreturn]] void fail(const QString& step, const QSqlError& e) const {
    throw ArchiveError(QStringLiteral("%1 %2：%3").arg(step, QDir::toNativeSeparators(file_), e.text()).toStdString());
  }

 private:
  QString file_;
  QString name_;
};

}  // namespace

QString checkRetention(const Retention& r) {
  if (r.yearsKept < kMinYears || r.yearsKept > kMaxYears)
    return QStringLiteral("保存年限须在 %1 到 %2 年之间").arg(kMinYears).arg(kMaxYears);
  if (r.sizeLimitBytes < kMinMb * kMiB || r.sizeLimitBytes > kMaxMb * kMiB || r.sizeLimitBytes % kMiB)
    return QStringLiteral("容量上限须在 %1 MB 到 %2 MB 之间").arg(kMinMb).arg(kMaxMb);
  return {};
}

Retention loadRetention(const QString& dbFile, QStringList* problems) {
  SettingsDb s(dbFile);
  QSqlQuery q(s.db());
  if (!q.exec(QStringLiteral("SELECT yearsKept, sizeLimitMb FROM archiveSetting LIMIT 1")) || !q.next())
    s.fail(QStringLiteral("无法读取长期记录设置"), q.lastError());
  Retention r;
  const Retention defaults;
  bool ok = false;
  const qlonglong years = q.value(0).toLongLong(&ok);
  r.yearsKept = ok ? int(std::clamp<qlonglong>(years, -1, 1000)) : -1;
  if (checkRetention({r.yearsKept, defaults.sizeLimitBytes}).size()) {
    if (problems) problems->append(QStringLiteral("archiveSetting.yearsKept = '%1' is out of range; taken as %2")
                                       .arg(q.value(0).toString()).arg(defaults.yearsKept));
    r.yearsKept = defaults.yearsKept;
  }
  const qlonglong mb = q.value(1).toLongLong(&ok);
  r.sizeLimitBytes = std::clamp<qlonglong>(mb, 0, kMaxMb + 1) * kMiB;
  if (!ok || checkRetention({defaults.yearsKept, r.sizeLimitBytes}).size()) {
    if (problems) problems->append(QStringLiteral("archiveSetting.sizeLimitMb = '%1' is out of range; taken as %2")
                                       .arg(q.value(1).toString()).arg(kDefaultMb));
    r.sizeLimitBytes = defaults.sizeLimitBytes;
  }
  return r;
}

void saveRetention(const QString& dbFile, const Retention& r) {
  const QString why = checkRetention(r);
  if (!why.isEmpty()) throw ArchiveError(why.toStdString());
  SettingsDb s(dbFile);
  QSqlQuery q(s.db());
  q.prepare(QStringLiteral("UPDATE archiveSetting SET yearsKept = ?, sizeLimitMb = ?"));
  q.addBindValue(r.yearsKept);
  q.addBindValue(r.sizeLimitBytes / kMiB);
  if (!q.exec()) s.fail(QStringLiteral("无法保存长期记录设置"), q.lastError());
}

DiskSpace checkDiskSpace(const QString& folder, qint64 threshold) {
  DiskSpace d;
  QStorageInfo info(folder);
  if (!info.isValid()) return d;
  info.refresh();
  d.freeBytes = info.bytesAvailable();
  d.low = d.freeBytes >= 0 && d.freeBytes < threshold;
  if (d.low)
    d.text = QStringLiteral("存放站点目录的磁盘只剩 %1 MB 可用空间（%2）")
                 .arg(d.freeBytes / (1024 * 1024))
                 .arg(QDir::toNativeSeparators(info.rootPath()));
  return d;
}

}  // namespace archive
