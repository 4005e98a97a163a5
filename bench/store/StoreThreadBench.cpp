// Sampling runs through the store's thread, as the window hands them over: 99 units whose
// tables already hold 480 rows each. Per run: the time the store's thread took to write it
// (wall, as it reports it, and CPU: the process's CPU time less the main thread's), and the
// main thread's stall (how late a 1 ms timer fires at worst, from the hand-over to the answer:
// the main thread sleeps in its event loop meanwhile, as the station's does, instead of
// spinning and contending with the store's thread for two cores), beside the same lateness over
// a stretch as long with nothing handed over (the scheduler's share on a busy machine), and the
// hand-over call alone. Once with db1.mdb to itself, once with another program (python3's
// sqlite3) holding a read transaction all along.
//
// usage: bench_store_thread [runs] [folder]   (default 200 runs, enough for a p99; a temporary
// folder under the working directory)
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <vector>

#include "engine/TADOConnection.h"
#include "engine/Transaction.h"
#include "store/StoreThread.h"
#include "store/core/Statements.h"

namespace {

constexpr int kUnitCount = 99;

double cpuMs(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(p * double(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

void fillTables(acquisition::MeasurementTables& t, int seed) {
  for (int u = 1; u <= kUnitCount; ++u) {
    for (int k = 1; k <= acquisition::kCells; ++k) t.CellVoltage[u][k] = 3 + ((u * 7 + k * 13 + seed) % 1000) / 1000.0;
    t.TotalVoltage[u] = 245.5 + seed % 10;
  }
}

void makeFullDatabase(const QString& folder) {
  const QString file = QDir(folder).filePath(QStringLiteral("db1.mdb"));
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench_make"));
    db.setDatabaseName(file);
    if (!db.open()) throw std::runtime_error("cannot create " + file.toStdString());
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("CREATE TABLE setting (secend double, measureTotal integer)"));
    q.exec(QStringLiteral("INSERT INTO setting VALUES (5, 99)"));
  }
  QSqlDatabase::removeDatabase(QStringLiteral("bench_make"));
  engine::TADOConnection connection;
  connection.setConnectionString(QStringLiteral("Data Source=db1.mdb"));
  acquisition::MeasurementTables tables;
  fillTables(tables, 0);
  engine::Transaction fill(connection);
  for (int u = 1; u <= kUnitCount; ++u) {
    connection.Execute(store::createTable(u));
    for (int r = 0; r < store::kWindowRows; ++r)
      connection.Execute(store::insertSample(u, tables.CellVoltage[u], tables.TotalVoltage[u], r * store::kTimeStep));
  }
  fill.commit();
}

struct Figures {
  std::vector<double> wallMs, cpuMs, stallMs, enqueueMs, idleStallMs;
};

Figures runAll(int runs) {
  Figures f;
  store::StoreThread thread;
  acquisition::MeasurementTables tables;
  double written = -1;
  bool failed = false;
  QObject::connect(&thread, &store::StoreThread::runStored, [&](double seconds) { written = seconds; });
  QObject::connect(&thread, &store::StoreThread::runFailed, [&](const QString& text) {
    std::fprintf(stderr, "run failed: %s\n", qPrintable(text));
    failed = true;
  });
  QElapsedTimer clock;
  clock.start();
  // The main thread's lateness: a 1 ms timer's worst delay past its due time.
  qint64 lastTurn = 0;
  double longest = 0;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(1);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    longest = std::max(longest, double(now - lastTurn) / 1e6 - 1.0);
    lastTurn = now;
  });
  tick.start();
  QEventLoop wait;
  QObject::connect(&thread, &store::StoreThread::runStored, &wait, &QEventLoop::quit);
  QObject::connect(&thread, &store::StoreThread::runFailed, &wait, &QEventLoop::quit);
  const auto sleepFor = [&](qint64 ms) {
    QTimer::singleShot(std::chrono::milliseconds(ms), Qt::PreciseTimer, &wait, &QEventLoop::quit);
    wait.exec();
  };
  for (int i = 0; i < runs + 2 && !failed; ++i) {
    fillTables(tables, i + 1);
    sleepFor(5);
    written = -1;
    const double cpuAll = cpuMs(CLOCK_PROCESS_CPUTIME_ID), cpuMain = cpuMs(CLOCK_THREAD_CPUTIME_ID);
    lastTurn = clock.nsecsElapsed();
    longest = 0;
    thread.enqueueRun(tables, kUnitCount, QDateTime::currentMSecsSinceEpoch());
    const double enqueue = double(clock.nsecsElapsed() - lastTurn) / 1e6;
    while (written < 0 && !failed) wait.exec();
    const double cpuStore = (cpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpuAll) - (cpuMs(CLOCK_THREAD_CPUTIME_ID) - cpuMain);
    const double stall = std::max(0.0, longest);
    if (i < 2) continue;  // the first runs open the connection and the archive
    // The same stretch with nothing handed over: what the scheduler alone costs the loop.
    lastTurn = clock.nsecsElapsed();
    longest = 0;
    sleepFor(std::max<qint64>(1, qint64(written * 1e3)));
    f.idleStallMs.push_back(std::max(0.0, longest));
    f.wallMs.push_back(written * 1e3);
    f.cpuMs.push_back(cpuStore);
    f.stallMs.push_back(stall);
    f.enqueueMs.push_back(enqueue);
  }
  if (failed) throw std::runtime_error("a run failed");
  return f;
}

void print(const char* label, const Figures& f) {
  std::printf("%s (%zu runs%s)\n", label, f.wallMs.size(), f.wallMs.size() < 100 ? "; under 100, p99 is the maximum" : "");
  std::printf("  store thread: wall p50 %7.1f ms  p99 %7.1f ms   cpu p50 %7.1f ms  p99 %7.1f ms\n", percentile(f.wallMs, 0.5),
              percentile(f.wallMs, 0.99), percentile(f.cpuMs, 0.5), percentile(f.cpuMs, 0.99));
  std::printf("  main thread:  1 ms timer late p50 %6.3f ms  p99 %6.3f ms   hand-over p50 %6.3f ms  p99 %6.3f ms\n",
              percentile(f.stallMs, 0.5), percentile(f.stallMs, 0.99), percentile(f.enqueueMs, 0.5),
              percentile(f.enqueueMs, 0.99));
  std::printf("  main thread, nothing handed over, same stretch: late p50 %6.3f ms  p99 %6.3f ms\n",
              percentile(f.idleStallMs, 0.5), percentile(f.idleStallMs, 0.99));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  QTemporaryDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/threadbench-XXXXXX")
                             : QDir::current().filePath(QStringLiteral("threadbench-XXXXXX")));
  if (!dir.isValid()) {
    std::fprintf(stderr, "cannot make a temporary folder\n");
    return 1;
  }
  const QString home = QDir::currentPath();
  try {
    QDir::setCurrent(dir.path());
    makeFullDatabase(dir.path());
    std::printf("sampling runs through the store's thread: %d units, 480 rows each, folder %s\n", kUnitCount,
                qPrintable(dir.path()));
    print("db1.mdb to itself", runAll(runs));

    QProcess reader;
    reader.setWorkingDirectory(dir.path());
    reader.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QStringLiteral("import sqlite3, sys\n"
                                                       "c = sqlite3.connect('db1.mdb', isolation_level=None)\n"
                                                       "c.execute('BEGIN')\n"
                                                       "print(c.execute('select count(*) from measure1').fetchone()[0], flush=True)\n"
                                                       "sys.stdin.read()\n"
                                                       "c.execute('COMMIT')\n")});
    if (!reader.waitForReadyRead(30000)) throw std::runtime_error("the reader did not start");
    print("another program holding a read transaction", runAll(runs));
    reader.closeWriteChannel();
    reader.waitForFinished(30000);
  } catch (const std::exception& e) {
    QDir::setCurrent(home);
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  QDir::setCurrent(home);
  return 0;
}
