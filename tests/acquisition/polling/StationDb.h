#pragma once
// Reads and alters the station's db1.mdb behind the station's back, through a connection of
// its own, as another program (or a failing disk) would.
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QUuid>
#include <QVariant>
#include <stdexcept>

class StationDb {
 public:
  explicit StationDb(const QString& file) : name_(QUuid::createUuid().toString()) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    db.setDatabaseName(file);
    if (!db.open()) throw std::runtime_error("cannot open " + file.toStdString());
  }
  ~StationDb() {
    { QSqlDatabase::database(name_).close(); }
    QSqlDatabase::removeDatabase(name_);
  }
  StationDb(const StationDb&) = delete;
  StationDb& operator=(const StationDb&) = delete;

  void exec(const QString& sql) {
    QSqlQuery q(QSqlDatabase::database(name_));
    if (!q.exec(sql)) throw std::runtime_error(sql.toStdString() + ": " + q.lastError().text().toStdString());
  }

  /// Rows of a table; 0 when the table does not exist.
  int rows(const QString& table) {
    QSqlQuery q(QSqlDatabase::database(name_));
    if (!q.exec(QStringLiteral("select count(*) from ") + table) || !q.next()) return 0;
    return q.value(0).toInt();
  }

  /// The first column of the first row of a query, or an invalid value when there is none.
  QVariant value(const QString& sql) {
    QSqlQuery q(QSqlDatabase::database(name_));
    if (!q.exec(sql) || !q.next()) return {};
    return q.value(0);
  }

 private:
  QString name_;
};
