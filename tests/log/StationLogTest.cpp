// The station log: every thread's messages in one file in the station folder, never more than
// its bound on disk however much is logged.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>
#include <QTemporaryDir>
#include <thread>
#include <vector>

#include "log/StationLog.h"

namespace {

Q_LOGGING_CATEGORY(lcTest, "station.test")

QByteArray contents(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(StationLog, RotatesWithinItsBoundAndKeepsEveryThreadsLines) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const stationlog::Limits limits{4096, 2};
  stationlog::install(dir.path(), limits);
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) qCWarning(lcTest, "thread %d line %d", t, i);
    });
  for (std::thread& th : threads) th.join();
  qCInfo(lcTest) << "last line\nwith a second part";
  stationlog::uninstall();
  qCWarning(lcTest) << "after uninstall";

  const QString base = QDir(dir.path()).filePath(QLatin1String(stationlog::kFileName));
  // Some 40 KB were logged: the current file and two rotated ones, each within the bound,
  // and nothing older.
  for (const QString& name : {base, base + QStringLiteral(".1"), base + QStringLiteral(".2")}) {
    ASSERT_TRUE(QFileInfo::exists(name)) << name.toStdString();
    EXPECT_LE(QFileInfo(name).size(), limits.maxBytes) << name.toStdString();
  }
  EXPECT_FALSE(QFileInfo::exists(base + QStringLiteral(".3")));

  const QByteArray current = contents(base);
  EXPECT_TRUE(current.contains("info station.test: last line | with a second part\n")) << current.constData();
  EXPECT_FALSE(current.contains("after uninstall"));
  // Whole lines only: every line of the kept files is complete and names its category.
  const QByteArray kept = contents(base + QStringLiteral(".2")) + contents(base + QStringLiteral(".1")) + current;
  EXPECT_TRUE(kept.endsWith('\n'));
  int lines = 0;
  for (const QByteArray& line : kept.split('\n')) {
    if (line.isEmpty()) continue;
    ++lines;
    EXPECT_TRUE(line.contains(" station.test: ")) << line.constData();
  }
  EXPECT_GT(lines, 40);
}

TEST(StationLog, EveryThreadsLinesArriveWholeAndOnce) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  stationlog::install(dir.path());
  constexpr int kThreads = 4, kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) qCWarning(lcTest, "thread %d line %d", t, i);
    });
  for (std::thread& th : threads) th.join();
  stationlog::uninstall();
  QSet<QByteArray> seen;
  for (const QByteArray& line : contents(QDir(dir.path()).filePath(QLatin1String(stationlog::kFileName))).split('\n')) {
    if (line.isEmpty()) continue;
    const qsizetype at = line.indexOf("warning station.test: thread ");
    ASSERT_GT(at, 0) << line.constData();
    seen.insert(line.mid(at));
  }
  EXPECT_EQ(seen.size(), kThreads * kLines);
}

TEST(StationLog, AFolderThatCannotBeWrittenNeverStopsTheCaller) {
  stationlog::install(QStringLiteral("/nonexistent/station"));
  qCWarning(lcTest) << "nowhere to go";
  stationlog::uninstall();
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/nonexistent/station")));
}
