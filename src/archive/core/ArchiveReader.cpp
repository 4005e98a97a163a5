#include "archive/core/ArchiveReader.h"

#include <QDir>
#include <QSet>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <limits>
#include <tuple>

#include "archive/core/ArchiveDb.h"
#include "archive/core/BlockClose.h"
#include "archive/core/BlockCodec.h"

namespace archive {

namespace {

const QString kRead = QStringLiteral("无法读取长期记录");

// The blocks and staging rows of a unit that may hold times in [from, to), in order of arrival.
const QString kBlocks = QStringLiteral(
    "SELECT data FROM block WHERE unit = ? AND firstMs < ? AND lastMs >= ? ORDER BY rowid");
const QString kStaging = QStringLiteral(
    "SELECT timeMs, data FROM staging WHERE unit = ? AND day BETWEEN ? AND ? AND timeMs >= ? AND timeMs < ? "
    "ORDER BY seq");

const QString kSummaryColumns = QStringLiteral("SELECT unit, day, cell, minMv, meanUv, maxMv, samples FROM daySummary ");
const QString kSummariesOfUnit = kSummaryColumns + QStringLiteral("WHERE unit = ? AND day BETWEEN ? AND ? ORDER BY unit, day, cell");
const QString kSummariesAll = kSummaryColumns + QStringLiteral("WHERE day BETWEEN ? AND ? ORDER BY unit, day, cell");
const QString kOpenOfUnit = QStringLiteral(
    "SELECT unit, day, timeMs, data FROM staging WHERE unit = ? AND day BETWEEN ? AND ? ORDER BY unit, day, seq");
const QString kOpenAll =
    QStringLiteral("SELECT unit, day, timeMs, data FROM staging WHERE day BETWEEN ? AND ? ORDER BY unit, day, seq");

template <typename Body>
void query(const ArchiveDb& db, const QString& sql, const QVariantList& binds, Body body) {
  QSqlQuery q(db.db());
  q.setForwardOnly(true);
  q.prepare(sql);
  for (const QVariant& v : binds) q.addBindValue(v);
  if (!q.exec()) db.fail(kRead, q.lastError());
  while (q.next()) body(q);
  if (q.lastError().isValid()) db.fail(kRead, q.lastError());
}

}  // namespace

ArchiveReader::ArchiveReader(QString folder, int busyTimeoutMs) : folder_(std::move(folder)), busyTimeoutMs_(busyTimeoutMs) {}

QStringList ArchiveReader::takeProblems() { return std::exchange(problems_, {}); }

QStringList ArchiveReader::missingMonths(qint64 fromMs, qint64 toMs) const {
  QStringList out;
  const std::vector<QFileInfo> files = monthFiles(folder_);
  if (files.size() < 2) return out;
  QSet<QString> present;
  for (const QFileInfo& f : files) present << f.fileName();
  qint64 first = 0, last = 0, end = 0;
  monthSpan(files.front().fileName(), &first, nullptr);
  monthSpan(files.back().fileName(), &last, nullptr);
  for (qint64 month = std::max(first, fromMs); month <= last && month < toMs; month = end) {
    const QString name = monthFileName(month);
    monthSpan(name, nullptr, &end);
    if (!present.contains(name)) out << name.left(7);
  }
  return out;
}

std::vector<ArchiveReader::MonthFile> ArchiveReader::filesFor(qint64 fromMs, qint64 toMs) const {
  std::vector<MonthFile> out;
  for (const QFileInfo& f : monthFiles(folder_)) {
    MonthFile m{f.filePath(), 0, 0};
    monthSpan(f.fileName(), &m.firstMs, &m.endMs);
    if (m.endMs > fromMs && m.firstMs < toMs) out.push_back(m);
  }
  return out;
}

std::vector<StoredRun> ArchiveReader::monthRuns(const MonthFile& f, int unit, qint64 fromMs, qint64 toMs) {
  std::vector<StoredRun> out;
  try {
    ArchiveDb db(f.path, false, busyTimeoutMs_, false);
    query(db, kBlocks, {unit, toMs, fromMs}, [&](QSqlQuery& q) {
      for (StoredRun& r : decodeBlock(q.value(0).toByteArray()))
        if (r.timeMs >= fromMs && r.timeMs < toMs) out.push_back(r);
    });
    query(db, kStaging, {unit, dayOf(fromMs), dayOf(toMs - 1), fromMs, toMs},
          [&](QSqlQuery& q) { out.push_back(decodeRow(q.value(0).toLongLong(), q.value(1).toByteArray())); });
  } catch (const ArchiveError& e) {
    problems_ << QString::fromStdString(e.what());
    return {};
  }
  // Blocks are stored in order of arrival: only runs of a clock set back need the sort.
  const auto byTime = [](const StoredRun& a, const StoredRun& b) { return a.timeMs < b.timeMs; };
  if (!std::is_sorted(out.begin(), out.end(), byTime)) std::stable_sort(out.begin(), out.end(), byTime);
  return out;
}

std::vector<StoredRun> ArchiveReader::runs(int unit, qint64 fromMs, qint64 toMs) {
  std::vector<StoredRun> all;
  forEachMonth(unit, fromMs, toMs, [&](std::vector<StoredRun>& month) {
    all.insert(all.end(), month.begin(), month.end());
    return true;
  });
  return all;
}

bool ArchiveReader::forEachMonth(int unit, qint64 fromMs, qint64 toMs,
                                 const std::function<bool(std::vector<StoredRun>&)>& f) {
  for (const MonthFile& m : filesFor(fromMs, toMs)) {
    std::vector<StoredRun> month = monthRuns(m, unit, std::max(fromMs, m.firstMs), std::min(toMs, m.endMs));
    if (!month.empty() && !f(month)) return false;
  }
  return true;
}

qint64 ArchiveReader::estimateRuns(int unit, qint64 fromMs, qint64 toMs) {
  qint64 n = 0;
  for (const MonthFile& m : filesFor(fromMs, toMs)) {
    try {
      ArchiveDb db(m.path, false, busyTimeoutMs_, false);
      query(db, QStringLiteral("SELECT (SELECT coalesce(sum(runs), 0) FROM block WHERE unit = ? AND firstMs < ? AND "
                               "lastMs >= ?) + (SELECT count(*) FROM staging WHERE unit = ? AND timeMs >= ? AND timeMs < ?)"),
            {unit, toMs, fromMs, unit, fromMs, toMs}, [&](QSqlQuery& q) { n += q.value(0).toLongLong(); });
    } catch (const ArchiveError& e) {
      problems_ << QString::fromStdString(e.what());
    }
  }
  return n;
}

Series ArchiveReader::series(int unit, int cell, qint64 fromMs, qint64 toMs, int columns) {
  const int index = cell == kTotalCell ? kTotalIndex : cell - 1;
  if (index < 0 || index >= kValues) throw ArchiveError("长期记录：没有这个电池");
  columns = std::max(1, columns);
  std::vector<SeriesPoint> points;
  for (const MonthFile& m : filesFor(fromMs, toMs)) {
    const qint64 from = std::max(fromMs, m.firstMs), to = std::min(toMs, m.endMs);
    const std::size_t start = points.size();
    try {
      ArchiveDb db(m.path, false, busyTimeoutMs_, false);
      query(db, kBlocks, {unit, to, from}, [&](QSqlQuery& q) {
        const BlockColumn c = decodeBlockColumn(q.value(0).toByteArray(), index);
        for (std::size_t i = 0; i < c.times.size(); ++i)
          if (c.times[i] >= from && c.times[i] < to && (index == kTotalIndex || index < c.counts[i]))
            points.push_back({c.times[i], toVolts(c.values[i])});
      });
      query(db, kStaging, {unit, dayOf(from), dayOf(to - 1), from, to}, [&](QSqlQuery& q) {
        const StoredRun r = decodeRow(q.value(0).toLongLong(), q.value(1).toByteArray());
        if (index == kTotalIndex || index < r.cellCount) points.push_back({r.timeMs, toVolts(r.mv[std::size_t(index)])});
      });
    } catch (const ArchiveError& e) {
      problems_ << QString::fromStdString(e.what());
      points.resize(start);
    }
  }
  std::stable_sort(points.begin(), points.end(), [](const SeriesPoint& a, const SeriesPoint& b) { return a.timeMs < b.timeMs; });

  Series s;
  s.samples = qint64(points.size());
  if (qint64(points.size()) <= columns) {
    s.points = std::move(points);
    return s;
  }
  s.exact = false;
  s.columns.resize(std::size_t(columns));
  const double width = double(toMs - fromMs) / columns;
  for (int i = 0; i < columns; ++i) {
    SeriesColumn& c = s.columns[std::size_t(i)];
    c.fromMs = fromMs + qint64(width * i);
    c.toMs = i + 1 == columns ? toMs : fromMs + qint64(width * (i + 1));
    c.min = std::numeric_limits<double>::max();
    c.max = std::numeric_limits<double>::lowest();
  }
  std::size_t col = 0;
  for (const SeriesPoint& p : points) {
    while (col + 1 < s.columns.size() && p.timeMs >= s.columns[col].toMs) ++col;
    SeriesColumn& c = s.columns[col];
    ++c.count;
    c.min = std::min(c.min, p.volts);
    c.max = std::max(c.max, p.volts);
    c.mean += p.volts;
  }
  for (SeriesColumn& c : s.columns) {
    if (c.count == 0) c.min = c.max = 0;
    else c.mean /= c.count;
  }
  return s;
}

std::vector<DaySummary> ArchiveReader::daySummaries(int unit, qint64 fromDay, qint64 toDay) {
  std::vector<DaySummary> out;
  bool open = false;  // rows of open blocks added: merged below
  for (const MonthFile& m : filesFor(fromDay * kDayMs, (toDay + 1) * kDayMs)) {
    const std::size_t start = out.size();
    try {
      ArchiveDb db(m.path, false, busyTimeoutMs_, false);
      // One unit by its key (the primary key leads with it), or every unit.
      query(db, unit == 0 ? kSummariesAll : kSummariesOfUnit,
            unit == 0 ? QVariantList{fromDay, toDay} : QVariantList{unit, fromDay, toDay}, [&](QSqlQuery& q) {
              out.push_back({q.value(0).toInt(), q.value(1).toLongLong(), q.value(2).toInt(), q.value(3).toLongLong(),
                             q.value(4).toDouble() / 1000.0, q.value(5).toLongLong(), q.value(6).toLongLong()});
            });
      // The blocks still open (today's, as a rule), summarized from their runs.
      std::vector<StoredRun> runs;
      int runsUnit = 0;
      qint64 runsDay = 0;
      const auto summarize = [&] {
        for (const ValueSummary& v : summarizeRuns(runs))
          out.push_back({runsUnit, runsDay, v.cell, v.minMv, v.sumMv / double(v.samples), v.maxMv, v.samples});
        open = open || !runs.empty();
        runs.clear();
      };
      query(db, unit == 0 ? kOpenAll : kOpenOfUnit,
            unit == 0 ? QVariantList{fromDay, toDay} : QVariantList{unit, fromDay, toDay}, [&](QSqlQuery& q) {
              const int u = q.value(0).toInt();
              const qint64 day = q.value(1).toLongLong();
              if (u != runsUnit || day != runsDay) summarize();
              runsUnit = u;
              runsDay = day;
              runs.push_back(decodeRow(q.value(2).toLongLong(), q.value(3).toByteArray()));
            });
      summarize();
    } catch (const ArchiveError& e) {
      problems_ << QString::fromStdString(e.what());
      out.resize(start);
    }
  }
  // A day's rows may sit in two files only after the clock went back across a month; the
  // order by unit, day, cell holds across files for every other case.
  const auto byKey = [](const DaySummary& a, const DaySummary& b) {
    return std::tie(a.unit, a.day, a.cell) < std::tie(b.unit, b.day, b.cell);
  };
  if (!open && std::is_sorted(out.begin(), out.end(), byKey)) return out;
  std::stable_sort(out.begin(), out.end(), byKey);
  // One row per unit, day and cell: closed and open parts of a day merged.
  std::vector<DaySummary> merged;
  merged.reserve(out.size());
  for (const DaySummary& s : out) {
    if (merged.empty() || byKey(merged.back(), s)) {
      merged.push_back(s);
      continue;
    }
    DaySummary& m = merged.back();
    m.meanMv = (m.meanMv * double(m.samples) + s.meanMv * double(s.samples)) / double(m.samples + s.samples);
    m.minMv = std::min(m.minMv, s.minMv);
    m.maxMv = std::max(m.maxMv, s.maxMv);
    m.samples += s.samples;
  }
  return merged;
}

std::optional<std::pair<qint64, qint64>> ArchiveReader::span(int unit) {
  std::optional<std::pair<qint64, qint64>> out;
  for (const QFileInfo& f : monthFiles(folder_)) {
    try {
      ArchiveDb db(f.filePath(), false, busyTimeoutMs_, false);
      query(db,
            QStringLiteral("SELECT min(t0), max(t1) FROM (SELECT min(firstMs) AS t0, max(lastMs) AS t1 FROM block "
                           "WHERE unit = ? UNION ALL SELECT min(timeMs), max(timeMs) FROM staging WHERE unit = ?)"),
            {unit, unit}, [&](QSqlQuery& q) {
              if (q.value(0).isNull()) return;
              const qint64 a = q.value(0).toLongLong(), b = q.value(1).toLongLong();
              out = out ? std::make_pair(std::min(out->first, a), std::max(out->second, b)) : std::make_pair(a, b);
            });
    } catch (const ArchiveError& e) {
      problems_ << QString::fromStdString(e.what());
    }
  }
  return out;
}

}  // namespace archive
