#include "store/core/TableNames.h"

namespace store {

QString asciiUpper(const QString& text) {
  QString out = text;
  for (QChar& c : out)
    if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - ('a' - 'A'));
  return out;
}

namespace {

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - (u'a' - u'A')) : c; }

}  // namespace

bool listHoldsTable(const QStringList& names, const QString& name) {
  for (const QString& entry : names) {
    if (entry.size() != name.size()) continue;
    qsizetype i = 0;
    while (i < name.size() && upper(entry.at(i).unicode()) == upper(name.at(i).unicode())) ++i;
    if (i == name.size()) return true;
  }
  return false;
}

bool tableExists(engine::TADOConnection& connection, const QString& name) {
  return listHoldsTable(connection.GetTableNames(), name);
}

}  // namespace store
