#include "engine/DirectStatements.h"

#include <sqlite3.h>

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include "engine/EngineError.h"

namespace engine {

sqlite3* sqliteHandle(const QSqlDatabase& db) {
  const QVariant v = db.driver()->handle();
  if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0) return nullptr;
  return *static_cast<sqlite3* const*>(v.constData());
}

void DirectStatements::attach(sqlite3* db) noexcept {
  clear();
  db_ = db;
}

void DirectStatements::clear() noexcept {
  for (sqlite3_stmt* st : std::as_const(kept_)) sqlite3_finalize(st);
  kept_.clear();
  db_ = nullptr;
}

sqlite3_stmt* DirectStatements::get(const QString& text) {
  if (!db_) throw EDatabaseError(QStringLiteral("The connection is not open."));
  if (sqlite3_stmt* st = kept_.value(text)) {
    sqlite3_clear_bindings(st);
    return st;
  }
  const QByteArray utf8 = text.toUtf8();
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v3(db_, utf8.constData(), int(utf8.size()), SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    throw EDatabaseError(QString::fromUtf8(sqlite3_errmsg(db_)));
  }
  kept_.insert(text, st);
  return st;
}

namespace {

// Steps once; SQLITE_ROW or SQLITE_DONE, else throws (the statement reset).
int stepOnce(sqlite3* db, sqlite3_stmt* st) {
  const int rc = sqlite3_step(st);
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) return rc;
  // The message before the reset: the reset may replace it.
  const QString text = QString::fromUtf8(sqlite3_errmsg(db));
  sqlite3_reset(st);
  throw EDatabaseError(text);
}

}  // namespace

void DirectStatements::run(sqlite3_stmt* st) {
  while (stepOnce(db_, st) == SQLITE_ROW) {
  }
  sqlite3_reset(st);
}

std::optional<long long> DirectStatements::integer(sqlite3_stmt* st) {
  std::optional<long long> value;
  if (stepOnce(db_, st) == SQLITE_ROW) value = sqlite3_column_int64(st, 0);
  sqlite3_reset(st);
  return value;
}

int DirectStatements::changes() const { return db_ ? sqlite3_changes(db_) : 0; }

}  // namespace engine
