#include "engine/ConnectionString.h"

namespace engine {

QString connectionStringValue(const QString& connectionString, const QString& key) {
  const QString& s = connectionString;
  qsizetype i = 0;
  while (i < s.size()) {
    const qsizetype eq = s.indexOf(QLatin1Char('='), i);
    if (eq < 0) break;
    const QString name = s.mid(i, eq - i).trimmed();
    qsizetype j = eq + 1;
    while (j < s.size() && s.at(j).isSpace()) ++j;
    QString value;
    if (j < s.size() && s.at(j) == QLatin1Char('"')) {
      const qsizetype close = s.indexOf(QLatin1Char('"'), j + 1);
      value = s.mid(j + 1, (close < 0 ? s.size() : close) - j - 1);
      j = close < 0 ? s.size() : close + 1;
      const qsizetype semi = s.indexOf(QLatin1Char(';'), j);
      j = semi < 0 ? s.size() : semi;
    } else {
      const qsizetype semi = s.indexOf(QLatin1Char(';'), j);
      const qsizetype end = semi < 0 ? s.size() : semi;
      value = s.mid(j, end - j).trimmed();
      j = end;
    }
    if (name.compare(key, Qt::CaseInsensitive) == 0) return value;
    i = j + 1;
  }
  return {};
}

}  // namespace engine
