#include "engine/FailureText.h"

#include <QLatin1StringView>
#include <array>

namespace engine {

namespace {

struct Reason {
  QLatin1StringView pattern;  ///< part of the engine's text, any case
  const char* text;           ///< UTF-8
};

// The file-replaced text is the engine's own and mentions a transaction; it goes before the
// rest. Locks: SQLite's "database is locked" (another connection holds the file) and
// "database table is locked" (a table in use in this connection) are both a held lock.
const std::array<Reason, 9> kReasons{{
    {QLatin1StringView("was replaced"), "数据库文件已被替换"},
    {QLatin1StringView("is not a station database"), "不是本站的数据库"},
    {QLatin1StringView("is locked"), "数据库被其他程序锁定"},
    {QLatin1StringView("disk is full"), "磁盘已满"},
    {QLatin1StringView("readonly database"), "数据库文件为只读"},
    {QLatin1StringView("read-only"), "数据库文件为只读"},
    {QLatin1StringView("not a database"), "数据库文件已损坏或不是数据库"},
    {QLatin1StringView("is malformed"), "数据库文件已损坏或不是数据库"},
    {QLatin1StringView("disk I/O error"), "读写数据库文件出错"},
}};

}  // namespace

QString failureText(const QString& engineText) {
  for (const Reason& r : kReasons) {
    const QString reason = QString::fromUtf8(r.text);
    if (engineText.startsWith(reason)) return engineText;  // already explained
  }
  for (const Reason& r : kReasons) {
    if (engineText.contains(r.pattern, Qt::CaseInsensitive))
      return QString::fromUtf8(r.text) + QStringLiteral("：") + engineText;
  }
  return engineText;
}

}  // namespace engine
