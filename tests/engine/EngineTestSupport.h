#pragma once
// A temporary folder with an SQLite file in it, and a second, plain connection to that file
// that sees it as any SQL client would.
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <stdexcept>

#include "engine/TADOConnection.h"
#include "support/StationFolder.h"

class DatabaseFolder : public StationFolder {
 public:
  /// An SQLite file holding the settings table with one row.
  void makeDatabase(const QString& name = QStringLiteral("db1.mdb")) const {
    plainExec(name, QStringLiteral("CREATE TABLE setting (secend double, measureTotal integer)"));
    plainExec(name, QStringLiteral("INSERT INTO setting VALUES (5, 12)"));
  }

  /// Runs one statement on a plain connection of its own (no engine in between) and returns
  /// the first field of the first row, if any.
  QVariant plainExec(const QString& name, const QString& sql) const {
    const QString conn = QStringLiteral("plain_%1").arg(++serial_);
    QVariant first;
    QString error;
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), conn);
      db.setDatabaseName(file(name));
      db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
      if (!db.open()) error = db.lastError().text();
      else {
        QSqlQuery q(db);
        if (!q.exec(sql)) error = q.lastError().text();
        else if (q.next()) first = q.value(0);
      }
    }
    QSqlDatabase::removeDatabase(conn);
    if (!error.isEmpty()) throw std::runtime_error(error.toStdString());
    return first;
  }

  static QString connectionString(const QString& name = QStringLiteral("db1.mdb")) {
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1;Persist Security Info=False").arg(name);
  }

 private:
  static inline int serial_ = 0;
};

/// The message of the engine error `f` raises; empty when it raises none.
template <typename F>
QString engineErrorOf(F&& f) {
  try {
    f();
  } catch (const engine::EDatabaseError& e) {
    return e.text();
  }
  return {};
}
