#pragma once
// The statement dialect the station speaks (Access/Jet flavoured SQL) read just far enough to
// route each statement: which kind it is, which table it names, and its clauses. Anything this
// reader does not recognise is passed to SQLite as it stands.
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace engine {

struct ColumnDef {
  QString name;
  QString type;  ///< the type words as written ("double"); may be empty
};

struct Statement {
  enum class Kind { Select, CreateTable, Insert, Update, Delete, DropTable, Other };
  Kind kind = Kind::Other;
  /// The statement in SQLite's dialect: "delete * from t" becomes "delete from t", a trailing
  /// ';' is dropped. Everything else is unchanged.
  QString text;
  /// The table named by create/insert/update/delete/drop when it is a plain identifier; empty
  /// when it is quoted or missing.
  QString table;
  /// CreateTable: the column definitions when every one is a plain "name [type words]";
  /// otherwise empty.
  std::vector<ColumnDef> columns;
  /// Update: the text between SET and WHERE.
  QString setClause;
  /// Update/Delete: the text after WHERE; empty when the statement has none.
  QString whereClause;
  /// Select: the statement is exactly "select count(*) from <table>".
  bool countsAll = false;
  /// Insert: the values of "insert into t values (...)" when every one is a plain number
  /// literal or NULL (as written); empty otherwise.
  QStringList values;

  /// True for statements that only read (select, with, pragma, explain).
  bool readsOnly() const { return kind == Kind::Select; }
};

Statement parseStatement(const QString& sql);

/// For a SET clause of the form "<column>=<column>-<number>" (or '+', blanks anywhere), the
/// shift in whole steps of `step` (positive when lowering). Empty when the clause has another
/// form or the number is not a whole multiple of the step.
std::optional<long long> shiftSteps(const QString& setClause, const QString& column, double step);

/// True for a plain number literal: [+-] digits [. digits] [e [+-] digits], blanks around.
bool isNumberLiteral(QStringView text);
/// The number of a plain number literal (no expression); empty for anything else.
std::optional<double> numberLiteral(const QString& text);

/// For a WHERE clause of the form "<column>=<number>", the number.
std::optional<double> equalsNumber(const QString& whereClause, const QString& column);

/// True when `word` occurs in `text` as a whole identifier outside quotes (case-insensitive).
bool mentionsIdentifier(const QString& text, const QString& word);

}  // namespace engine
