#include "discharge/core/SettingsDb.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>
#include <QVariant>
#include <climits>

namespace discharge {

namespace {

/// One connection for the life of the object, closed and removed after.
class Connection {
 public:
  explicit Connection(const QString& file)
      : name_(QStringLiteral("discharge-settings-") + QUuid::createUuid().toString(QUuid::WithoutBraces)) {
    const QString path = QDir::current().absoluteFilePath(file);
    QString why;
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
      QUrl uri = QUrl::fromLocalFile(path);
      uri.setQuery(QStringLiteral("mode=rw"));  // db1.mdb is made by its own script, never here
      db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
      db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"));
      if (!db.open()) why = db.lastError().text();
    }
    if (!why.isEmpty()) {
      close();
      throw SettingsDbError(QStringLiteral("无法打开数据库 %1：%2").arg(QDir::toNativeSeparators(path), why).toStdString());
    }
  }
  ~Connection() { close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }

 private:
  void close() {
    { QSqlDatabase::database(name_, false).close(); }
    QSqlDatabase::removeDatabase(name_);
  }
  QString name_;
};

[[noreturn]] void fail(const QString& step, const QString& why) {
  throw SettingsDbError(QStringLiteral("%1：%2").arg(step, why).toStdString());
}

}  // namespace

Settings loadSettings(const QString& dbFile, QStringList* problems) {
  Connection c(dbFile);
  QSqlQuery q(c.db());
  // A statement that cannot be prepared (the file locked, not a database) says why here;
  // unchecked, the execution would only report a parameter count mismatch.
  if (!q.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = ?")))
    fail(QStringLiteral("无法读取放电设置"), q.lastError().text());
  q.addBindValue(QStringLiteral("dischargeSetting"));
  if (!q.exec() || !q.next()) fail(QStringLiteral("无法读取放电设置"), q.lastError().text());
  if (q.value(0).toInt() == 0) return {};
  if (!q.exec(QStringLiteral("SELECT thresholdMv, marginMv, endMv, maxMinutes FROM dischargeSetting LIMIT 1")))
    fail(QStringLiteral("无法读取放电设置"), q.lastError().text());
  if (!q.next()) return {};
  Settings s;
  int* const fields[kSettingCount] = {&s.thresholdMv, &s.marginMv, &s.endMv, &s.maxMinutes};
  QStringList seen;
  bool whole = true;
  for (int i = 0; i < kSettingCount; ++i) {
    const QVariant v = q.value(i);
    seen << v.toString();
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    // Only a whole number in int range counts; a text or a fraction another program stored does not.
    if (v.isNull() || !ok || n < INT_MIN || n > INT_MAX || v.toString() != QString::number(n)) whole = false;
    else *fields[i] = static_cast<int>(n);
  }
  try {
    if (!whole) throw SettingError("not whole numbers");
    checkSettings(s);
  } catch (const SettingError&) {
    if (problems)
      problems->append(QStringLiteral("dischargeSetting = (%1) is no valid set of settings; the defaults are taken")
                           .arg(seen.join(QStringLiteral(", "))));
    return {};
  }
  return s;
}

void saveSettings(const QString& dbFile, const Settings& settings) {
  checkSettings(settings);
  Connection c(dbFile);
  QSqlDatabase db = c.db();
  QSqlQuery q(db);
  if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS dischargeSetting (thresholdMv integer, marginMv integer, "
                             "endMv integer, maxMinutes integer)")))
    fail(QStringLiteral("无法建立放电设置表"), q.lastError().text());
  if (!db.transaction()) fail(QStringLiteral("无法保存放电设置"), db.lastError().text());
  bool ok = q.exec(QStringLiteral("DELETE FROM dischargeSetting"));
  if (ok) {
    ok = q.prepare(QStringLiteral("INSERT INTO dischargeSetting (thresholdMv, marginMv, endMv, maxMinutes) VALUES (?, ?, ?, ?)"));
    if (ok)
      for (int v : {settings.thresholdMv, settings.marginMv, settings.endMv, settings.maxMinutes}) q.addBindValue(v);
    ok = ok && q.exec();
  }
  if (!ok || !db.commit()) {
    const QString why = q.lastError().isValid() ? q.lastError().text() : db.lastError().text();
    db.rollback();
    fail(QStringLiteral("无法保存放电设置"), why);
  }
}

}  // namespace discharge
