#include "engine/TADOConnection.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <atomic>

#include "engine/ConnectionString.h"
#include "engine/Dialect.h"
#include "engine/DirectStatements.h"
#include "engine/EngineError.h"
#include "engine/WindowUpkeep.h"

namespace engine {

namespace {

Q_LOGGING_CATEGORY(lcEngine, "cellstation.engine")

std::atomic<unsigned> connectionSerial{0};

ResultSet collect(QSqlQuery& q) {
  ResultSet result;
  if (!q.isSelect()) result.rowsAffected = q.numRowsAffected();
  if (q.isSelect()) {
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i) result.columns << rec.fieldName(i);
    while (q.next()) {
      std::vector<QVariant> row;
      row.reserve(static_cast<std::size_t>(rec.count()));
      for (int i = 0; i < rec.count(); ++i) row.push_back(q.value(i));
      result.rows.push_back(std::move(row));
    }
  }
  return result;
}

bool anyWriteBit(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace

TADOConnection::TADOConnection()
    : name_(QStringLiteral("cs_engine_%1").arg(connectionSerial.fetch_add(1))),
      direct_(std::make_unique<DirectStatements>()) {}

TADOConnection::~TADOConnection() {
  Close();
  QSqlDatabase::removeDatabase(name_);
}

void TADOConnection::Open() {
  if (open_) return;
  const QString source = connectionStringValue(connectionString_, QStringLiteral("Data Source"));
  if (source.isEmpty()) throw EDatabaseError(QStringLiteral("The connection string names no Data Source."));
  file_ = openDatabaseFile(name_, QDir::current().absoluteFilePath(source), journal_);
  open_ = true;
  level_ = 0;
  commitsUnsettled_ = 0;
  direct_->attach(sqliteHandle(QSqlDatabase::database(name_, false)));
  // A connection that copies its log every few commits does so alone: SQLite's own copy
  // after every 1000 pages would write the pages several runs change several times.
  if (file_.wal && checkpointInterval_ > 1) run(window::Sql{QStringLiteral("PRAGMA wal_autocheckpoint=0"), {}, false});
}

void TADOConnection::Close() noexcept {
  if (!open_) return;
  open_ = false;
  level_ = 0;
  forgetSchema();
  prepared_.clear();
  // Statements still kept would hold the handle open.
  direct_->clear();
  closeDatabaseFile(name_, file_);
}

void TADOConnection::forgetSchema() noexcept {
  verified_.clear();
  namesValid_ = false;
  rowCounts_ = {};
}

void TADOConnection::checkFile(bool writing) {
  if (replaced(file_)) {
    // Writing on would go into a file nobody will ever find again (or the wrong one).
    const bool inTransaction = level_ > 0;
    const QString path = file_.path;
    Close();  // empties the old file's log, which the new file would otherwise be read with
    Open();  // a file that has gone reports that, in the engine's own words
    if (inTransaction)
      throw EDatabaseError(QStringLiteral("'%1' was replaced while a transaction was open; the transaction's changes "
                                          "were not stored in the new file.")
                               .arg(QDir::toNativeSeparators(path)));
    return;
  }
  // The read-only attribute is honoured even for a user the system would let write anyway.
  if (writing && !anyWriteBit(file_.path)) throw EDatabaseError(QStringLiteral("attempt to write a readonly database"));
}

QStringList TADOConnection::GetTableNames() {
  Open();
  checkFile(false);
  // Any change of the schema, by any connection, moves schema_version on; only a rollback of
  // our own moves it back, and a rollback forgets the list.
  const QVariant version = run(window::Sql{QStringLiteral("PRAGMA schema_version"), {}, true}).rows.at(0).at(0);
  if (namesValid_ && version == namesVersion_) return names_;
  // sqlite_master itself is listed as the system table it is.
  const ResultSet rs =
      run(QStringLiteral("SELECT name FROM sqlite_master WHERE type IN ('table','view') ORDER BY rowid"));
  QStringList names;
  names.reserve(static_cast<qsizetype>(rs.rows.size()) + 1);
  for (const auto& row : rs.rows) names << row.at(0).toString();
  names << QStringLiteral("sqlite_master");
  names_ = names;
  namesVersion_ = version;
  namesValid_ = true;
  return names;
}

ResultSet TADOConnection::run(const QString& sql) {
  QSqlDatabase db = QSqlDatabase::database(name_, false);
  QSqlQuery q(db);
  q.setForwardOnly(true);
  if (!q.exec(sql)) throw EDatabaseError(errorText(q.lastError()));
  ResultSet result = collect(q);
  if (q.lastError().isValid()) throw EDatabaseError(errorText(q.lastError()));
  return result;
}


ResultSet TADOConnection::run(const window::Sql& sql) {
  if (!sql.keepPrepared && sql.binds.isEmpty()) return run(sql.text);
  std::shared_ptr<QSqlQuery> query = prepared_.value(sql.text);
  if (!query) {
    query = std::make_shared<QSqlQuery>(QSqlDatabase::database(name_, false));
    query->setForwardOnly(true);
    if (!query->prepare(sql.text)) throw EDatabaseError(errorText(query->lastError()));
    if (sql.keepPrepared) prepared_.insert(sql.text, query);
  }
  QSqlQuery& q = *query;
  for (qsizetype i = 0; i < sql.binds.size(); ++i) q.bindValue(static_cast<int>(i), sql.binds.at(i));
  if (!q.exec()) {
    const QString text = errorText(q.lastError());
    q.finish();
    throw EDatabaseError(text);
  }
  ResultSet result = collect(q);
  const QSqlError late = q.lastError();
  // Reset, so a kept statement holds no read lock until its next use.
  q.finish();
  if (late.isValid()) throw EDatabaseError(errorText(late));
  return result;
}


void TADOConnection::runAll(const std::vector<window::Sql>& statements) {
  if (statements.empty()) return;
  if (statements.size() == 1) {
    run(statements.front());
    return;
  }
  // Several statements stand for one: all or none.
  run(QStringLiteral("SAVEPOINT cs_statement"));
  try {
    for (const window::Sql& s : statements) run(s);
  } catch (...) {
    forgetSchema();  // the registry may have been created by what was rolled back
    try {
      run(QStringLiteral("ROLLBACK TO cs_statement"));
      run(QStringLiteral("RELEASE cs_statement"));
    } catch (const EDatabaseError&) {
      // The connection is unusable; the first error is the one worth reporting.
    }
    throw;
  }
  run(QStringLiteral("RELEASE cs_statement"));
}

QVariant TADOConnection::schemaVersion() {
  return run(window::Sql{QStringLiteral("PRAGMA schema_version"), {}, true}).rows.at(0).at(0);
}

template <typename F>
auto TADOConnection::inSavepoint(F&& work) {
  run(QStringLiteral("SAVEPOINT cs_upkeep"));
  try {
    auto result = work();
    run(QStringLiteral("RELEASE cs_upkeep"));
    return result;
  } catch (...) {
    forgetSchema();
    try {
      run(QStringLiteral("ROLLBACK TO cs_upkeep"));
      run(QStringLiteral("RELEASE cs_upkeep"));
    } catch (const EDatabaseError&) {
      // The connection is unusable; the first error is the one worth reporting.
    }
    throw;
  }
}

window::Found TADOConnection::resolve(const QString& table, bool mayRepair) {
  window::Found found;
  found.storedName = table;
  if (table.isEmpty()) return found;
  // Checked in full once per schema change (by any program) and whenever the registry has no
  // entry for the name; in between, one registry lookup.
  const QString key = table.toLower();
  const auto known = verified_.constFind(key);
  if (known != verified_.cend() && *known == schemaVersion()) {
    const ResultSet rs = run(window::lookupStatement(table));
    if (!rs.rows.empty()) {
      const auto& row = rs.rows.front();
      found.type = QStringLiteral("view");
      found.layout = window::Layout{row[0].toLongLong(), row[1].toInt(), row[2].toInt()};
      return found;
    }
  }
  const window::Runner runner = [this](const window::Sql& sql) { return run(sql); };
  try {
    found = inSavepoint([&] { return window::reconcile(table, runner); });
  } catch (const EDatabaseError&) {
    // A reader of a file it may not change still reads what is there.
    if (mayRepair) throw;
    return found;
  }
  for (const QString& r : found.repairs) qCWarning(lcEngine).noquote() << r;
  if (found.layout) verified_.insert(key, schemaVersion());
  return found;
}

std::optional<window::Layout> TADOConnection::adoptPlain(const QString& table) {
  const window::Runner runner = [this](const window::Sql& sql) { return run(sql); };
  QString why;
  long long dropped = 0;
  const std::optional<window::Layout> layout = inSavepoint([&] { return window::adopt(table, runner, why, &dropped); });
  if (layout && dropped > 0) {
    qCWarning(lcEngine).noquote() << table +
                                         QStringLiteral(": plain table taken into the windowed form with its newest "
                                                        "day (times 0 to 23.95); %1 older row(s) dropped")
                                             .arg(dropped);
  } else if (layout) {
    qCInfo(lcEngine).noquote() << table + QStringLiteral(": plain table taken into the windowed form, every row kept");
  } else if (!why.isEmpty() && !refusedAdoptions_.contains(table.toLower())) {
    refusedAdoptions_.insert(table.toLower());
    qCWarning(lcEngine).noquote() << table + QStringLiteral(": stays a plain table (") + why +
                                         QStringLiteral("); its times are snapped to 0.05 on shifts");
  }
  return layout;
}

ResultSet TADOConnection::Execute(const QString& sql) {
  Open();
  const Statement st = parseStatement(sql);
  checkFile(!st.readsOnly());
  if (observer_) observer_(sql);
  if (!st.readsOnly()) rowCounts_ = {};
  ResultSet result = executeParsed(st);
  if (!st.readsOnly()) settle();
  return result;
}

ResultSet TADOConnection::executeParsed(const Statement& st) {
  if (st.kind == Statement::Kind::CreateTable && !st.table.isEmpty() && window::hasTimeColumn(st.columns)) {
    // Hidden parts a dropped table left behind go first (resolve removes them).
    if (!resolve(st.table, true).type.isEmpty())
      throw EDatabaseError(QStringLiteral("table %1 already exists").arg(st.table));
    runAll(window::createStatements(st.table, st.columns));
    return {};
  }
  window::Found found = resolve(st.table, !st.readsOnly());
  const bool changes = st.kind == Statement::Kind::Insert || st.kind == Statement::Kind::Update ||
                       st.kind == Statement::Kind::Delete;
  if (!found.layout && changes && found.type == QLatin1String("table")) {
    found.layout = adoptPlain(found.storedName);
    if (!found.layout && st.kind == Statement::Kind::Update && st.whereClause.isEmpty()) {
      if (const auto steps = shiftSteps(st.setClause, QLatin1String(window::kTimeColumn), 0.05))
        return run(window::snappedShift(found.storedName, *steps));
    }
  }
  if (const auto& layout = found.layout) {
    const std::vector<window::Sql> statements = window::translate(st, *layout);
    if (statements.empty()) {
      ResultSet none;
      none.rowsAffected = 0;
      return none;
    }
    if (statements.size() == 1) return run(statements.front());
    runAll(statements);
    return {};
  }
  return run(st.text);
}

std::optional<window::Layout> TADOConnection::windowLayout(const QString& table) {
  Open();
  checkFile(true);
  // Verified at this schema version (by any program): the registry row alone, straight.
  const auto known = verified_.constFind(table.toLower());
  if (known != verified_.cend() &&
      direct_->integer(direct_->get(QStringLiteral("PRAGMA schema_version"))) == known->toLongLong()) {
    sqlite3_stmt* st = direct_->get(window::lookupStatement(table).text);
    const QByteArray name = table.toUtf8();
    sqlite3_bind_text(st, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    std::optional<window::Layout> layout;
    if (sqlite3_step(st) == SQLITE_ROW)
      layout = window::Layout{sqlite3_column_int64(st, 0), sqlite3_column_int(st, 1), sqlite3_column_int(st, 2)};
    sqlite3_reset(st);
    if (layout) return layout;
  }
  return resolve(table, true).layout;
}

sqlite3_stmt* TADOConnection::direct(const QString& text) {
  Open();
  checkFile(true);
  if (observer_) observer_(text);
  return direct_->get(text);
}

int TADOConnection::BeginTrans() {
  Open();
  checkFile(true);
  if (level_ == 0) run(window::Sql{QStringLiteral("BEGIN IMMEDIATE"), {}, true});
  else run(window::Sql{QStringLiteral("SAVEPOINT cs_level%1").arg(level_ + 1), {}, true});
  return ++level_;
}

void TADOConnection::CommitTrans() {
  if (!open_ || level_ == 0) throw EDatabaseError(QStringLiteral("No transaction is active."));
  // A commit into a file that is no longer the named one would be lost to every reader.
  if (level_ == 1) checkFile(true);
  if (level_ == 1) run(window::Sql{QStringLiteral("COMMIT"), {}, true});
  else run(window::Sql{QStringLiteral("RELEASE cs_level%1").arg(level_), {}, true});
  --level_;
  if (level_ == 0) settle();
}

void TADOConnection::settle() noexcept {
  if (!file_.wal || level_ > 0) return;
  if (++commitsUnsettled_ < checkpointInterval_) return;
  commitsUnsettled_ = 0;
  try {
    // PASSIVE: copies every frame no reader still needs, without waiting for readers. A
    // reader holding an old snapshot leaves the rest for the next commit.
    run(window::Sql{QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"), {}, true});
  } catch (const EDatabaseError&) {
    // The commit stands in the log; the next one copies it.
  }
}

void TADOConnection::RollbackTrans() noexcept {
  if (!open_ || level_ == 0) return;
  forgetSchema();
  try {
    if (level_ == 1) {
      run(QStringLiteral("ROLLBACK"));
    } else {
      run(QStringLiteral("ROLLBACK TO cs_level%1").arg(level_));
      run(QStringLiteral("RELEASE cs_level%1").arg(level_));
    }
    --level_;
  } catch (const EDatabaseError&) {
    // A rollback that cannot run leaves nothing trustworthy open: start afresh.
    Close();
  }
}

}  // namespace engine
