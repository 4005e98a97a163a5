// The station log: every thread's messages in one file in the station folder, never more than
// its bound on disk however much is logged.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>
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

TEST(StationLog, APipeOrALinkNamedLikeTheLogIsNeverWrittenNorWaitedOn) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString base = QDir(dir.path()).filePath(QLatin1String(stationlog::kFileName));
  const QString target = QDir(dir.path()).filePath(QStringLiteral("elsewhere"));
  ASSERT_TRUE(QFile(target).open(QIODevice::WriteOnly));
  // A pipe nobody reads would block the first line forever; a link would write where it points.
  ASSERT_EQ(::mkfifo(QFile::encodeName(base).constData(), 0644), 0);
  stationlog::install(dir.path());
  qCWarning(lcTest) << "to the pipe";
  stationlog::uninstall();
  ASSERT_TRUE(QFile::remove(base));
  ASSERT_TRUE(QFile::link(target, base));
  stationlog::install(dir.path());
  qCWarning(lcTest) << "through the link";
  stationlog::uninstall();
  EXPECT_TRUE(contents(target).isEmpty());
  EXPECT_TRUE(QFileInfo(base).isSymLink());
}

TEST(StationLog, ALogThatCannotBeRotatedStaysWithinItsBound) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString base = QDir(dir.path()).filePath(QLatin1String(stationlog::kFileName));
  // The rotated name is taken by a folder that holds a file: no rename can take its place.
  ASSERT_TRUE(QDir(dir.path()).mkpath(QFileInfo(base).fileName() + QStringLiteral(".1/kept")));
  const stationlog::Limits limits{2048, 1};
  stationlog::install(dir.path(), limits);
  for (int i = 0; i < 400; ++i) qCWarning(lcTest, "line %d", i);
  qCWarning(lcTest) << "the newest\r\x1b[31m\tline";
  stationlog::uninstall();
  EXPECT_LE(QFileInfo(base).size(), limits.maxBytes);
  const QByteArray current = contents(base);
  // The newest line is kept, its control characters written out.
  EXPECT_TRUE(current.contains("station.test: the newest\\x0d\\x1b[31m\\x09line\n")) << current.constData();
}
