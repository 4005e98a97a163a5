#include "engine/TADOQuery.h"

#include <cmath>
#include <limits>

#include "common/ConvertError.h"
#include "common/NumberText.h"

namespace engine {

QString TField::AsString(char decimalSeparator) const {
  if (IsNull()) return {};
  switch (value_.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
      return QString::fromStdString(common::formatGeneral(value_.toDouble(), decimalSeparator));
    default:
      return value_.toString();
  }
}

int TField::AsInteger() const {
  if (IsNull()) throw common::invalidInteger("");
  switch (value_.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float: {
      const double v = value_.toDouble();
      if (std::isfinite(v) && v == std::trunc(v) && v >= std::numeric_limits<int>::min() &&
          v <= std::numeric_limits<int>::max())
        return static_cast<int>(v);
      throw common::invalidInteger(AsString().toStdString());
    }
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
    case QMetaType::UInt: {
      bool ok = false;
      const qlonglong v = value_.toLongLong(&ok);
      if (ok && v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max())
        return static_cast<int>(v);
      throw common::invalidInteger(value_.toString().toStdString());
    }
    default:
      return common::parseInt(value_.toString().toStdString());
  }
}

void TADOQuery::setSQL(const QString& text) {
  Close();
  sql_ = text;
}

void TADOQuery::Close() noexcept {
  active_ = false;
  result_ = {};
}

void TADOQuery::Open() {
  Close();
  result_ = connection_.Execute(sql_);
  active_ = true;
}

int TADOQuery::ExecSQL() {
  Close();
  return connection_.Execute(sql_).rowsAffected;
}

TField TADOQuery::Fields(int index) const {
  if (!active_) throw EDatabaseError(QStringLiteral("Operation is not allowed when the object is closed."));
  if (result_.rows.empty())
    throw EDatabaseError(QStringLiteral("Either BOF or EOF is True, or the current record has been deleted. "
                                        "Requested operation requires a current record."));
  const auto& row = result_.rows.front();
  if (index < 0 || static_cast<std::size_t>(index) >= row.size())
    throw EDatabaseError(QStringLiteral("Field index %1 out of range (%2 fields).").arg(index).arg(row.size()));
  return TField(row[static_cast<std::size_t>(index)]);
}

QVariant TADOQuery::value(int row, const QString& column) const {
  if (!active_) throw EDatabaseError(QStringLiteral("Operation is not allowed when the object is closed."));
  qsizetype col = -1;
  for (qsizetype i = 0; i < result_.columns.size() && col < 0; ++i)
    if (result_.columns.at(i).compare(column, Qt::CaseInsensitive) == 0) col = i;
  if (col < 0) throw EDatabaseError(QStringLiteral("Item cannot be found in the collection: %1").arg(column));
  if (row < 0 || row >= RecordCount()) throw EDatabaseError(QStringLiteral("Row %1 out of range.").arg(row));
  return result_.rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

}  // namespace engine
