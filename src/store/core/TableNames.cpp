#include "store/core/TableNames.h"

namespace store {

QString asciiUpper(const QString& text) {
  QString out = text;
  for (QChar& c : out)
    if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - ('a' - 'A'));
  return out;
}

bool listHoldsTable(const QStringList& names, const QString& name) {
  const QString wanted = asciiUpper(name);
  for (const QString& entry : names)
    if (asciiUpper(entry) == wanted) return true;
  return false;
}

bool tableExists(engine::TADOConnection& connection, const QString& name) {
  return listHoldsTable(connection.GetTableNames(), name);
}

}  // namespace store
