#include "archive/core/BlockClose.h"

#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <limits>

#include "archive/core/BlockCodec.h"

namespace archive {

std::vector<ValueSummary> summarizeRuns(const std::vector<StoredRun>& runs) {
  std::vector<ValueSummary> out;
  for (int i = 0; i < kValues; ++i) {
    ValueSummary v;
    v.cell = i == kTotalIndex ? kTotalCell : i + 1;
    v.minMv = std::numeric_limits<qint64>::max();
    v.maxMv = std::numeric_limits<qint64>::min();
    for (const StoredRun& r : runs) {
      if (i != kTotalIndex && i >= r.cellCount) continue;
      const qint64 mv = r.mv[std::size_t(i)];
      v.minMv = std::min(v.minMv, mv);
      v.maxMv = std::max(v.maxMv, mv);
      v.sumMv += double(mv);
      ++v.samples;
    }
    if (v.samples > 0) out.push_back(v);
  }
  return out;
}

int closeBlockIn(const ArchiveDb& db, int unit, qint64 day, int compressionLevel) {
  QSqlQuery q(db.db());
  q.setForwardOnly(true);
  q.prepare(QStringLiteral("SELECT timeMs, data FROM staging WHERE unit = ? AND day = ? ORDER BY seq"));
  q.addBindValue(unit);
  q.addBindValue(day);
  if (!q.exec()) db.fail(QStringLiteral("无法读取长期记录"), q.lastError());
  std::vector<StoredRun> runs;
  while (q.next()) runs.push_back(decodeRow(q.value(0).toLongLong(), q.value(1).toByteArray()));
  if (q.lastError().isValid()) db.fail(QStringLiteral("无法读取长期记录"), q.lastError());
  q.finish();
  if (runs.empty()) return 0;

  qint64 first = std::numeric_limits<qint64>::max(), last = std::numeric_limits<qint64>::min();
  for (const StoredRun& r : runs) {
    first = std::min(first, r.timeMs);
    last = std::max(last, r.timeMs);
  }
  q.prepare(QStringLiteral("INSERT INTO block (unit, day, firstMs, lastMs, runs, data) VALUES (?, ?, ?, ?, ?, ?)"));
  for (const QVariant& v : {QVariant(unit), QVariant(day), QVariant(first), QVariant(last), QVariant(qint64(runs.size())),
                            QVariant(encodeBlock(runs, compressionLevel))})
    q.addBindValue(v);
  if (!q.exec()) db.fail(QStringLiteral("无法写入长期记录"), q.lastError());

  QVariantList units, days, cells, mins, means, maxs, counts;
  for (const ValueSummary& v : summarizeRuns(runs)) {
    units << unit;
    days << day;
    cells << v.cell;
    mins << v.minMv;
    means << qint64(std::llround(v.sumMv * 1000.0 / double(v.samples)));
    maxs << v.maxMv;
    counts << v.samples;
  }
  q.prepare(QStringLiteral(
      "INSERT INTO daySummary (unit, day, cell, minMv, meanUv, maxMv, samples) VALUES (?, ?, ?, ?, ?, ?, ?) "
      "ON CONFLICT (unit, day, cell) DO UPDATE SET minMv = min(minMv, excluded.minMv), "
      "maxMv = max(maxMv, excluded.maxMv), "
      "meanUv = CAST(round((meanUv * 1.0 * samples + excluded.meanUv * 1.0 * excluded.samples) / "
      "(samples + excluded.samples)) AS INTEGER), samples = samples + excluded.samples"));
  for (QVariantList* list : {&units, &days, &cells, &mins, &means, &maxs, &counts}) q.addBindValue(*list);
  if (!q.execBatch()) db.fail(QStringLiteral("无法写入长期记录日汇总"), q.lastError());

  q.prepare(QStringLiteral("DELETE FROM staging WHERE unit = ? AND day = ?"));
  q.addBindValue(unit);
  q.addBindValue(day);
  if (!q.exec()) db.fail(QStringLiteral("无法写入长期记录"), q.lastError());
  return int(runs.size());
}

}  // namespace archive
