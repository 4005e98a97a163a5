#include "store/core/TableNames.h"

namespace store {

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
