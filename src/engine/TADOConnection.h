#pragma once
// The connection all the station's database objects share: SQLite through Qt SQL.
//
// The connection string's Data Source names the database file, relative to the working
// directory at the time of opening. Opening never creates a file: a missing file, an empty one
// or one that is not an SQLite database (an Access file named db1.mdb, say) fails at the open
// step with EDatabaseError and is left untouched. Every operation first opens a closed
// connection with the connection string last set, so a file that appears after start-up is
// picked up; a file that disappears or is replaced while open closes the connection, and the
// operation then reports what the reopening finds.
//
// Statements are the station's own dialect (see Dialect.h and TimeWindow.h); each runs on its
// own unless a transaction begun with BeginTrans is open. Not thread-safe: one thread only.
#include <QString>
#include <QStringList>
#include <QHash>
#include <QSet>
#include <QSqlQuery>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "engine/DatabaseFile.h"
#include "engine/Dialect.h"
#include "engine/EngineError.h"
#include "engine/TimeWindow.h"

namespace engine::window {
struct Found;
}

namespace engine {

/// The rows a statement returned, read to the end.
struct ResultSet {
  QStringList columns;
  std::vector<std::vector<QVariant>> rows;
  /// Rows changed by an insert, update or delete; -1 when the engine cannot tell.
  int rowsAffected = -1;
};

class TADOConnection {
 public:
  /// How commits reach the file (see DatabaseFile.h): a write-ahead log, checkpointed after
  /// every outermost commit and removed at Close, unless set otherwise.
  using Journal = engine::Journal;

  TADOConnection();
  ~TADOConnection();
  TADOConnection(const TADOConnection&) = delete;
  TADOConnection& operator=(const TADOConnection&) = delete;

  /// Takes effect at the next opening; an open connection stays as it is.
  void setConnectionString(const QString& text) { connectionString_ = text; }
  const QString& ConnectionString() const { return connectionString_; }
  /// Takes effect at the next opening.
  void setJournal(Journal journal) { journal_ = journal; }

  /// Opens the connection if closed. Throws EDatabaseError.
  void Open();
  /// Closes the connection; an open transaction is rolled back. The write-ahead log is copied
  /// into the file first, and SQLite removes it (and db1.mdb-shm) when this was the last
  /// connection to the file. Never throws.
  void Close() noexcept;
  bool Connected() const { return open_; }
  /// Closes the connection when the path now names another file than the one opened (see
  /// closeDatabaseFile); true when it did. The next operation opens the file now there.
  bool letGoIfReplaced() noexcept;

  /// Names of all tables, views and system tables, in the engine's order.
  QStringList GetTableNames();

  /// Begins a transaction; inside one, begins a nested one (a savepoint). Returns the new
  /// nesting level (1 for the outermost).
  int BeginTrans();
  /// Commits the innermost transaction. Throws EDatabaseError (the transaction then stays open).
  void CommitTrans();
  /// Rolls back the innermost transaction; does nothing when none is open.
  void RollbackTrans() noexcept;
  int TransactionLevel() const { return level_; }

  /// Runs one statement of the station's dialect and returns its rows (none for statements
  /// that return none). Throws EDatabaseError with the engine's message.
  ResultSet Execute(const QString& sql);

  /// Runs one statement of SQLite's own dialect with bound values, past the station's
  /// dialect: for the station's hidden tables. Throws EDatabaseError.
  ResultSet ExecuteBound(const QString& sql, const QVariantList& binds);

  /// How long a write waits for another program's lock (kLockWaitMs unless set); takes effect
  /// at once and at every opening.
  void setLockWait(int ms) noexcept;

  /// Called with every statement's text before it runs (for tracing); may be empty.
  void setStatementObserver(std::function<void(const QString&)> observer) { observer_ = std::move(observer); }

 private:
  void checkFile(bool writing);
  ResultSet executeParsed(const Statement& st);
  /// With a write-ahead log, copies what is committed into the file (outside transactions);
  /// nothing otherwise.
  void settle() noexcept;
  void forgetSchema() noexcept;
  ResultSet run(const QString& sql);
  ResultSet run(const window::Sql& sql);
  void runAll(const std::vector<window::Sql>& statements);

  QVariant schemaVersion();
  template <typename F>
  auto inSavepoint(F&& work);
  /// What `table` is, with its hidden parts made whole first (see WindowUpkeep.h). A repair
  /// that fails throws when `mayRepair`, and is skipped (the table read as it stands) otherwise.
  window::Found resolve(const QString& table, bool mayRepair);
  std::optional<window::Layout> adoptPlain(const QString& table);

  QString name_;
  QString connectionString_;
  OpenedFile file_;
  bool open_ = false;
  Journal journal_ = Journal::Wal;
  int lockWaitMs_ = kLockWaitMs;
  int level_ = 0;
  // What is known of the schema while open; forgotten on close and rollback.
  QHash<QString, QVariant> verified_;  ///< lower-case name -> schema version last checked at
  QSet<QString> refusedAdoptions_;     ///< plain tables already logged as not adoptable
  bool namesValid_ = false;
  QVariant namesVersion_;
  QStringList names_;
  // Statements that recur, kept prepared while open (SQLite re-prepares them after a schema
  // change by itself).
  QHash<QString, std::shared_ptr<QSqlQuery>> prepared_;
  std::function<void(const QString&)> observer_;
};

}  // namespace engine
