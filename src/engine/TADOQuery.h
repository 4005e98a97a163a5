#pragma once
// A statement on the shared connection that may return rows. Opening runs it and keeps all its
// rows (the station's queries return one row, or a day of samples for the chart).
#include <QString>
#include <QVariant>

#include "engine/TADOConnection.h"

namespace engine {

/// One field's value: null-aware, convertible to text and to an integer.
class TField {
 public:
  explicit TField(QVariant value) : value_(std::move(value)) {}

  bool IsNull() const { return value_.isNull() || !value_.isValid(); }
  /// The value as text: numbers in the general format with the given decimal separator (a
  /// stored 5.0 reads "5"), text as stored, null as an empty text.
  QString AsString(char decimalSeparator = '.') const;
  /// The value as an integer. Throws common::EConvertError ("'%s' is not a valid integer
  /// value") for null, for text that is no integer, and for a number that is not whole or does
  /// not fit in 32 bits.
  int AsInteger() const;
  const QVariant& value() const { return value_; }

 private:
  QVariant value_;
};

class TADOQuery {
 public:
  explicit TADOQuery(TADOConnection& connection) : connection_(connection) {}

  /// Sets the statement text; the query is closed first.
  void setSQL(const QString& text);
  const QString& SQL() const { return sql_; }

  /// Runs the statement and keeps its rows. Throws EDatabaseError; the query stays closed then.
  void Open();
  void Close() noexcept;
  bool Active() const { return active_; }
  /// Runs a statement that returns no rows; the query stays closed. Returns the rows it
  /// changed (-1 when the engine cannot tell).
  int ExecSQL();

  /// Field `index` (0-based position) of the first row. Throws EDatabaseError when the query
  /// is closed, has no row, or has fewer fields.
  TField Fields(int index) const;
  int RecordCount() const { return static_cast<int>(result_.rows.size()); }
  /// The value of the named column (any letter case) in row `row` (0-based); for the chart.
  /// Throws EDatabaseError for an unknown column or a row out of range.
  QVariant value(int row, const QString& column) const;
  const QStringList& columnNames() const { return result_.columns; }

 private:
  TADOConnection& connection_;
  QString sql_;
  bool active_ = false;
  ResultSet result_;
};

}  // namespace engine
