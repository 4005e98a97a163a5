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

struct sqlite3_stmt;

namespace engine::window {
struct Found;
}
namespace engine {
class DirectStatements;
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
  /// outermost commits (setCheckpointInterval) and removed at Close, unless set otherwise.
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
  /// With a write-ahead log, what is committed is copied into the file after every `commits`-th
  /// outermost commit (1, the default: after each; SQLite's own checkpoint still runs whenever
  /// the log passes 1000 pages) and at Close. The log is part of the database meanwhile: a
  /// copy through SQLite (engine::backupDatabase, sqlite3's .backup) takes it along.
  void setCheckpointInterval(int commits) { checkpointInterval_ = commits < 1 ? 1 : commits; }

  /// Opens the connection if closed. Throws EDatabaseError.
  void Open();
  /// Closes the connection; an open transaction is rolled back. The write-ahead log is copied
  /// into the file first, and SQLite removes it (and db1.mdb-shm) when this was the last
  /// connection to the file. Never throws.
  void Close() noexcept;
  bool Connected() const { return open_; }

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

  /// The layout of `table` when it is a windowed table (TimeWindow.h), its hidden parts checked
  /// and mended as for any statement that changes it; none for anything else (no such table, a
  /// plain or another program's table). Throws EDatabaseError.
  std::optional<window::Layout> windowLayout(const QString& table);
  /// A statement of SQLite's own dialect kept prepared, to be bound straight and run with
  /// directStatements() (DirectStatements.h): the engine's own paths over windowed tables
  /// (WindowRun.h). Checks the file and tells the statement observer as Execute does; valid
  /// while the connection stays open. Throws EDatabaseError.
  sqlite3_stmt* direct(const QString& text);
  DirectStatements& directStatements() { return *direct_; }
  /// Row counts of windowed tables kept between sampling runs (WindowRun.h): valid while no
  /// other connection has committed (SQLite's data_version unchanged), forgotten at every
  /// change through Execute, every rollback and Close.
  struct RowCounts {
    long long dataVersion = -1;
    QHash<QString, long long> rows;  ///< by lower-case table name
  };
  RowCounts& rowCounts() { return rowCounts_; }

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
  std::unique_ptr<DirectStatements> direct_;
  int checkpointInterval_ = 1;
  RowCounts rowCounts_;
  int commitsUnsettled_ = 0;
  std::function<void(const QString&)> observer_;
};

}  // namespace engine
