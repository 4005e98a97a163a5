// Recording into a real archive in a temporary station folder: the monitor fed as the window
// feeds it, the recorder's queue, records left open, the CSV and the settings in db1.mdb.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdlib>
#include <ctime>

#include "discharge/core/Archive.h"
#include "discharge/core/Csv.h"
#include "discharge/core/Judgement.h"
#include "discharge/core/Monitor.h"
#include "discharge/core/SettingsDb.h"
#include "support/LogCapture.h"
#include "support/StationFolder.h"

using namespace discharge;

namespace {

/// 24 cells at `cell` volts but cell 7 at `weak`; the total as the unit measures it.
void reply(Monitor& m, int unit, qint64 t, double cell, double weak) {
  std::vector<double> cells(24, cell);
  cells[6] = weak;
  m.takeReply(unit, t, cells, cell * 23 + weak);
}

}  // namespace

TEST(Recording, aDischargeAcrossMidnightIsStoredWholeWithExactValuesAndItsEvents) {
  QTemporaryDir dir;
  // No db1.mdb: the settings cannot be read, the defaults hold (logged).
  LogCapture log("cellstation.discharge");
  Monitor m(dir.path(), dir.filePath(QStringLiteral("db1.mdb")));
  EXPECT_EQ(log.countWarnings(QStringLiteral("defaults")), 1);
  QSignalSpy started(&m, &Monitor::started), ended(&m, &Monitor::ended);

  // Local midnight minus a minute; replies every 0.4 s across 20 units, unit 3 every 8 s.
  const qint64 t0 = QDateTime(QDate(2026, 12, 9), QTime(23, 59)).toMSecsSinceEpoch();
  qint64 t = t0;
  int expected = 0;
  for (int i = 0; i < 30; ++i, t += 8000) {
    // Floating, then 10 readings in discharge (1.95 V a cell, cell 7 at 1.78 V), then back.
    const bool low = i >= 5 && i < 15;
    for (int u = 1; u <= 20; ++u) {
      if (u == 3) continue;
      reply(m, u, t + u * 400, 2.25, 2.25);
    }
    reply(m, 3, t + 1200, low ? 1.95 : 2.25, low ? 1.78 : 2.24);
    expected += low ? 1 : 0;
    if (i == 9) m.takeSilence(3, t + 4000);
  }
  expected += 1;  // the first reading back up; the second confirms the end
  ASSERT_EQ(started.count(), 1);
  ASSERT_EQ(ended.count(), 1);
  EXPECT_EQ(started[0][0].toInt(), 3);
  EXPECT_EQ(started[0][1].toLongLong(), t0 + 5 * 8000 + 1200);
  EXPECT_EQ(ended[0][1].toLongLong(), t0 + 15 * 8000 + 1200);
  m.recorder().flush();

  Archive a(archiveFile(dir.path()));
  const auto list = a.list();
  ASSERT_EQ(list.size(), 1u);
  const Recording r = a.load(list[0].id);
  EXPECT_EQ(r.record.unit, 3);
  EXPECT_EQ(r.record.startedBy, StartReason::Automatic);
  EXPECT_EQ(r.record.endedBy, EndReason::Recovered);
  EXPECT_EQ(r.record.thresholdMv, 2130);
  ASSERT_EQ(r.size(), static_cast<std::size_t>(expected));
  EXPECT_EQ(r.times.front(), started[0][1].toLongLong());
  EXPECT_EQ(r.cell(0, 7), 1780);
  EXPECT_EQ(r.cell(0, 8), 1950);
  EXPECT_EQ(r.totals[0], 46630);  // 23 x 1.95 + 1.78, to the mV
  EXPECT_EQ(r.cell(r.size() - 1, 7), 2240);

  // The CSV: BOM, header, local time with its offset, exact volts, no cell beyond 24.
  const QByteArray csv = recordingCsv(r);
  ASSERT_TRUE(csv.startsWith("\xEF\xBB\xBFtime,V1,V2,"));
  const QList<QByteArray> lines = csv.split('\n');
  EXPECT_TRUE(lines[0].endsWith(",V108,V\r"));
  const QList<QByteArray> first = lines[1].trimmed().split(',');
  ASSERT_EQ(first.size(), 110);
  EXPECT_EQ(first[0], csvTime(r.times[0]).toLatin1());
  EXPECT_EQ(QDateTime::fromString(QString::fromLatin1(first[0]), Qt::ISODateWithMs).toMSecsSinceEpoch(), r.times[0]);
  EXPECT_EQ(first[7], "1.78");
  EXPECT_EQ(first[24], "1.95");
  EXPECT_EQ(first[25], "");
  EXPECT_EQ(first[109], "46.63");
  EXPECT_EQ(lines.size(), expected + 2);
}

TEST(Recording, byHandWithARatedRuntimeAndRecordsLeftOpenByACrashAreClosed) {
  QTemporaryDir dir;
  const QString file = archiveFile(dir.path());
  {
    Recorder rec(file);
    DischargeRecord r;
    r.unit = 5;
    r.cells = 2;
    r.startMs = 1000;
    const qint64 token = rec.begin(r);
    Sample s;
    s.cells = 2;
    for (qint64 t : {1000, 2000, 3500}) {
      s.timeMs = t;
      ASSERT_TRUE(rec.add(token, s));
    }
    // No end: the station died.
  }
  {
    Monitor m(dir.path(), dir.filePath(QStringLiteral("db1.mdb")));
    m.recorder().flush();
    EXPECT_TRUE(m.startRecording(9, 50'000, 180));
    EXPECT_FALSE(m.startRecording(9, 51'000)) << "already recorded by hand";
    reply(m, 9, 52'000, 2.25, 2.25);
    EXPECT_TRUE(m.endRecording(9, 53'000));
    reply(m, 9, 54'000, 2.25, 2.25);
    EXPECT_TRUE(m.startRecording(9, 60'000));
    // The station closes with this one running.
  }
  Archive a(file);
  const auto list = a.list();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[2].endedBy, EndReason::Interrupted);
  EXPECT_EQ(list[2].endMs, 3500) << "a record left open ends at its last sample";
  EXPECT_EQ(list[1].startedBy, StartReason::Manual);
  EXPECT_EQ(list[1].ratedMinutes, 180);
  EXPECT_EQ(list[1].endMs, 53'000);
  EXPECT_EQ(list[1].samples, 1);
  EXPECT_EQ(list[0].endedBy, EndReason::StationClosed);
  a.setRatedMinutes(list[0].id, 60);
  EXPECT_EQ(a.record(list[0].id)->ratedMinutes, 60);
}

TEST(Recording, aDischargeGoingOnAcrossARestartIsOneRecordJudgedFromItsRealStart) {
  QTemporaryDir dir;
  const QString file = archiveFile(dir.path());
  // A 4-minute discharge of unit 5 from t0; cell 7 reaches 1.80 V at 213 s. The station is
  // killed 60 s in (the records open, their samples stored) and back at 90 s.
  const qint64 t0 = QDateTime(QDate(2026, 12, 9), QTime(10, 0)).toMSecsSinceEpoch();
  const auto weak = [&](qint64 t) { return t - t0 >= 213'000 ? 1.80 : 1.85; };
  {
    Recorder rec(file);
    // Another unit's record left open 13 hours earlier, beyond the 12-hour maximum: it is not
    // continued.
    DischargeRecord old;
    old.unit = 6;
    old.startMs = t0 - 13 * 3'600'000;
    DischargeRecord r;
    r.unit = 5;
    r.cells = 24;
    r.startMs = t0;
    r.ratedMinutes = 4;
    r.thresholdMv = 2130;
    r.endMv = 1800;
    const qint64 token = rec.begin(r);
    rec.begin(old);
    for (qint64 t = t0; t <= t0 + 60'000; t += 3000) {
      Sample s;
      s.timeMs = t;
      s.cells = 24;
      s.cellMv.fill(1950);
      s.cellMv[6] = 1850;
      s.totalMv = 23 * 1950 + 1850;
      rec.add(token, s);
    }
  }
  Monitor m(dir.path(), dir.filePath(QStringLiteral("db1.mdb")));
  ASSERT_EQ(m.interruptedAtStart().size(), 2u);
  EXPECT_EQ(m.interruptedAtStart()[0].unit, 5);
  EXPECT_EQ(m.interruptedAtStart()[0].endMs, t0 + 60'000);
  EXPECT_TRUE(Monitor::interruptedDetail(m.interruptedAtStart()[0]).contains(reportTime(t0 + 60'000)));
  QSignalSpy started(&m, &Monitor::started), ended(&m, &Monitor::ended);
  const qint64 resumed = t0 + 90'000;
  qint64 t = resumed;
  for (; t < t0 + 240'000; t += 3000) {
    reply(m, 5, t, 1.95, weak(t));
    reply(m, 6, t + 100, 1.95, 1.95);  // unit 6 is in a discharge of its own now
  }
  for (int i = 0; i < 2; ++i, t += 3000) reply(m, 5, t, 2.25, 2.25);
  m.recorder().flush();
  ASSERT_EQ(started.count(), 2);
  ASSERT_EQ(ended.count(), 1);
  EXPECT_TRUE(started[0][2].toString().contains(reportTime(t0))) << started[0][2].toString().toStdString();
  EXPECT_FALSE(started[1][2].toString().contains(reportTime(t0 - 13 * 3'600'000)));

  Archive a(file);
  const auto list = a.list();
  ASSERT_EQ(list.size(), 3u);
  const auto five = std::find_if(list.begin(), list.end(), [](const DischargeRecord& r) { return r.unit == 5; });
  ASSERT_EQ(std::count_if(list.begin(), list.end(), [](const DischargeRecord& r) { return r.unit == 5; }), 1);
  const Recording r = a.load(five->id);
  EXPECT_EQ(r.record.startMs, t0);
  EXPECT_EQ(r.record.endedBy, EndReason::Recovered);
  ASSERT_EQ(r.restarts.size(), 1u);
  EXPECT_EQ(r.restarts[0].stoppedMs, t0 + 60'000);
  EXPECT_EQ(r.restarts[0].resumedMs, resumed);
  const Judgement j = judge(r, 1800);
  EXPECT_EQ(j.firstCrossedCell, 7);
  EXPECT_EQ(j.firstCrossedMs, 213'000);
  ASSERT_TRUE(j.capacity);
  EXPECT_NEAR(*j.capacity, 213.0 / 240.0, 1e-9);
  // Unit 6's old record stays as it was left; its new discharge is a record of its own.
  EXPECT_EQ(std::count_if(list.begin(), list.end(),
                          [](const DischargeRecord& r) { return r.unit == 6 && r.endedBy == EndReason::Interrupted; }),
            1);
}

TEST(Recording, theQueueKeepsEverySampleWhileItHasRoomAndSaysWhenFull) {
  QTemporaryDir dir;
  {
    // 99 units in discharge, 2000 replies in a burst: all stored.
    Recorder rec(archiveFile(dir.path()));
    std::vector<qint64> tokens;
    DischargeRecord r;
    r.cells = 108;
    for (r.unit = 1; r.unit <= 99; ++r.unit) tokens.push_back(rec.begin(r));
    Sample s;
    s.cells = 108;
    for (int i = 0; i < 2000; ++i) {
      s.timeMs = i;
      s.cellMv.fill(2000 + i % 7);
      ASSERT_TRUE(rec.add(tokens[static_cast<std::size_t>(i % 99)], s)) << i;
    }
    rec.flush();
    Archive a(archiveFile(dir.path()));
    qint64 stored = 0;
    for (const auto& r : a.list()) stored += r.samples;
    EXPECT_EQ(stored, 2000);
  }
  // An archive that cannot be written (a file where its folder should be): the queue fills to
  // its size, refuses the rest and says so once.
  QFile blocker(dir.filePath(QStringLiteral("blocked")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  LogCapture log("cellstation.discharge");
  {
    Recorder rec(dir.filePath(QStringLiteral("blocked/discharge.sqlite")), 50);
    const qint64 token = rec.begin(DischargeRecord{});
    int taken = 0;
    for (int i = 0; i < 80; ++i) taken += rec.add(token, Sample{}) ? 1 : 0;
    EXPECT_EQ(taken, 50);
    EXPECT_EQ(rec.refused(), 30u);
  }
  EXPECT_EQ(log.countWarnings(QStringLiteral("queue full")), 1);
  EXPECT_EQ(log.countWarnings(QStringLiteral("lost")), 1);
}

TEST(Recording, settingsAreRefusedWithAMessageAndKeptInTheStationDatabase) {
  for (const auto& [texts, message] : std::vector<std::pair<std::array<QString, 4>, QString>>{
           {{"2,13", "0.02", "1.8", "600"}, "不是电压值"},
           {{"2.13", "0", "1.8", "600"}, "恢复回差"},
           {{"2.13", "0.02", "2.2", "600"}, "终止电压"},
           {{"2.13", "0.02", "1.8", "1.5"}, "不是分钟数"},
           {{"2.13", "0.02", "1.8", "0"}, "最长放电时间"},
           {{"16", "0.5", "1.8", "60"}, "16V"},
           {{"", "0.02", "1.8", "60"}, "放电判定电压"}}) {
    try {
      parseSettings(texts, '.');
      ADD_FAILURE() << texts[0].toStdString() << " was taken";
    } catch (const SettingError& e) {
      EXPECT_TRUE(QString::fromUtf8(e.what()).contains(message)) << e.what();
    }
  }
  const Settings s = parseSettings({" 2,05 ", "0,03", "1,75", "90"}, ',');
  EXPECT_EQ(s, (Settings{2050, 30, 1750, 90}));

  StationFolder folder;
  EXPECT_THROW(loadSettings(QStringLiteral("db1.mdb")), SettingsDbError) << "db1.mdb is never made here";
  EXPECT_FALSE(QFile::exists(QStringLiteral("db1.mdb")));
  folder.makeDatabase(QStringLiteral("1"), 5);
  EXPECT_EQ(loadSettings(QStringLiteral("db1.mdb")), Settings{});
  saveSettings(QStringLiteral("db1.mdb"), s);
  EXPECT_EQ(loadSettings(QStringLiteral("db1.mdb")), s);
  EXPECT_THROW(saveSettings(QStringLiteral("db1.mdb"), Settings{2050, 30, 2100, 90}), SettingError);
  EXPECT_EQ(loadSettings(QStringLiteral("db1.mdb")), s);
  {
    // Another program stores nonsense: the defaults, and a line saying why.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
    db.setDatabaseName(QStringLiteral("db1.mdb"));
    ASSERT_TRUE(db.open());
    QSqlQuery(db).exec(QStringLiteral("UPDATE dischargeSetting SET endMv = '1.7'"));
    db.close();
  }
  QSqlDatabase::removeDatabase(QStringLiteral("other"));
  QStringList problems;
  EXPECT_EQ(loadSettings(QStringLiteral("db1.mdb"), &problems), Settings{});
  EXPECT_EQ(problems.size(), 1);
}
