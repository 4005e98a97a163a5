// Writing the archive: exact values back, clock changes, day summaries, failures, pruning by
// size and by age, damaged files, the operator's settings.
#include <QFile>
#include <QSqlError>
#include <cmath>
#include <map>
#include <set>

#include "ArchiveFixture.h"
#include "archive/core/ArchiveDb.h"
#include "archive/core/ArchiveReader.h"
#include "archive/core/ArchiveSettings.h"
#include "archive/core/Retention.h"
#include "support/StationFolder.h"

using namespace archive;

namespace {

// Every voltage the detectors can send with digits 0..9, at the exponents cells and totals use.
std::vector<double> everyPackedValue(int maxExponent) {
  std::vector<double> out;
  for (int e = 0; e <= maxExponent; ++e)
    for (int m = 1; m < 1000; ++m)
      out.push_back(protocol::decodePacked(std::uint8_t(e << 4 | m / 100), std::uint8_t((m / 10 % 10) << 4 | m % 10)));
  return out;
}

}  // namespace

TEST(ArchiveWrite, EveryPackedValueComesBackExactlyFromBlocksAndStaging) {
  ArchiveFolder folder;
  const std::vector<double> cells = everyPackedValue(1), totals = everyPackedValue(3);
  const qint64 t0 = utcMs(2026, 5, 3, 10);
  std::vector<UnitReading> written;
  {
    ArchiveWriter writer(folder.options(7));  // 7 runs a block: closed blocks and an open one
    std::size_t next = 0;
    for (int i = 0; i < 30; ++i) {
      archive::Run r;
      r.timeMs = t0 + i * 180000;
      for (int u = 1; u <= 2; ++u) {
        UnitReading x;
        x.unit = u;
        x.cellCount = u == 1 ? 108 : 24 + i % 3;  // a unit whose cell count changes
        for (int k = 0; k < x.cellCount; ++k) x.cells[std::size_t(k)] = cells[next++ % cells.size()];
        x.total = totals[(next * 13) % totals.size()];
        r.units.push_back(x);
        written.push_back(x);
      }
      writer.append(r);
    }
  }
  EXPECT_FALSE(folder.column(folder.file(QStringLiteral("2026-05.sqlite")), QStringLiteral("SELECT count(*) FROM block")).front() == 0);

  ArchiveReader reader(folder.path());
  std::vector<StoredRun> back[2] = {reader.runs(1, t0, t0 + qint64(30) * 180000), reader.runs(2, t0, t0 + qint64(30) * 180000)};
  ASSERT_EQ(back[0].size(), 30u);
  ASSERT_EQ(back[1].size(), 30u);
  for (int i = 0; i < 30; ++i)
    for (int u = 0; u < 2; ++u) {
      const UnitReading& w = written[std::size_t(i * 2 + u)];
      const StoredRun& r = back[u][std::size_t(i)];
      ASSERT_EQ(r.timeMs, t0 + i * 180000);
      ASSERT_EQ(r.cellCount, w.cellCount);
      for (int k = 0; k < kValues; ++k) {
        const double v = k == kTotalIndex ? w.total : k < w.cellCount ? w.cells[std::size_t(k)] : 0.0;
        // The stored millivolts are the packed value itself, and read back they encode to the
        // same two bytes the detector sent.
        ASSERT_EQ(r.mv[std::size_t(k)], std::llround(v * 1000)) << "run " << i << " unit " << u + 1 << " value " << k;
        ASSERT_EQ(protocol::encodePacked(toVolts(r.mv[std::size_t(k)])), protocol::encodePacked(v));
        ASSERT_NEAR(toVolts(r.mv[std::size_t(k)]), v, 1e-9 * std::max(1.0, v));
      }
    }
}

TEST(ArchiveWrite, DayBoundaryAndClockSetBackLoseAndRepeatNoRun) {
  ArchiveFolder folder;
  std::vector<qint64> times;
  for (qint64 t = utcMs(2026, 1, 31, 23, 0); t < utcMs(2026, 2, 1, 1, 0); t += 180000) times.push_back(t);  // over midnight and the month
  // The clock is set back two hours, into the closed day and month, and runs on from there.
  for (qint64 t = utcMs(2026, 1, 31, 23, 1, 30); t < utcMs(2026, 2, 1, 0, 30); t += 180000) times.push_back(t);
  {
    ArchiveWriter writer(folder.options());
    for (std::size_t i = 0; i < times.size(); ++i) writer.append(run(times[i], 2, 24, int(i)));
    writer.append(run(times.back(), 2, 24, int(times.size() - 1)));  // the same run again
  }
  ArchiveReader reader(folder.path());
  for (int unit = 1; unit <= 2; ++unit) {
    const std::vector<StoredRun> back = reader.runs(unit, utcMs(2026, 1, 31), utcMs(2026, 2, 2));
    std::vector<qint64> got, want = times;
    for (const StoredRun& r : back) got.push_back(r.timeMs);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << "unit " << unit;
  }
  // The days' summaries count each run once, in the day of its UTC time.
  const qint64 jan31 = dayOf(utcMs(2026, 1, 31)), feb1 = dayOf(utcMs(2026, 2, 1));
  qint64 wantJan = 0, wantFeb = 0;
  for (qint64 t : times) (dayOf(t) == jan31 ? wantJan : wantFeb) += 1;
  ArchiveWriter(folder.options()).closeOpenBlocks();
  std::map<qint64, qint64> samples;
  for (const DaySummary& s : reader.daySummaries(1, jan31, feb1))
    if (s.cell == kTotalCell) samples[s.day] += s.samples;
  EXPECT_EQ(samples[jan31], wantJan);
  EXPECT_EQ(samples[feb1], wantFeb);
}

TEST(ArchiveWrite, LeftMonthGivesBackEveryFreePageAndKeepsItsRuns) {
  ArchiveFolder folder;
  const QString jan = folder.file(QStringLiteral("2026-01.sqlite"));
  std::vector<qint64> times;
  for (qint64 t = utcMs(2026, 1, 31, 20, 0); t < utcMs(2026, 2, 1, 0, 6); t += 180000) times.push_back(t);
  ArchiveWriter writer(folder.options(480));
  for (std::size_t i = 0; i < times.size(); ++i) {
    writer.append(run(times[i], 20, 108, int(i)));
    if (times[i] == utcMs(2026, 1, 31, 23, 57)) {
      // The last evening's open blocks fill many pages of the January file.
      ASSERT_GT(folder.column(jan, QStringLiteral("SELECT count(*) FROM staging")).front(), 1000);
    }
  }
  // February has begun: January's blocks are closed and its staging pages all given back.
  EXPECT_EQ(folder.column(jan, QStringLiteral("SELECT count(*) FROM staging")).front(), 0);
  EXPECT_EQ(folder.column(jan, QStringLiteral("PRAGMA freelist_count")).front(), 0);
  const qint64 pages = folder.column(jan, QStringLiteral("PRAGMA page_count")).front();
  EXPECT_EQ(QFileInfo(jan).size(), pages * folder.column(jan, QStringLiteral("PRAGMA page_size")).front());
  std::vector<qint64> got;
  for (const StoredRun& r : ArchiveReader(folder.path()).runs(20, utcMs(2026, 1, 31), utcMs(2026, 2, 2))) got.push_back(r.timeMs);
  EXPECT_EQ(got, times);
}

TEST(ArchiveWrite, FailedWriteThrowsStoresNothingAndTheRetryStoresTheRunOnce) {
  ArchiveFolder folder;
  const qint64 t0 = utcMs(2026, 7, 1, 12);
  ArchiveWriter writer(folder.options(3));
  writer.append(run(t0, 3, 108, 0));
  writer.append(run(t0 + 180000, 3, 108, 1));
  const QString file = folder.file(QStringLiteral("2026-07.sqlite"));
  {
    // Another program holds the file: the third run, which would close the blocks, fails.
    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
    other.setDatabaseName(file);
    ASSERT_TRUE(other.open());
    QSqlQuery q(other);
    ASSERT_TRUE(q.exec(QStringLiteral("BEGIN EXCLUSIVE")));
    EXPECT_THROW(writer.append(run(t0 + 360000, 3, 108, 2)), ArchiveError);
    ASSERT_TRUE(q.exec(QStringLiteral("ROLLBACK")));
  }
  QSqlDatabase::removeDatabase(QStringLiteral("holder"));
  EXPECT_EQ(folder.column(file, QStringLiteral("SELECT count(*) FROM block")).front(), 0);
  EXPECT_EQ(folder.column(file, QStringLiteral("SELECT count(*) FROM staging")).front(), 6);

  writer.append(run(t0 + 360000, 3, 108, 2));
  EXPECT_EQ(folder.column(file, QStringLiteral("SELECT runs FROM block ORDER BY unit")), (std::vector<qint64>{3, 3, 3}));
  EXPECT_EQ(folder.column(file, QStringLiteral("SELECT count(*) FROM staging")).front(), 0);
  EXPECT_EQ(ArchiveReader(folder.path()).runs(2, t0, t0 + 3600000).size(), 3u);

  // An archive folder that cannot be made (a file of that name) fails with its name.
  ArchiveFolder blocked;
  QFile f(blocked.path());
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  try {
    ArchiveWriter(blocked.options()).append(run(t0, 1, 24, 0));
    FAIL() << "no error";
  } catch (const ArchiveError& e) {
    EXPECT_NE(QString::fromUtf8(e.what()).indexOf(QDir::toNativeSeparators(blocked.path())), -1) << e.what();
  }
}

TEST(ArchiveWrite, SizeLimitDropsTheOldestDaysFirstAndKeepsToday) {
  ArchiveFolder folder;
  // 40 days over two months, a run an hour, 108 cells.
  const qint64 t0 = utcMs(2026, 1, 10);
  const int hours = 40 * 24;
  ArchiveWriter writer(folder.options(24));
  for (int i = 0; i < hours; ++i) writer.append(run(t0 + qint64(i) * 3600000, 2, 108, i));
  const qint64 full = archiveBytes(folder.path());

  Retention half;
  half.sizeLimitBytes = full / 2;
  writer.setRetention(half);
  const AppendOutcome o = writer.append(run(t0 + qint64(hours) * 3600000, 2, 108, hours));
  EXPECT_GT(o.daysDropped, 0);
  EXPECT_FALSE(o.notices.isEmpty());
  const std::vector<QFileInfo> files = monthFiles(folder.path());
  std::set<qint64> days;
  for (const QFileInfo& f : files)
    for (qint64 d : folder.column(f.filePath(), QStringLiteral("SELECT DISTINCT day FROM daySummary"))) days.insert(d);
  // What is left is the newest days, without a hole, up to the last one.
  ASSERT_FALSE(days.empty());
  EXPECT_EQ(*days.rbegin() - *days.begin() + 1, qint64(days.size()));
  EXPECT_EQ(*days.rbegin(), dayOf(t0) + 39);
  EXPECT_GT(*days.begin(), dayOf(t0));

  // A limit below one day: only today's runs stay, and the emptied month file goes.
  Retention tiny;
  tiny.sizeLimitBytes = 1;
  writer.setRetention(tiny);
  const qint64 last = t0 + qint64(hours + 1) * 3600000;
  writer.append(run(last, 2, 108, hours + 1));
  ASSERT_EQ(monthFiles(folder.path()).size(), 1u);
  EXPECT_EQ(monthFiles(folder.path()).front().fileName(), QStringLiteral("2026-02.sqlite"));
  const std::vector<StoredRun> left = ArchiveReader(folder.path()).runs(1, t0, last + 1);
  ASSERT_FALSE(left.empty());
  EXPECT_EQ(dayOf(left.front().timeMs), dayOf(last));
  EXPECT_EQ(left.back().timeMs, last);
}

TEST(ArchiveWrite, ADaysSummaryCoversEveryBlockOfTheDayAndOnlyTheCellsReported) {
  ArchiveFolder folder;
  const qint64 t0 = utcMs(2026, 5, 6, 1);
  {
    // Ten runs in blocks of four: the day's highest cell 1 is in the first block, its lowest in
    // the second, the last holds neither. Unit 1 reports 5 cells in even runs and 6 in odd ones.
    ArchiveWriter writer(folder.options(4));
    for (int i = 0; i < 10; ++i) {
      UnitReading u;
      u.unit = 1;
      u.cellCount = i % 2 ? 6 : 5;
      u.cells.fill(packed(2.2));
      u.cells[0] = packed(i == 0 ? 2.3 : i == 5 ? 1.9 : 2.1);
      u.total = packed(50);
      writer.append(archive::Run{t0 + i * 180000, {u}});
    }
    writer.closeOpenBlocks();
  }
  const qint64 day = dayOf(t0);
  std::map<int, DaySummary> byCell;
  for (const DaySummary& s : ArchiveReader(folder.path()).daySummaries(1, day, day)) byCell[s.cell] = s;
  ASSERT_EQ(byCell.size(), 7u) << "the total and cells 1 to 6; cell 7 was never reported";
  EXPECT_EQ(byCell[1].maxMv, 2300);
  EXPECT_EQ(byCell[1].minMv, 1900);
  EXPECT_EQ(byCell[1].samples, 10);
  EXPECT_EQ(byCell[5].samples, 10) << "the fifth cell is reported in every run";
  EXPECT_EQ(byCell[6].samples, 5) << "the sixth only where the unit reported six";
  EXPECT_EQ(byCell[6].minMv, 2200);
  EXPECT_EQ(byCell[kTotalCell].samples, 10);
}

TEST(ArchiveWrite, DaysOlderThanTheYearsKeptGoFromTheBoundaryDayOnAndTheCurrentFileStays) {
  ArchiveFolder folder;
  const qint64 lastDayOut = utcMs(2025, 3, 14, 23, 57), firstDayIn = utcMs(2025, 3, 15);
  {
    ArchiveWriter writer(folder.options(4));
    for (const qint64 t : {utcMs(2025, 2, 20), lastDayOut, firstDayIn, firstDayIn + 180000})
      writer.append(run(t, 2, 24, 0));
    Retention oneYear;
    oneYear.yearsKept = 1;
    writer.setRetention(oneYear);
    // The first run of 15 March 2026: everything before 15 March 2025 is older than a year.
    const AppendOutcome o = writer.append(run(utcMs(2026, 3, 15, 0, 1), 2, 24, 0));
    EXPECT_GT(o.daysDropped, 0);
  }
  EXPECT_FALSE(QFile::exists(folder.file(QStringLiteral("2025-02.sqlite"))));
  ArchiveReader reader(folder.path());
  for (int unit = 1; unit <= 2; ++unit) {
    const std::vector<StoredRun> left = reader.runs(unit, utcMs(2025, 1, 1), utcMs(2025, 4, 1));
    ASSERT_EQ(left.size(), 2u) << "unit " << unit;
    EXPECT_EQ(left.front().timeMs, firstDayIn);
  }
  for (const DaySummary& s : reader.daySummaries(0, dayOf(lastDayOut) - 30, dayOf(firstDayIn)))
    EXPECT_EQ(s.day, dayOf(firstDayIn));

  // A file whose whole month is out of range but is the one being written is emptied, not removed.
  pruneByAge(folder.path(), 1, utcMs(2026, 4, 20), QStringLiteral("2025-03.sqlite"), 200);
  EXPECT_TRUE(QFile::exists(folder.file(QStringLiteral("2025-03.sqlite"))));
  EXPECT_TRUE(reader.runs(1, utcMs(2025, 1, 1), utcMs(2025, 4, 1)).empty());
  EXPECT_EQ(reader.runs(1, utcMs(2026, 3, 1), utcMs(2026, 4, 1)).size(), 1u);
}

TEST(ArchiveWrite, DamagedFileIsSetAsideReportedAndTheRunStillStored) {
  for (const qint64 at : {qint64(0), qint64(3 * 4096)}) {  // the header; a page of the tables
    SCOPED_TRACE(at);
    ArchiveFolder folder;
    const qint64 t0 = utcMs(2026, 3, 5, 8);
    {
      ArchiveWriter writer(folder.options(5));
      for (int i = 0; i < 12; ++i) writer.append(run(t0 + i * 180000, 4, 108, i));
    }
    const QString file = folder.file(QStringLiteral("2026-03.sqlite"));
    {
      QFile f(file);
      ASSERT_TRUE(f.open(QIODevice::ReadWrite));
      ASSERT_TRUE(f.seek(at));
      f.write(QByteArray(4096, '\x5A'));
    }
    ArchiveWriter writer(folder.options(5));
    const qint64 t1 = t0 + 20 * 180000;
    const AppendOutcome o = writer.append(run(t1, 4, 108, 20));
    ASSERT_EQ(o.notices.size(), 1) << o.notices.join(QLatin1Char('\n')).toStdString();
    EXPECT_NE(o.notices.front().indexOf(QStringLiteral(".corrupt-")), -1);
    const QStringList aside = QDir(folder.path()).entryList({QStringLiteral("2026-03.sqlite.corrupt-*")}, QDir::Files);
    EXPECT_EQ(aside.size(), 1);
    writer.append(run(t1 + 180000, 4, 108, 21));
    const std::vector<StoredRun> back = ArchiveReader(folder.path()).runs(3, t0, t1 + 3600000);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back.front().timeMs, t1);
  }
}

TEST(ArchiveSettings, DefaultsMadeOnFirstReadOperatorValuesCheckedGarbageTakenAsDefault) {
  StationFolder station;
  station.makeDatabase(QStringLiteral("5"), 3);
  QStringList problems;
  const Retention first = loadRetention(QStringLiteral("db1.mdb"), &problems);
  EXPECT_EQ(first.yearsKept, 10);
  EXPECT_EQ(first.sizeLimitBytes, 20 * 1024 * kMiB);
  EXPECT_TRUE(problems.isEmpty());

  saveRetention(QStringLiteral("db1.mdb"), {3, 500 * kMiB});
  const Retention back = loadRetention(QStringLiteral("db1.mdb"));
  EXPECT_EQ(back.yearsKept, 3);
  EXPECT_EQ(back.sizeLimitBytes, 500 * kMiB);
  EXPECT_THROW(saveRetention(QStringLiteral("db1.mdb"), {0, 500 * kMiB}), ArchiveError);
  EXPECT_THROW(saveRetention(QStringLiteral("db1.mdb"), {3, 10 * kMiB}), ArchiveError);
  EXPECT_EQ(loadRetention(QStringLiteral("db1.mdb")).yearsKept, 3);

  ArchiveFolder look;
  look.column(station.file(QStringLiteral("db1.mdb")), QStringLiteral("UPDATE archiveSetting SET yearsKept = 'x', sizeLimitMb = -5"));
  const Retention garbage = loadRetention(QStringLiteral("db1.mdb"), &problems);
  EXPECT_EQ(garbage.yearsKept, 10);
  EXPECT_EQ(garbage.sizeLimitBytes, 20 * 1024 * kMiB);
  EXPECT_EQ(problems.size(), 2);
  // No station database: an error, and none is made.
  EXPECT_THROW(loadRetention(QStringLiteral("nothing.mdb")), ArchiveError);
  EXPECT_FALSE(QFile::exists(QStringLiteral("nothing.mdb")));
}
