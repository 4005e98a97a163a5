// Reading the archive: the curve's envelope against the raw runs, the CSV export, the
// weak-cell finder.
#include <QFile>
#include <QTimeZone>
#include <climits>
#include <cstdlib>
#include <map>
#include <ctime>

#include "ArchiveDemo.h"
#include "ArchiveFixture.h"
#include "archive/core/ArchiveExport.h"
#include "archive/core/ArchiveReader.h"
#include "archive/core/CellDeviation.h"

using namespace archive;

namespace {

// Runs every 180 s from t0 for `n` steps, leaving out steps [gapFrom, gapTo).
std::vector<qint64> writeRuns(ArchiveFolder& folder, qint64 t0, int n, int gapFrom, int gapTo, int runsPerBlock = 50) {
  ArchiveWriter writer(folder.options(runsPerBlock));
  std::vector<qint64> times;
  for (int i = 0; i < n; ++i) {
    if (i >= gapFrom && i < gapTo) continue;
    archive::Run r = run(t0 + qint64(i) * 180000, 1, 24, i);
    if (i % 17 == 0) r.units[0].cellCount = 5;  // a unit that reported fewer cells then
    writer.append(r);
    times.push_back(r.timeMs);
  }
  return times;
}

class LocalZone {
 public:
  explicit LocalZone(const char* tz) : old_(qgetenv("TZ")) {
    qputenv("TZ", tz);
    tzset();
  }
  ~LocalZone() {
    if (old_.isNull()) qunsetenv("TZ");
    else qputenv("TZ", old_);
    tzset();
  }

 private:
  QByteArray old_;
};

}  // namespace

TEST(ArchiveRead, EnvelopeColumnsHoldExactlyTheRawSamplesAndGapsAreEmpty) {
  ArchiveFolder folder;
  const qint64 t0 = utcMs(2026, 4, 29, 20);
  writeRuns(folder, t0, 900, 300, 420);  // over two days and a month, a six-hour gap
  ArchiveReader reader(folder.path());
  // Columns ten runs wide: every column's edges fall exactly on a run, the range's end too
  // (run 880, which belongs to no column).
  const qint64 from = t0, to = t0 + qint64(880) * 180000;
  const std::vector<StoredRun> raw = reader.runs(1, from, to);
  ASSERT_EQ(raw.size(), 880u - 120u);
  for (const int cell : {9, kTotalCell}) {
    const int index = cell == kTotalCell ? kTotalIndex : cell - 1;
    const Series s = reader.series(1, cell, from, to, 88);
    ASSERT_FALSE(s.exact);
    ASSERT_EQ(s.columns.size(), 88u);
    if (cell == kTotalCell) {
      for (const SeriesColumn& c : s.columns) EXPECT_TRUE(c.count == 10 || c.count == 0) << c.fromMs - t0 << " " << c.count;
    }
    qint64 counted = 0, gaps = 0;
    for (const SeriesColumn& c : s.columns) {
      double lo = 1e9, hi = -1e9, sum = 0;
      int n = 0;
      for (const StoredRun& r : raw)
        if (r.timeMs >= c.fromMs && r.timeMs < c.toMs && (index == kTotalIndex || index < r.cellCount)) {
          const double v = toVolts(r.mv[std::size_t(index)]);
          lo = std::min(lo, v), hi = std::max(hi, v), sum += v, ++n;
        }
      ASSERT_EQ(c.count, n);
      if (n == 0) {
        ++gaps;
        continue;
      }
      EXPECT_DOUBLE_EQ(c.min, lo);
      EXPECT_DOUBLE_EQ(c.max, hi);
      EXPECT_NEAR(c.mean, sum / n, 1e-12);
      counted += n;
    }
    EXPECT_EQ(counted, s.samples);
    EXPECT_EQ(gaps, 12);  // six hours of the 44-hour range
    EXPECT_EQ(s.columns.front().fromMs, from);
    EXPECT_EQ(s.columns.back().toMs, to);
  }
  // A range with fewer samples than columns: the samples themselves.
  const Series exact = reader.series(1, 3, t0, t0 + 3600000, 500);
  ASSERT_TRUE(exact.exact);
  ASSERT_EQ(exact.points.size(), 20u);
  const std::vector<StoredRun> hour = reader.runs(1, t0, t0 + 3600000);
  for (std::size_t i = 0, j = 0; i < hour.size(); ++i) {
    if (hour[i].cellCount < 3) continue;
    EXPECT_EQ(exact.points[j].timeMs, hour[i].timeMs);
    EXPECT_EQ(exact.points[j++].volts, toVolts(hour[i].mv[2]));
  }
}

TEST(ArchiveRead, CsvExportOfARangeWithAGapParsesBackToTheStoredRuns) {
  LocalZone zone("Europe/Berlin");
  ArchiveFolder folder;
  // Over the night the clocks go back (2026-10-25, 03:00 CEST -> 02:00 CET), with a gap.
  const qint64 t0 = utcMs(2026, 10, 24, 22);
  const std::vector<qint64> times = writeRuns(folder, t0, 120, 90, 100, 30);
  ArchiveReader reader(folder.path());
  const qint64 from = t0 + 10 * 180000, to = t0 + 110 * 180000;
  const QString path = folder.file(QStringLiteral("unit1.csv"));
  qint64 lastDone = -1;
  ASSERT_EQ(exportRunsCsv(reader, 1, from, to, path, [&](qint64 done, qint64) { return lastDone = done, true; }),
            ExportResult::Done);

  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
  const QList<QByteArray> lines = bytes.mid(3).split('\n');
  QStringList header = QString::fromUtf8(lines[0]).trimmed().split(QLatin1Char(','));
  ASSERT_EQ(header.size(), 110);
  EXPECT_EQ(header.front(), QStringLiteral("time"));
  EXPECT_EQ(header[108], QStringLiteral("V108"));
  EXPECT_EQ(header.back(), QStringLiteral("V"));

  const std::vector<StoredRun> stored = reader.runs(1, from, to);
  std::vector<qint64> want;
  for (qint64 t : times)
    if (t >= from && t < to) want.push_back(t);
  std::vector<qint64> got;
  QSet<QString> localHours;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    if (lines[i].isEmpty()) continue;
    ASSERT_TRUE(lines[i].endsWith('\r'));
    const QStringList fields = QString::fromUtf8(lines[i]).trimmed().split(QLatin1Char(','));
    ASSERT_EQ(fields.size(), 110);
    for (const QString& field : fields)
      ASSERT_FALSE(!field.isEmpty() && QStringLiteral("=+-@").contains(field.front())) << field.toStdString();
    const QDateTime t = QDateTime::fromString(fields[0], Qt::ISODate);
    ASSERT_TRUE(t.isValid()) << fields[0].toStdString();
    got.push_back(t.toMSecsSinceEpoch());
    const StoredRun& r = stored[std::size_t(got.size() - 1)];
    for (int k = 0; k < kValues; ++k) {
      const QString& field = fields[k + 1];
      if (k != kTotalIndex && k >= r.cellCount) {
        EXPECT_TRUE(field.isEmpty());
        continue;
      }
      EXPECT_EQ(std::llround(field.toDouble() * 1000), r.mv[std::size_t(k)]) << field.toStdString();
    }
    if (fields[0].startsWith(QStringLiteral("2026-10-25T02:"))) localHours << fields[0].right(6);
  }
  EXPECT_EQ(got, want);
  EXPECT_EQ(lastDone, qint64(want.size()));
  // The hour that comes twice is told apart by its offset.
  EXPECT_EQ(localHours, (QSet<QString>{QStringLiteral("+02:00"), QStringLiteral("+01:00")}));

  // Cancelled: no file, not even a partial one.
  const QString cancelled = folder.file(QStringLiteral("cancelled.csv"));
  EXPECT_EQ(exportRunsCsv(reader, 1, from, to, cancelled, [](qint64, qint64) { return false; }),
            ExportResult::Cancelled);
  EXPECT_EQ(exportDaySummariesCsv(reader, 1, dayOf(t0), dayOf(t0) + 2, cancelled, [](qint64, qint64) { return false; }),
            ExportResult::Cancelled);
  EXPECT_FALSE(QFile::exists(cancelled));
}

TEST(ArchiveRead, CsvTimesFollowZonesWhoseClocksChangeWithinAnHour) {
  // Lord Howe goes from +10:30 to +11:00 at 15:30 UTC, St. John's from -03:30 to -02:30 at
  // 05:30 UTC: the change falls inside a UTC hour of data.
  for (const auto& [tz, t0] : {std::pair{"Australia/Lord_Howe", utcMs(2026, 10, 3, 14)},
                               std::pair{"America/St_Johns", utcMs(2026, 3, 8, 4)}}) {
    LocalZone zone(tz);
    ArchiveFolder folder;
    const std::vector<qint64> times = writeRuns(folder, t0, 60, 0, 0, 25);
    ArchiveReader reader(folder.path());
    const QString path = folder.file(QStringLiteral("unit1.csv"));
    ASSERT_EQ(exportRunsCsv(reader, 1, t0, t0 + 60 * 180000, path), ExportResult::Done);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().mid(3).trimmed().split('\n');
    ASSERT_EQ(lines.size(), qsizetype(times.size()) + 1) << tz;
    QSet<int> offsets;
    for (std::size_t i = 0; i < times.size(); ++i) {
      const QString field = QString::fromLatin1(lines[qsizetype(i) + 1].left(lines[qsizetype(i) + 1].indexOf(',')));
      const QDateTime local = QDateTime::fromMSecsSinceEpoch(times[i]);
      const int off = local.offsetFromUtc();
      offsets << off;
      const QString want = local.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")) +
                           QStringLiteral("%1%2:%3")
                               .arg(off < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                               .arg(std::abs(off) / 3600, 2, 10, QLatin1Char('0'))
                               .arg(std::abs(off) % 3600 / 60, 2, 10, QLatin1Char('0'));
      EXPECT_EQ(field, want) << tz;
    }
    EXPECT_EQ(offsets.size(), 2) << tz;  // the change lies in the range
  }
}

TEST(ArchiveRead, DaySummaryExportHoldsTheOpenDayAndEqualsTheRawRunsPerUtcDay) {
  LocalZone zone("Asia/Shanghai");
  ArchiveFolder folder;
  // Two whole UTC days and five hours of a third (its block open), three units.
  const qint64 t0 = utcMs(2026, 11, 8);
  {
    ArchiveWriter writer(folder.options(480));
    for (int i = 0; i < 2 * 480 + 100; ++i) writer.append(run(t0 + qint64(i) * 180000, 3, 24, i));
  }
  ArchiveReader reader(folder.path());
  const QString path = folder.file(QStringLiteral("days.csv"));
  ASSERT_EQ(exportDaySummariesCsv(reader, 2, dayOf(t0), dayOf(t0) + 2, path), ExportResult::Done);
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QList<QByteArray> lines = f.readAll().mid(3).trimmed().split('\n');
  EXPECT_EQ(lines[0].trimmed(), "utc_date,unit,cell,min,mean,max,samples");
  // date,unit,cell -> min, mean, max, samples recomputed from the runs by UTC day.
  std::map<QString, QStringList> want;
  const std::vector<StoredRun> raw = reader.runs(2, t0, t0 + 3 * kDayMs);
  for (qint64 day = dayOf(t0); day <= dayOf(t0) + 2; ++day)
    for (const int index : {6, kTotalIndex}) {
      qint64 lo = LLONG_MAX, hi = 0, n = 0, sum = 0;
      for (const StoredRun& r : raw)
        if (dayOf(r.timeMs) == day) {
          const qint64 v = r.mv[std::size_t(index)];
          lo = std::min(lo, v), hi = std::max(hi, v), sum += v, ++n;
        }
      const auto mv = [](double v) { return QString::number(v / 1000.0, 'f', 3); };
      want[QDateTime::fromMSecsSinceEpoch(day * kDayMs, Qt::UTC).date().toString(Qt::ISODate) +
           (index == kTotalIndex ? QStringLiteral(",2,V") : QStringLiteral(",2,V7"))] = {
          mv(double(lo)), QString::number(double(sum) / double(n) / 1000.0, 'f', 6), mv(double(hi)), QString::number(n)};
    }
  std::map<QString, QStringList> got;
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const QStringList fields = QString::fromLatin1(lines[i].trimmed()).split(QLatin1Char(','));
    ASSERT_EQ(fields.size(), 7);
    const QString key = fields.mid(0, 3).join(QLatin1Char(','));
    if (want.count(key)) got[key] = fields.mid(3);
  }
  ASSERT_EQ(got.size(), want.size());
  for (const auto& [key, w] : want) {
    const QStringList& g = got[key];
    EXPECT_EQ(g[0], w[0]) << key.toStdString();
    EXPECT_NEAR(g[1].toDouble(), w[1].toDouble(), 0.000051) << key.toStdString();  // to 0.1 mV
    EXPECT_EQ(g[2], w[2]) << key.toStdString();
    EXPECT_EQ(g[3], w[3]) << key.toStdString();
  }
  EXPECT_EQ(got.rbegin()->second.back(), QStringLiteral("100"));  // today so far

  // A month without its file between two that have one is named.
  ArchiveWriter(folder.options()).append(run(utcMs(2027, 1, 10), 1, 24, 0));
  EXPECT_EQ(reader.missingMonths(t0, utcMs(2027, 2, 1)), QStringList{QStringLiteral("2026-12")});
  EXPECT_EQ(reader.missingMonths(utcMs(2027, 1, 1), utcMs(2027, 3, 1)), QStringList());
}

TEST(ArchiveRead, WeakCellIsTheMostDriftingWithItsMonthlyTrend) {
  ArchiveFolder folder;
  const qint64 t0 = utcMs(2026, 2, 1);
  {
    ArchiveWriter writer(folder.options());
    demo::SimulatedStation station(2, 24, t0, 7);
    for (int h = 0; h < 60 * 24; ++h) writer.append(station.run(t0 + qint64(h) * 3600000));  // 60 days, hourly
  }
  ArchiveReader reader(folder.path());
  const DeviationReport r = cellDeviations(reader, 2, t0, t0 + 60 * kDayMs, 120);
  ASSERT_EQ(r.cells.size(), 24u);
  ASSERT_EQ(r.drifting.size(), 10u);
  EXPECT_EQ(r.drifting.front().cell, 7);
  // 1 mV a day down against the others: about -30 mV a month (a discharge adds its sag).
  EXPECT_NEAR(r.drifting.front().trendMvPerMonth, -30.0, 4.0);
  for (std::size_t k = 1; k < r.drifting.size(); ++k) EXPECT_LT(std::abs(r.drifting[k].trendMvPerMonth), 5.0);
  ASSERT_EQ(r.curves.size(), 10u);
  ASSERT_EQ(r.curves.front().size(), 120u);
  EXPECT_GT(r.curves.front().front().mean, r.curves.front().back().mean + 40.0);
  // Unit 1 has no weak cell: nothing drifts like that there. At the default threshold the
  // finder marks cell 7 alone in unit 2 and nothing in unit 1.
  const DeviationReport healthy = cellDeviations(reader, 1, t0, t0 + 60 * kDayMs, 10);
  EXPECT_LT(std::abs(healthy.drifting.front().trendMvPerMonth), 5.0);
  for (const CellDeviation& d : healthy.drifting) EXPECT_FALSE(driftMarked(d, kDriftMarkMvPerMonth)) << d.cell;
  for (const CellDeviation& d : r.drifting) EXPECT_EQ(driftMarked(d, kDriftMarkMvPerMonth), d.cell == 7) << d.cell;
}
