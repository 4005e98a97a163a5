#pragma once
// Statements in SQLite's own dialect kept prepared on a connection's handle and run with their
// values bound straight: no statement text per use, no Qt value per value. For the few
// statements a sampling run repeats for every unit. One thread only; every statement is
// finalized before the handle closes.
#include <QHash>
#include <QString>
#include <optional>

class QSqlDatabase;
struct sqlite3;
struct sqlite3_stmt;

namespace engine {

/// The SQLite connection behind a Qt SQL connection of the SQLite driver; null for another.
sqlite3* sqliteHandle(const QSqlDatabase& db);

class DirectStatements {
 public:
  DirectStatements() = default;
  ~DirectStatements() { clear(); }
  DirectStatements(const DirectStatements&) = delete;
  DirectStatements& operator=(const DirectStatements&) = delete;

  /// Uses `db` from now on (finalizing what was kept on the previous handle).
  void attach(sqlite3* db) noexcept;
  /// Finalizes every kept statement; the handle itself is left alone.
  void clear() noexcept;

  /// The statement of `text`, prepared on its first use, with no values bound. Throws
  /// EDatabaseError with the engine's message.
  sqlite3_stmt* get(const QString& text);
  /// Runs `st` to its end. Throws EDatabaseError with the engine's message. Either way the
  /// statement is reset: it holds no lock until its next use.
  void run(sqlite3_stmt* st);
  /// Runs `st` and gives its first row's first value as an integer (none without a row), then
  /// resets it. Throws EDatabaseError.
  std::optional<long long> integer(sqlite3_stmt* st);
  /// Rows the last insert, update or delete changed.
  int changes() const;

 private:
  sqlite3* db_ = nullptr;
  QHash<QString, sqlite3_stmt*> kept_;
};

}  // namespace engine
