#include "health/core/HealthDb.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>
#include <cmath>

#include "engine/DatabaseFile.h"
#include "engine/EngineError.h"
#include "store/core/Statements.h"

namespace health {

namespace {

const char* const kLimitColumns[kLimitCount] = {"cellLow", "cellHigh", "totalLow", "totalHigh", "spreadHigh"};

QVariant optionalValue(const std::optional<double>& v) {
  return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::Double));
}

}  // namespace

HealthDb::HealthDb(const QString& file, int maxEvents)
    : file_(QDir::current().absoluteFilePath(file)),
      name_(QStringLiteral("health-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      maxEvents_(maxEvents) {}

HealthDb::~HealthDb() {
  if (!QSqlDatabase::contains(name_)) return;
  if (opened_) engine::closeDatabaseFile(name_, *opened_);
  { QSqlDatabase::database(name_, false).close(); }
  QSqlDatabase::removeDatabase(name_);
}

void HealthDb::fail(const QString& step, const QString& why) {
  throw HealthDbError(QStringLiteral("%1：%2").arg(step, why).toStdString());
}

void HealthDb::open() {
  // Opened as the engine opens the file: one lock wait, the same journal, and the file's
  // identity kept, so a db1.mdb replaced meanwhile (a restore, a sync tool) is opened afresh
  // instead of written to where it was.
  if (opened_ && QSqlDatabase::contains(name_) && QSqlDatabase::database(name_, false).isOpen()) {
    if (!engine::replaced(*opened_)) return;
    engine::closeDatabaseFile(name_, *opened_);
  }
  opened_.reset();
  try {
    opened_ = engine::openDatabaseFile(name_, file_);
  } catch (const engine::EDatabaseError& e) {
    fail(QStringLiteral("无法打开数据库 %1").arg(QDir::toNativeSeparators(file_)), QString::fromUtf8(e.what()));
  }
  tablesReady_ = false;
}

void HealthDb::letGoIfReplaced() noexcept {
  if (!opened_ || !QSqlDatabase::contains(name_) || !engine::replaced(*opened_)) return;
  engine::closeDatabaseFile(name_, *opened_);
  opened_.reset();
}

void HealthDb::ensureTables() {
  open();
  if (tablesReady_) return;
  QSqlQuery q(QSqlDatabase::database(name_, false));
  for (const QString& sql :
       {QStringLiteral("CREATE TABLE IF NOT EXISTS alarmLimit (cellLow double, cellHigh double, totalLow double, "
                       "totalHigh double, spreadHigh double)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS event (id INTEGER PRIMARY KEY AUTOINCREMENT, eventTime text, "
                       "unit integer, cell integer, value double, kind text, detail text)")}) {
    if (!q.exec(sql)) fail(QStringLiteral("无法建立报警表"), q.lastError().text());
  }
  tablesReady_ = true;
}

Limits HealthDb::loadLimits(QStringList* problems) {
  open();
  QSqlDatabase db = QSqlDatabase::database(name_, false);
  QSqlQuery q(db);
  if (!q.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = ?")))
    fail(QStringLiteral("无法读取报警设置"), q.lastError().text());
  q.addBindValue(QStringLiteral("alarmLimit"));
  if (!q.exec() || !q.next()) fail(QStringLiteral("无法读取报警设置"), q.lastError().text());
  Limits limits;
  if (q.value(0).toInt() == 0) return limits;
  if (!q.exec(QStringLiteral("SELECT cellLow, cellHigh, totalLow, totalHigh, spreadHigh FROM alarmLimit LIMIT 1")))
    fail(QStringLiteral("无法读取报警设置"), q.lastError().text());
  if (!q.next()) return limits;
  for (int i = 0; i < kLimitCount; ++i) {
    const QVariant v = q.value(i);
    if (v.isNull()) continue;
    // Another program may have written anything here; only a plain non-negative number counts.
    bool ok = false;
    const double volts = v.toDouble(&ok);
    Limits one;
    one[kAllLimits[static_cast<std::size_t>(i)]] = volts;
    try {
      if (!ok) throw LimitError("not a number");
      checkLimits(one);
    } catch (const LimitError&) {
      if (problems) problems->append(QStringLiteral("alarmLimit.%1 = '%2' is no valid limit; taken as off")
                                         .arg(QString::fromLatin1(kLimitColumns[i]), v.toString()));
      continue;
    }
    limits[kAllLimits[static_cast<std::size_t>(i)]] = volts;
  }
  // A low limit at or above its high limit cannot have come from the dialog; both go off.
  try {
    checkLimits(limits);
  } catch (const LimitError& e) {
    if (problems) problems->append(QStringLiteral("alarmLimit: %1; all limits taken as off").arg(QString::fromUtf8(e.what())));
    return Limits{};
  }
  return limits;
}

void HealthDb::saveLimits(const Limits& limits) {
  ensureTables();
  QSqlDatabase db = QSqlDatabase::database(name_, false);
  if (!db.transaction()) fail(QStringLiteral("无法保存报警设置"), db.lastError().text());
  QSqlQuery q(db);
  bool ok = q.exec(QStringLiteral("DELETE FROM alarmLimit"));
  if (ok) {
    ok = q.prepare(QStringLiteral("INSERT INTO alarmLimit (cellLow, cellHigh, totalLow, totalHigh, spreadHigh) "
                                  "VALUES (?, ?, ?, ?, ?)"));
    if (ok) {
      for (Limit l : kAllLimits) q.addBindValue(optionalValue(limits[l]));
      ok = q.exec();
    }
  }
  if (!ok || !db.commit()) {
    const QString why = q.lastError().isValid() ? q.lastError().text() : db.lastError().text();
    db.rollback();
    fail(QStringLiteral("无法保存报警设置"), why);
  }
}

void HealthDb::append(const std::vector<Event>& events) {
  if (events.empty()) return;
  ensureTables();
  QSqlDatabase db = QSqlDatabase::database(name_, false);
  if (!db.transaction()) fail(QStringLiteral("无法写入事件记录"), db.lastError().text());
  QSqlQuery q(db);
  bool ok = q.prepare(QStringLiteral("INSERT INTO event (eventTime, unit, cell, value, kind, detail) VALUES (?, ?, ?, ?, ?, ?)"));
  for (const Event& e : events) {
    if (!ok) break;
    q.addBindValue(e.time.toString(QString::fromLatin1(kEventTimeFormat)));
    q.addBindValue(e.unit);
    q.addBindValue(e.cell);
    q.addBindValue(optionalValue(e.value));
    q.addBindValue(eventText(e));
    q.addBindValue(e.detail);
    if (!(ok = q.exec())) break;
  }
  QString why;
  if (!ok) why = q.lastError().text();
  if (ok) {
    QSqlQuery prune(db);
    ok = prune.prepare(QStringLiteral("DELETE FROM event WHERE id <= (SELECT max(id) FROM event) - ?"));
    prune.addBindValue(maxEvents_);
    ok = ok && prune.exec();
    if (!ok) why = prune.lastError().text();
  }
  if (ok && !db.commit()) {
    ok = false;
    why = db.lastError().text();
  }
  if (!ok) {
    db.rollback();
    fail(QStringLiteral("无法写入事件记录"), why);
  }
}

std::vector<StoredEvent> HealthDb::events(int unit, int limit) {
  ensureTables();
  QSqlQuery q(QSqlDatabase::database(name_, false));
  QString sql = QStringLiteral("SELECT id, eventTime, unit, cell, value, kind, detail FROM event");
  if (unit) sql += QStringLiteral(" WHERE unit = ?");
  sql += QStringLiteral(" ORDER BY id DESC");
  if (limit > 0) sql += QStringLiteral(" LIMIT ?");
  if (!q.prepare(sql)) fail(QStringLiteral("无法读取事件记录"), q.lastError().text());
  if (unit) q.addBindValue(unit);
  if (limit > 0) q.addBindValue(limit);
  if (!q.exec()) fail(QStringLiteral("无法读取事件记录"), q.lastError().text());
  std::vector<StoredEvent> rows;
  while (q.next()) {
    StoredEvent e;
    e.id = q.value(0).toLongLong();
    e.time = q.value(1).toString();
    e.unit = q.value(2).toInt();
    e.cell = q.value(3).toInt();
    if (!q.value(4).isNull()) e.value = q.value(4).toDouble();
    e.kind = q.value(5).toString();
    e.detail = q.value(6).toString();
    rows.push_back(std::move(e));
  }
  return rows;
}

qint64 HealthDb::eventCount() {
  ensureTables();
  QSqlQuery q(QSqlDatabase::database(name_, false));
  if (!q.exec(QStringLiteral("SELECT count(*) FROM event")) || !q.next())
    fail(QStringLiteral("无法读取事件记录"), q.lastError().text());
  return q.value(0).toLongLong();
}

}  // namespace health
