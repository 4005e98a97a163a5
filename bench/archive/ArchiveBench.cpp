// The archive at the largest station (99 units x 108 cells, a run every 180 s), on realistic
// simulated readings (demo::SimulatedStation: cells floating near 2.25 V with 3 mV of noise at
// the detectors' 10 mV steps, daily warmth, slow creep, a weak cell drifting in every fourth
// unit, a discharge every 30 days):
//   1. DAYS days written run by run through ArchiveWriter: bytes on disk, extrapolated to a
//      year; each run's write, wall and CPU time (median, p99, max).
//   2. The naive layout (one row per unit and run, 110 REAL columns) for NAIVE_DAYS days of the
//      same readings, in the same process and folder: bytes a year, write per run, one cell read.
//   3. A full year: the blocks of one simulated unit written straight into the month files for
//      all 99 units (as the writer would leave them, without replaying 175 200 runs), with their
//      day summaries; then a year's curve of one cell (1000 columns) cold (the files dropped
//      from the page cache first) and warm, the weak-cell finder over the year cold and warm,
//      and the year's CSV export of one unit.
//
// usage: bench_archive [DAYS=30] [NAIVE_DAYS=5] [FOLDER]  (default folder: a temporary one under
// the working directory: /tmp may be a memory file system)
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>

#include "ArchiveDemo.h"
#include "NaiveLayout.h"
#include "archive/core/ArchiveDb.h"
#include "archive/core/ArchiveExport.h"
#include "archive/core/ArchiveReader.h"
#include "archive/core/ArchiveWriter.h"
#include "archive/core/BlockCodec.h"
#include "archive/core/CellDeviation.h"

using namespace archive;

namespace {

constexpr int kUnits = 99;
constexpr qint64 kRunMs = 180000;
constexpr int kRunsPerDay = int(kDayMs / kRunMs);

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Timing {
  std::vector<double> wall, cpu;
  template <typename F>
  void measure(F&& f) {
    const double c0 = threadCpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    f();
    wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    cpu.push_back(threadCpuMs() - c0);
  }
};

double quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, std::size_t(q * double(v.size())))];
}

void printTiming(const char* what, const Timing& t) {
  std::printf("%-34s wall median %7.2f ms  p99 %7.2f ms  max %7.2f ms | CPU median %7.2f ms  p99 %7.2f ms\n", what,
              quantile(t.wall, 0.5), quantile(t.wall, 0.99), quantile(t.wall, 1.0), quantile(t.cpu, 0.5),
              quantile(t.cpu, 0.99));
}

template <typename F>
double millis(F&& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Writes the folder's files out and drops them from the page cache (only them: other programs'
// cached files stay), so the next read comes from the disk.
void evictFromPageCache(const QString& folder) {
  for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files)) {
    const int fd = ::open(QFile::encodeName(f.filePath()).constData(), O_RDONLY);
    if (fd < 0) continue;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
}

qint64 folderBytes(const QString& folder) {
  qint64 n = 0;
  for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files)) n += f.size();
  return n;
}

// Where the bytes of the archive's files go, by table and index (SQLite's dbstat); returns the
// bytes in use (the rest of the files is free pages: the staging rows of the current day, reused
// every day and given back when the month is left).
qint64 printBreakdown(const QString& folder) {
  std::map<QString, qint64> bytes;
  qint64 used = 0;
  for (const QFileInfo& f : monthFiles(folder)) {
    ArchiveDb db(f.filePath(), false, 5000, false);
    QSqlQuery q(db.db());
    if (!q.exec(QStringLiteral("SELECT name, sum(pgsize) FROM dbstat GROUP BY name"))) {
      std::printf("  (no dbstat in this SQLite)\n");
      return 0;
    }
    while (q.next()) bytes[q.value(0).toString()] += q.value(1).toLongLong();
  }
  for (const auto& [name, n] : bytes) {
    std::printf("  %-18s %10.1f MB\n", qPrintable(name), double(n) / 1e6);
    used += n;
  }
  return used;
}

void writtenRunByRun(const QString& folder, int days) {
  const qint64 start = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
  demo::SimulatedStation station(kUnits, kCells, start, 1);
  WriterOptions options;
  options.folder = folder;
  ArchiveWriter writer(options);
  Timing t;
  const int runs = days * kRunsPerDay;
  for (int i = 0; i < runs; ++i) {
    const Run run = station.run(start + i * kRunMs);
    t.measure([&] { writer.append(run); });
  }
  const qint64 bytes = folderBytes(folder);
  const double values = double(runs) * kUnits * kValues;
  std::printf("\n1. Archive, %d days written run by run (%d runs of %d units x %d values)\n", days, runs, kUnits, kValues);
  printTiming("   append(run)", t);
  std::printf("   files: %.1f MB (with the free pages of the day's staging rows)\n", double(bytes) / 1e6);
  const qint64 used = printBreakdown(folder);
  std::printf("   in use: %.1f MB = %.3f bytes a value -> %.0f MB a year (+ at most one day's staging in the current file)\n",
              double(used) / 1e6, double(used) / values, double(used) / 1e6 * 365.0 / days);
}

void naive(const QString& folder, int days) {
  const qint64 start = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
  demo::SimulatedStation station(kUnits, kCells, start, 1);
  const QString file = QDir(folder).filePath(QStringLiteral("naive.sqlite"));
  Timing t;
  const int runs = days * kRunsPerDay;
  qint64 read = 0;
  double readMs = 0;
  {
    NaiveLayout layout(file);
    for (int i = 0; i < runs; ++i) {
      const Run run = station.run(start + i * kRunMs);
      t.measure([&] { layout.append(run); });
    }
    readMs = millis([&] { read = layout.readCell(50, 7, start, start + days * kDayMs); });
  }
  const qint64 bytes = folderBytes(folder);
  std::printf("\n2. Naive layout, %d days (one row per unit and run, 110 REAL columns, index on unit and time)\n", days);
  printTiming("   insert(run)", t);
  std::printf("   on disk: %.1f MB = %.2f bytes a value -> %.0f MB a year\n", double(bytes) / 1e6,
              double(bytes) / (double(runs) * kUnits * kValues), double(bytes) / 1e6 * 365.0 / days);
  std::printf("   one cell of one unit over the %d days: %lld samples in %.1f ms (x%.0f for a year: %.0f ms)\n", days,
              static_cast<long long>(read), readMs, 365.0 / days, readMs * 365.0 / days);
}

void fullYear(const QString& folder) {
  const qint64 start = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
  const qint64 end = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
  demo::SimulatedStation station(2, kCells, start, 3);
  const double buildMs = millis([&] {
    std::unique_ptr<ArchiveDb> db;
    QString month;
    for (qint64 day = dayOf(start); day < dayOf(end); ++day) {
      const QString name = monthFileName(day * kDayMs);
      if (name != month) {
        db.reset();
        db = std::make_unique<ArchiveDb>(QDir(folder).filePath(name), true, 5000, false);
        month = name;
      }
      // Unit 2 of the simulation (it has the weak cell) stands for every unit.
      std::vector<StoredRun> runs;
      for (int i = 0; i < kRunsPerDay; ++i) {
        const qint64 t = day * kDayMs + i * kRunMs;
        runs.push_back(toStored(t, station.run(t).units[1]));
      }
      QSqlDatabase d = db->db();
      d.transaction();
      QSqlQuery q(d);
      q.prepare(QStringLiteral("INSERT INTO block (unit, day, firstMs, lastMs, runs, data) VALUES (?, ?, ?, ?, ?, ?)"));
      const QByteArray blob = encodeBlock(runs);  // a day's block, as the writer closes it
      for (int u = 1; u <= kUnits; ++u) {
        for (const QVariant& v : {QVariant(u), QVariant(day), QVariant(runs.front().timeMs), QVariant(runs.back().timeMs),
                                  QVariant(kRunsPerDay), QVariant(blob)})
          q.addBindValue(v);
        q.exec();
      }
      q.prepare(QStringLiteral("INSERT INTO daySummary VALUES (?, ?, ?, ?, ?, ?, ?)"));
      for (int k = 0; k < kValues; ++k) {
        qint64 lo = runs[0].mv[std::size_t(k)], hi = lo;
        double sum = 0;
        for (const StoredRun& r : runs) {
          lo = std::min(lo, r.mv[std::size_t(k)]);
          hi = std::max(hi, r.mv[std::size_t(k)]);
          sum += double(r.mv[std::size_t(k)]);
        }
        for (int u = 1; u <= kUnits; ++u) {
          for (const QVariant& v : {QVariant(u), QVariant(day), QVariant(k == kTotalIndex ? 0 : k + 1), QVariant(lo),
                                    QVariant(qint64(sum * 1000 / kRunsPerDay)), QVariant(hi), QVariant(kRunsPerDay)})
            q.addBindValue(v);
          q.exec();
        }
      }
      d.commit();
    }
  });
  const qint64 bytes = folderBytes(folder);
  std::printf("\n3. A full year of the largest station, blocks written straight (%.0f s to build)\n", buildMs / 1000);
  std::printf("   on disk: %.1f MB = %.3f bytes a value\n", double(bytes) / 1e6,
              double(bytes) / (365.0 * kRunsPerDay * kUnits * kValues));
  printBreakdown(folder);

  Timing cold, curve, total, coldDev;
  ArchiveReader reader(folder);
  // Cold: the month files just written are still in the page cache; each cold read first
  // writes them out and drops them from it (these files only), as after a restart.
  for (int i = 0; i < 5; ++i) {
    evictFromPageCache(folder);
    cold.measure([&] { reader.series(50, 7, start, end, 1000); });
  }
  for (int i = 0; i < 6; ++i) {
    curve.measure([&] { reader.series(50, 7, start, end, 1000); });
    total.measure([&] { reader.series(50, kTotalCell, start, end, 1000); });
  }
  std::printf("   one-year curve of one cell, 1000 columns: cold median %.1f ms (max %.1f, CPU %.1f ms), warm median %.1f ms "
              "(CPU %.1f ms)\n",
              quantile(cold.wall, 0.5), quantile(cold.wall, 1.0), quantile(cold.cpu, 0.5), quantile(curve.wall, 0.5),
              quantile(curve.cpu, 0.5));
  std::printf("   one-year curve of the total:              warm median %.1f ms\n", quantile(total.wall, 0.5));
  DeviationReport dev;
  for (int i = 0; i < 3; ++i) {
    evictFromPageCache(folder);
    coldDev.measure([&] { dev = cellDeviations(reader, 50, start, end, 1000); });
  }
  const double devMs = millis([&] { dev = cellDeviations(reader, 50, start, end, 1000); });
  std::printf("   weak-cell finder over the year: cold median %.0f ms, warm %.0f ms; most drifting: cell %d, %.1f mV/month\n",
              quantile(coldDev.wall, 0.5), devMs, dev.drifting.empty() ? 0 : dev.drifting.front().cell,
              dev.drifting.empty() ? 0.0 : dev.drifting.front().trendMvPerMonth);
  const QString csv = QDir(folder).filePath(QStringLiteral("unit50.csv"));
  const double exportMs = millis([&] { exportRunsCsv(reader, 50, start, end, csv, [](qint64, qint64) { return true; }); });
  std::printf("   one-year CSV export of one unit: %.2f s, %.0f MB\n", exportMs / 1000, double(QFileInfo(csv).size()) / 1e6);
  QFile::remove(csv);
  const QString sums = QDir(folder).filePath(QStringLiteral("days.csv"));
  const double sumsMs = millis([&] { exportDaySummariesCsv(reader, 50, dayOf(start), dayOf(end) - 1, sums); });
  std::printf("   one-year day summaries of one unit as CSV: %.0f ms\n", sumsMs);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int days = argc > 1 ? std::atoi(argv[1]) : 30;
  const int naiveDays = argc > 2 ? std::atoi(argv[2]) : 5;
  QTemporaryDir tmp(QDir::current().filePath(QStringLiteral("bench-archive-XXXXXX")));
  const QString root = argc > 3 ? QString::fromLocal8Bit(argv[3]) : tmp.path();
  const QString written = QDir(root).filePath(QStringLiteral("written")), naiveDir = QDir(root).filePath(QStringLiteral("naive")),
                year = QDir(root).filePath(QStringLiteral("year"));
  for (const QString& d : {written, naiveDir, year}) QDir().mkpath(d);
  std::printf("Archive benchmark: %d units x %d cells, a run every %lld s\n", kUnits, kCells, kRunMs / 1000);
  try {
    if (days > 0) writtenRunByRun(written, days);
    if (naiveDays > 0) naive(naiveDir, naiveDays);
    fullYear(year);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_archive: %s\n", e.what());
    return 1;
  }
  return 0;
}
