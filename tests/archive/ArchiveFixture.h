#pragma once
// An archive folder in a temporary directory, runs to append, and a look at its files with a
// connection of the test's own.
#include <QDateTime>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>
#include <gtest/gtest.h>

#include "archive/core/ArchiveWriter.h"
#include "protocol/PackedVoltage.h"

inline qint64 utcMs(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC).toMSecsSinceEpoch();
}

inline double packed(double volts) {
  const auto p = protocol::encodePacked(volts);
  return protocol::decodePacked(p[0], p[1]);
}

/// Unit u's reading at step i: cells wander by whole 10 mV steps, so every value differs.
inline archive::UnitReading reading(int unit, int cells, int i) {
  archive::UnitReading r;
  r.unit = unit;
  r.cellCount = cells;
  double total = 0;
  for (int k = 0; k < cells; ++k) {
    r.cells[std::size_t(k)] = packed(2.0 + 0.01 * ((i * 7 + k * 3 + unit) % 40));
    total += r.cells[std::size_t(k)];
  }
  r.total = packed(total);
  return r;
}

inline archive::Run run(qint64 timeMs, int units, int cells, int i) {
  archive::Run r;
  r.timeMs = timeMs;
  for (int u = 1; u <= units; ++u) r.units.push_back(reading(u, cells, i));
  return r;
}

class ArchiveFolder {
 public:
  ArchiveFolder() { EXPECT_TRUE(dir_.isValid()); }
  QString path() const { return dir_.filePath(QStringLiteral("archive")); }
  QString file(const QString& name) const { return QDir(path()).filePath(name); }
  archive::WriterOptions options(int runsPerBlock = 120) const {
    archive::WriterOptions o;
    o.folder = path();
    o.runsPerBlock = runsPerBlock;
    o.busyTimeoutMs = 200;
    return o;
  }
  /// The first column of every row of `sql` on `file`, as numbers.
  std::vector<qint64> column(const QString& file, const QString& sql) const {
    std::vector<qint64> out;
    const QString name = QUuid::createUuid().toString();
    {
      QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
      db.setDatabaseName(file);
      EXPECT_TRUE(db.open());
      QSqlQuery q(db);
      EXPECT_TRUE(q.exec(sql)) << sql.toStdString() << q.lastError().text().toStdString();
      while (q.next()) out.push_back(q.value(0).toLongLong());
    }
    QSqlDatabase::removeDatabase(name);
    return out;
  }

 private:
  QTemporaryDir dir_;
};
