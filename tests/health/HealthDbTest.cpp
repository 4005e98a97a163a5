// Limits and the event record in a real db1.mdb in a temporary station folder.
#include <gtest/gtest.h>

#include <QFile>

#include "acquisition/polling/StationDb.h"
#include "health/core/EventWriter.h"
#include "health/core/HealthDb.h"
#include "support/LogCapture.h"
#include "support/StationFolder.h"

namespace {

using health::Event;
using health::EventKind;
using health::HealthDb;
using health::HealthDbError;
using health::Limit;
using health::Limits;

Event alarm(int unit, int cell, double value, bool raised = true) {
  Event e;
  e.time = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7));
  e.kind = raised ? EventKind::AlarmRaised : EventKind::AlarmCleared;
  e.limit = Limit::CellLow;
  e.unit = unit;
  e.cell = cell;
  e.value = value;
  return e;
}

TEST(HealthDb, limitsSurviveAReopeningAndOffStaysOff) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 3);
  Limits limits;
  limits[Limit::CellLow] = 1.85;
  limits[Limit::Spread] = 0.1;
  {
    HealthDb db(QStringLiteral("db1.mdb"));
    EXPECT_FALSE(db.loadLimits().any()) << "never saved: all off";
    db.saveLimits(limits);
  }
  {
    HealthDb db(QStringLiteral("db1.mdb"));
    EXPECT_EQ(db.loadLimits(), limits);
    limits[Limit::CellLow].reset();
    db.saveLimits(limits);
  }
  HealthDb db(QStringLiteral("db1.mdb"));
  EXPECT_EQ(db.loadLimits(), limits);
  StationDb raw(folder.file(QStringLiteral("db1.mdb")));
  EXPECT_EQ(raw.rows(QStringLiteral("alarmLimit")), 1);
  EXPECT_TRUE(raw.value(QStringLiteral("select cellLow from alarmLimit")).isNull());
  EXPECT_EQ(raw.rows(QStringLiteral("setting")), 1) << "the settings row is not touched";
}

TEST(HealthDb, storedLimitsThatAreNoLimitsAreTakenAsOff) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 3);
  {
    HealthDb db(QStringLiteral("db1.mdb"));
    Limits limits;
    limits[Limit::CellHigh] = 2.4;
    db.saveLimits(limits);
  }
  StationDb raw(folder.file(QStringLiteral("db1.mdb")));
  raw.exec(QStringLiteral("update alarmLimit set cellLow='abc', totalLow=-3, totalHigh=55"));
  HealthDb db(QStringLiteral("db1.mdb"));
  QStringList problems;
  const Limits loaded = db.loadLimits(&problems);
  EXPECT_FALSE(loaded[Limit::CellLow]);
  EXPECT_FALSE(loaded[Limit::TotalLow]);
  EXPECT_DOUBLE_EQ(*loaded[Limit::CellHigh], 2.4);
  EXPECT_DOUBLE_EQ(*loaded[Limit::TotalHigh], 55);
  EXPECT_EQ(problems.size(), 2) << problems.join('\n').toStdString();

  raw.exec(QStringLiteral("update alarmLimit set cellLow=3, totalLow=null"));
  problems.clear();
  EXPECT_FALSE(db.loadLimits(&problems).any()) << "a low limit above its high one cannot be meant";
  EXPECT_EQ(problems.size(), 1);
}

TEST(HealthDb, eventsAreKeptNewestFirstPerUnitAndBounded) {
  StationFolder folder;
  folder.makeDatabase(QStringLiteral("5"), 3);
  HealthDb db(QStringLiteral("db1.mdb"), 5);
  std::vector<Event> batch;
  for (int i = 1; i <= 4; ++i) batch.push_back(alarm(i % 2 ? 1 : 2, i, 1.0 + i / 10.0));
  Event failure;
  failure.time = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 8));
  failure.kind = EventKind::SamplingFailed;
  failure.detail = QStringLiteral("disk full'); drop table event; --");
  batch.push_back(failure);
  db.append(batch);

  const auto all = db.events();
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[0].kind, QStringLiteral("采样失败"));
  EXPECT_EQ(all[0].detail, failure.detail) << "free text is bound, never part of a statement";
  EXPECT_EQ(all[0].unit, 0);
  EXPECT_FALSE(all[0].value);
  EXPECT_EQ(all[1].cell, 4);
  EXPECT_EQ(all[1].time, QStringLiteral("2026-03-04 05:06:07"));
  EXPECT_EQ(all[1].kind, QStringLiteral("单体电压过低"));
  EXPECT_DOUBLE_EQ(*all[1].value, 1.4);

  const auto unit1 = db.events(1);
  ASSERT_EQ(unit1.size(), 2u);
  EXPECT_EQ(unit1[0].cell, 3);
  EXPECT_EQ(unit1[1].cell, 1);
  EXPECT_EQ(db.events(0, 2).size(), 2u);

  // Past the bound the oldest go.
  db.append({alarm(3, 9, 1.9, false), alarm(3, 10, 1.9, false)});
  EXPECT_EQ(db.eventCount(), 5);
  const auto kept = db.events();
  EXPECT_EQ(kept.front().cell, 10);
  EXPECT_EQ(kept.front().kind, QStringLiteral("单体电压过低解除"));
  EXPECT_EQ(kept.back().cell, 3) << "cells 1 and 2, the oldest, are gone";
}

TEST(HealthDb, aMissingDatabaseIsAnErrorAndIsNotCreated) {
  StationFolder folder;
  HealthDb db(QStringLiteral("db1.mdb"));
  EXPECT_THROW(db.loadLimits(), HealthDbError);
  EXPECT_THROW(db.append({alarm(1, 1, 1.0)}), HealthDbError);
  EXPECT_FALSE(QFile::exists(folder.file(QStringLiteral("db1.mdb"))));
}

TEST(EventWriter, eventsNotWrittenByTheCloseAreAppendedToThePlainFileInOrder) {
  StationFolder folder;  // no database: every write fails
  const QString leftovers = folder.file(QStringLiteral("unwritten.txt"));
  for (int close = 1; close <= 2; ++close) {
    health::EventWriter::Options options;
    options.retryMs = 10;
    options.leftoverFile = leftovers;
    health::EventWriter writer(QStringLiteral("db1.mdb"), options);
    writer.append(alarm(close, 1, 1.5));
    writer.append(alarm(close, 3, 1.6));
    EXPECT_FALSE(writer.flush(5000));
    EXPECT_EQ(writer.pending(), 2u) << "kept while the database refuses them";
  }
  QFile file(leftovers);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("2026-03-04 05:06:07\t单体电压过低 unit=1 cell=1"))) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].contains(QStringLiteral("unit=1 cell=3")));
  EXPECT_TRUE(lines[3].contains(QStringLiteral("unit=2 cell=3"))) << "a later close appends";
  EXPECT_FALSE(QFile::exists(folder.file(QStringLiteral("db1.mdb"))));
}

TEST(EventWriter, whileTheRecordRefusesWritesTheNewestAreKeptInOrderAndTheDroppedCounted) {
  StationFolder folder;  // no database yet: every write fails
  LogCapture log("cellstation.health");
  health::EventWriter::Options options;
  options.retryMs = 600000;
  options.maxEvents = 5;
  health::EventWriter writer(QStringLiteral("db1.mdb"), options);
  writer.append(alarm(1, 1, 1.5));
  ASSERT_FALSE(writer.flush(5000));
  for (int cell = 2; cell <= 9; ++cell) writer.append(alarm(1, cell, 1.5));
  EXPECT_EQ(writer.pending(), 5u) << "memory holds no more than the record keeps";

  folder.makeDatabase(QStringLiteral("5"), 1);
  ASSERT_TRUE(writer.flush(30000));
  std::vector<int> cells;
  for (const auto& e : HealthDb(QStringLiteral("db1.mdb")).events()) cells.push_back(e.cell);
  EXPECT_EQ(cells, (std::vector<int>{9, 8, 7, 6, 5}));
  EXPECT_EQ(log.countWarnings(QStringLiteral("4 events, the oldest waiting, were dropped")), 1)
      << log.warnings().join('\n').toStdString();
}

}  // namespace
