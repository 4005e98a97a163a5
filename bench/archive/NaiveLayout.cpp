#include "NaiveLayout.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <stdexcept>

NaiveLayout::NaiveLayout(const QString& path) : name_(QStringLiteral("naive")) {
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
  db.setDatabaseName(path);
  if (!db.open()) throw std::runtime_error("cannot open the naive file");
  QSqlQuery q(db);
  QString columns = QStringLiteral("unit INTEGER, measureTime REAL");
  for (int i = 1; i <= archive::kCells; ++i) columns += QStringLiteral(", V%1 REAL").arg(i);
  columns += QStringLiteral(", V REAL");
  for (const QString& sql : {QStringLiteral("PRAGMA journal_mode = WAL"), QStringLiteral("PRAGMA synchronous = NORMAL"),
                             QStringLiteral("CREATE TABLE sample (%1)").arg(columns),
                             QStringLiteral("CREATE INDEX sampleByUnit ON sample (unit, measureTime)")})
    if (!q.exec(sql)) throw std::runtime_error(q.lastError().text().toStdString());
}

NaiveLayout::~NaiveLayout() {
  { QSqlDatabase::database(name_, false).close(); }
  QSqlDatabase::removeDatabase(name_);
}

void NaiveLayout::append(const archive::Run& run) {
  QSqlDatabase db = QSqlDatabase::database(name_, false);
  db.transaction();
  QSqlQuery q(db);
  QString marks = QStringLiteral("?");
  for (int i = 0; i < archive::kValues + 1; ++i) marks += QStringLiteral(", ?");
  q.prepare(QStringLiteral("INSERT INTO sample VALUES (%1)").arg(marks));
  for (const archive::UnitReading& r : run.units) {
    q.bindValue(0, r.unit);
    q.bindValue(1, double(run.timeMs) / 1000.0);
    for (int k = 0; k < archive::kCells; ++k)
      q.bindValue(2 + k, k < r.cellCount ? QVariant(r.cells[std::size_t(k)]) : QVariant(QMetaType(QMetaType::Double)));
    q.bindValue(2 + archive::kCells, r.total);
    if (!q.exec()) throw std::runtime_error(q.lastError().text().toStdString());
  }
  db.commit();
}

qint64 NaiveLayout::readCell(int unit, int cell, qint64 fromMs, qint64 toMs) {
  QSqlQuery q(QSqlDatabase::database(name_, false));
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT measureTime, V%1 FROM sample WHERE unit = ? AND measureTime >= ? AND measureTime < ? "
                           "ORDER BY measureTime").arg(cell));
  q.addBindValue(unit);
  q.addBindValue(double(fromMs) / 1000.0);
  q.addBindValue(double(toMs) / 1000.0);
  if (!q.exec()) throw std::runtime_error(q.lastError().text().toStdString());
  qint64 n = 0;
  double sum = 0;
  while (q.next()) sum += q.value(1).toDouble(), ++n;
  return sum > 0 ? n : 0;
}
