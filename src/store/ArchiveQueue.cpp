#include "store/ArchiveQueue.h"

#include <QDataStream>
#include <QIODevice>

#include "acquisition/core/MeasurementTables.h"
#include "engine/EngineError.h"

namespace store {

namespace {

constexpr quint8 kFormat = 1;

const QString kCreate = QStringLiteral(
    "CREATE TABLE IF NOT EXISTS cs_archivePending (seq INTEGER PRIMARY KEY, takenMs INTEGER NOT NULL, data BLOB NOT NULL)");

bool tableThere(engine::TADOConnection& connection) {
  return !connection
              .ExecuteBound(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"),
                            {QStringLiteral("cs_archivePending")})
              .rows.empty();
}

}  // namespace

QByteArray packRun(const archive::Run& run) {
  QByteArray data;
  QDataStream out(&data, QIODevice::WriteOnly);
  out.setVersion(QDataStream::Qt_6_0);
  out << kFormat << static_cast<quint32>(run.units.size());
  for (const archive::UnitReading& reading : run.units) {
    const archive::StoredRun stored = archive::toStored(run.timeMs, reading);
    out << static_cast<qint32>(reading.unit) << static_cast<qint32>(stored.cellCount);
    for (int i = 0; i < stored.cellCount; ++i) out << static_cast<qint32>(stored.mv[std::size_t(i)]);
    out << static_cast<qint64>(stored.mv[archive::kTotalIndex]);
  }
  return data;
}

std::optional<archive::Run> unpackRun(qint64 timeMs, const QByteArray& data) {
  QDataStream in(data);
  in.setVersion(QDataStream::Qt_6_0);
  quint8 format = 0;
  quint32 units = 0;
  in >> format >> units;
  if (in.status() != QDataStream::Ok || format != kFormat || units > quint32(acquisition::kUnits)) return std::nullopt;
  archive::Run run;
  run.timeMs = timeMs;
  for (quint32 u = 0; u < units; ++u) {
    qint32 unit = 0;
    qint32 cells = 0;
    in >> unit >> cells;
    if (in.status() != QDataStream::Ok || cells < 0 || cells > archive::kCells) return std::nullopt;
    archive::UnitReading reading;
    reading.unit = unit;
    reading.cellCount = cells;
    for (int i = 0; i < cells; ++i) {
      qint32 mv = 0;
      in >> mv;
      reading.cells[std::size_t(i)] = archive::toVolts(mv);
    }
    qint64 total = 0;
    in >> total;
    reading.total = archive::toVolts(total);
    if (in.status() != QDataStream::Ok) return std::nullopt;
    run.units.push_back(reading);
  }
  if (!in.atEnd()) return std::nullopt;
  return run;
}

qint64 queueForArchive(engine::TADOConnection& connection, const archive::Run& run) {
  connection.ExecuteBound(kCreate, {});
  connection.ExecuteBound(QStringLiteral("INSERT INTO cs_archivePending (takenMs, data) VALUES (?, ?)"),
                          {run.timeMs, packRun(run)});
  const engine::ResultSet rs = connection.ExecuteBound(QStringLiteral("SELECT max(seq) FROM cs_archivePending"), {});
  return rs.rows.at(0).at(0).toLongLong();
}

std::deque<QueuedRun> runsWaitingForArchive(engine::TADOConnection& connection, int* unreadable) {
  std::deque<QueuedRun> runs;
  if (unreadable) *unreadable = 0;
  if (!tableThere(connection)) return runs;
  const engine::ResultSet rs =
      connection.ExecuteBound(QStringLiteral("SELECT seq, takenMs, data FROM cs_archivePending ORDER BY seq"), {});
  for (const auto& row : rs.rows) {
    const qint64 seq = row.at(0).toLongLong();
    std::optional<archive::Run> run = unpackRun(row.at(1).toLongLong(), row.at(2).toByteArray());
    if (!run) {
      connection.ExecuteBound(QStringLiteral("DELETE FROM cs_archivePending WHERE seq = ?"), {seq});
      if (unreadable) ++*unreadable;
      continue;
    }
    runs.push_back({seq, std::move(*run)});
  }
  return runs;
}

void archivedUpTo(engine::TADOConnection& connection, qint64 seq) {
  if (seq <= 0 || !tableThere(connection)) return;
  connection.ExecuteBound(QStringLiteral("DELETE FROM cs_archivePending WHERE seq <= ?"), {seq});
}

}  // namespace store
