// The station as a process: its command line and station folder, and signals sent to it from
// outside, as a service manager or a terminal sends them.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "Cellsim.h"
#include "acquisition/polling/StationDb.h"
#include "support/StationFolder.h"

#if !defined(CELLSTATION_PATH) || !defined(POLLING_STATION_PATH)
#error "the process tests need CELLSTATION_PATH and POLLING_STATION_PATH"
#endif

namespace {

struct Outcome {
  int code = -1;
  QString out, err;
};

// Runs a command that should end on its own; -1 when it did not (it is then killed).
Outcome runToEnd(const QString& program, const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(program, args);
  Outcome r;
  if (!p.waitForFinished(30000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

// Whether the process has a handler for the signal: from then on the signal cannot kill it.
bool catches(const QProcess& p, int signo) {
  QFile status(QStringLiteral("/proc/%1/status").arg(p.processId()));
  if (!status.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("SigCgt:")) return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signo - 1)) & 1;
  return false;
}

class StationProcess : public ::testing::Test {
 protected:
  bool present(const char* name) const { return QFile::exists(folder.file(QString::fromLatin1(name))); }

  /// Sends the signal, waits for the end; checks a clean exit and a database closed whole.
  void stopWith(QProcess& p, int signo) {
    ASSERT_EQ(::kill(static_cast<pid_t>(p.processId()), signo), 0);
    ASSERT_TRUE(p.waitForFinished(30000)) << "the station did not end on signal " << signo;
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "signal " << signo << " killed the station";
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_FALSE(present("db1.mdb-journal")) << "signal " << signo;
    EXPECT_FALSE(present("db1.mdb-wal")) << "signal " << signo;
    EXPECT_FALSE(present("db1.mdb-shm")) << "signal " << signo;
    StationDb db(folder.file(QStringLiteral("db1.mdb")));
    EXPECT_EQ(db.value(QStringLiteral("pragma integrity_check")).toString(), QStringLiteral("ok"));
  }

  StationFolder folder;
};

TEST_F(StationProcess, refusesAMissingFolderAFolderGivenTwiceAndAnUnknownArgument) {
  const QString missing = folder.file(QStringLiteral("nowhere"));
  Outcome r = runToEnd(QStringLiteral(CELLSTATION_PATH), {QStringLiteral("--station"), missing});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains(missing + QStringLiteral("' does not exist"))) << r.err.toStdString();

  r = runToEnd(QStringLiteral(CELLSTATION_PATH),
               {QStringLiteral("--station"), folder.path(), QStringLiteral("--station=") + folder.path()});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.contains(QStringLiteral("more than once"))) << r.err.toStdString();

  // Over ssh: no display at all. The mistake is said before the toolkit could abort.
  auto env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) env.remove(QString::fromLatin1(name));
  r = runToEnd(QStringLiteral(CELLSTATION_PATH), {QStringLiteral("--statoin"), folder.path()}, env);
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.contains(QStringLiteral("unknown argument '--statoin'"))) << r.err.toStdString();
  // The toolkit's own options (and their values) are no mistake; what follows them is.
  r = runToEnd(QStringLiteral(CELLSTATION_PATH),
               {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("--style=fusion"),
                QStringLiteral("--bogus")},
               env);
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.err.contains(QStringLiteral("unknown argument '--bogus'"))) << r.err.toStdString();
  EXPECT_FALSE(present("db1.mdb-wal"));
}

TEST_F(StationProcess, refusesAFolderTheUserCannotRead) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  ASSERT_EQ(::chmod(QFile::encodeName(folder.path()).constData(), 0755), 0);
  const QString closed = folder.file(QStringLiteral("closed"));
  ASSERT_TRUE(QDir().mkdir(closed));
  ASSERT_EQ(::chmod(QFile::encodeName(closed).constData(), 0700), 0);
  const Outcome r = runToEnd(QStringLiteral("setpriv"), {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                                    QStringLiteral("--clear-groups"), QStringLiteral(CELLSTATION_PATH),
                                                    QStringLiteral("--station"), closed});
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("cannot be read by this user"))) << r.err.toStdString();
}

TEST_F(StationProcess, eachStopSignalEndsTheStationWithItsDatabaseClosed) {
  folder.makeDatabase(QStringLiteral("5"), 3);
  for (int signo : {SIGTERM, SIGINT, SIGHUP}) {
    // Started elsewhere: the folder comes from the environment.
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("CELLSTATION_STATION"), folder.path());
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(QDir::tempPath());
    p.start(QStringLiteral(CELLSTATION_PATH), {});
    ASSERT_TRUE(p.waitForStarted(10000));
    // The window exists once the stop signals are caught; its first show connects right after.
    ASSERT_TRUE(waitUntil([&] { return catches(p, signo) || p.state() == QProcess::NotRunning; }, 30000));
    ASSERT_EQ(p.state(), QProcess::Running) << p.readAllStandardError().toStdString();
    stopWith(p, signo);
  }
}

TEST_F(StationProcess, sigtermEndsAStationWaitingOnItsConnectionFailureBox) {
  // No db1.mdb: the first show stops at the connection failure box, then the error box of the
  // settings read follows; nobody answers either.
  QProcess p;
  auto env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(CELLSTATION_PATH), {QStringLiteral("--station"), folder.path()});
  ASSERT_TRUE(p.waitForStarted(10000));
  ASSERT_TRUE(waitUntil([&] { return catches(p, SIGTERM) || p.state() == QProcess::NotRunning; }, 30000));
  ASSERT_EQ(::kill(static_cast<pid_t>(p.processId()), SIGTERM), 0);
  ASSERT_TRUE(p.waitForFinished(30000)) << "the station did not end on SIGTERM";
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_FALSE(present("db1.mdb")) << "the station must never create its database";
}

TEST_F(StationProcess, sigtermStopsAPollingStationAndItsFolderIsWhole) {
  folder.makeDatabase(QStringLiteral("0.2"), 3);
  Cellsim sim(folder.file(QStringLiteral("COM1")), {QStringLiteral("--units"), QStringLiteral("3")});
  QProcess p;
  auto env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(POLLING_STATION_PATH), {QStringLiteral("--station"), folder.path()});
  ASSERT_TRUE(p.waitForStarted(10000));
  ASSERT_TRUE(waitUntil([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; }, 30000));
  ASSERT_EQ(p.readLine().trimmed(), QByteArray("polling")) << p.readAllStandardError().toStdString();
  stopWith(p, SIGTERM);
  EXPECT_FALSE(p.readAllStandardError().contains("box:"));
  StationDb db(folder.file(QStringLiteral("db1.mdb")));
  // Pressing 开始 saved the settings; they survived the stop.
  EXPECT_EQ(db.value(QStringLiteral("select measureTotal from setting")).toInt(), 3);
  EXPECT_EQ(sim.stop(), 0);
}

TEST_F(StationProcess, aSecondStationOnTheFolderIsRefusedNamingTheFirst) {
  folder.makeDatabase(QStringLiteral("5"), 3);
  auto env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  // Starts the station on the folder and waits until its window is up.
  const auto startStation = [&](QProcess& p) {
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CELLSTATION_PATH), {QStringLiteral("--station"), folder.path()});
    ASSERT_TRUE(p.waitForStarted(10000));
    ASSERT_TRUE(waitUntil([&] { return catches(p, SIGTERM) || p.state() == QProcess::NotRunning; }, 30000));
    ASSERT_EQ(p.state(), QProcess::Running) << p.readAllStandardError().toStdString();
  };
  QProcess first;
  ASSERT_NO_FATAL_FAILURE(startStation(first));

  // The refusal is printed before its box, which nobody here answers.
  QProcess second;
  second.setProcessEnvironment(env);
  second.start(QStringLiteral(CELLSTATION_PATH), {QStringLiteral("--station"), folder.path()});
  ASSERT_TRUE(second.waitForStarted(10000));
  QByteArray said;
  ASSERT_TRUE(waitUntil([&] {
    said += second.readAllStandardError();
    return said.contains("another station") || second.state() == QProcess::NotRunning;
  }, 30000)) << said.toStdString();
  EXPECT_TRUE(said.contains(QByteArray::number(first.processId()))) << said.toStdString();
  EXPECT_FALSE(catches(second, SIGTERM)) << "the second station got as far as its window";
  second.kill();
  second.waitForFinished();

  // A station killed outright leaves its lock file, which does not block the next one.
  first.kill();
  ASSERT_TRUE(first.waitForFinished(30000));
  QProcess third;
  ASSERT_NO_FATAL_FAILURE(startStation(third));
  stopWith(third, SIGTERM);
}

}  // namespace
