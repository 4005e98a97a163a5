// A steady-state sampling run: 99 units whose tables already hold 480 rows each. Prints the
// median and mean time and bytes written per run (write_bytes of /proc/self/io: what the
// process sent towards the disk; the mean carries the checkpoints every few runs) for the
// station's engine (a write-ahead log checkpointed every store::kRunsPerCheckpoint runs, as it
// runs; after every run and the rollback journal, for comparison), the backup of the full
// database, for sample tables another
// program made with the plain create statement (the station's first run on them, which takes
// them over, and its tenth), and, in the same process and folder, for the plain schema where
// measureTime is an ordinary column updated row by row.
//
// usage: bench_store_run [runs] [folder] [station-only]   (default 40 runs, a temporary folder under the
// working directory: /tmp may be a memory file system, which writes nothing to disk)
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "engine/Backup.h"
#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "engine/Transaction.h"
#include "store/core/SamplingRun.h"
#include "store/core/Statements.h"

namespace {

constexpr int kUnitCount = 99;

long long ioCounter(const char* key) {
  std::ifstream in("/proc/self/io");
  std::string name;
  long long value = 0;
  while (in >> name >> value)
    if (name == std::string(key) + ":") return value;
  return -1;
}

struct Figures {
  std::vector<double> ms;
  std::vector<double> cpuMs;
  std::vector<double> bytes;
};

double cpuNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
double mean(const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0) / double(v.size()); }

template <typename Run>
Figures measure(int runs, Run&& run) {
  Figures f;
  for (int i = 0; i < runs; ++i) {
    const long long before = ioCounter("write_bytes");
    const double cpu0 = cpuNow();
    const auto t0 = std::chrono::steady_clock::now();
    run();
    const auto t1 = std::chrono::steady_clock::now();
    f.ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    f.cpuMs.push_back(cpuNow() - cpu0);
    f.bytes.push_back(double(ioCounter("write_bytes") - before));
  }
  return f;
}

void fillTables(acquisition::MeasurementTables& t, int seed) {
  for (int u = 1; u <= kUnitCount; ++u) {
    for (int k = 1; k <= acquisition::kCells; ++k) t.CellVoltage[u][k] = 3 + ((u * 7 + k * 13 + seed) % 1000) / 1000.0;
    t.TotalVoltage[u] = 245.5 + seed % 10;
  }
}

void makeEmptyDatabase(const QString& path) {
  const QString name = QStringLiteral("bench_make");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    if (!db.open()) throw std::runtime_error("cannot create " + path.toStdString());
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("CREATE TABLE setting (secend double, measureTotal integer)"));
    q.exec(QStringLiteral("INSERT INTO setting VALUES (5, 99)"));
  }
  QSqlDatabase::removeDatabase(name);
}

Figures benchStation(const QString& folder, int runs, engine::TADOConnection::Journal journal,
                     int checkpointInterval = store::kRunsPerCheckpoint) {
  QDir::setCurrent(folder);
  const QString file = QDir(folder).filePath(QStringLiteral("db1.mdb"));
  for (const QString& suffix : {QString(), QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")})
    QFile::remove(file + suffix);
  makeEmptyDatabase(file);
  engine::TADOConnection connection;
  connection.setJournal(journal);
  connection.setCheckpointInterval(checkpointInterval);
  connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db1.mdb"));
  engine::TADOQuery query(connection);
  acquisition::MeasurementTables tables;
  fillTables(tables, 0);
  {
    engine::Transaction fill(connection);
    for (int u = 1; u <= kUnitCount; ++u) {
      connection.Execute(store::createTable(u));
      for (int r = 0; r < store::kWindowRows; ++r)
        connection.Execute(store::insertSample(u, tables.CellVoltage[u], tables.TotalVoltage[u], r * store::kTimeStep));
    }
    fill.commit();
  }
  // The steady state: the day's rows in the file, the log empty (closing copies it in).
  connection.Close();
  int seed = 0;
  return measure(runs, [&] {
    fillTables(tables, ++seed);
    if (!store::storeRun(connection, query, kUnitCount, tables).empty()) throw std::runtime_error("a unit failed");
  });
}

// Whole copies of the full database just written (engine::backupDatabase, integrity check
// included), while the station's connection is closed.
Figures benchBackup(const QString& folder, int copies) {
  const QString file = QDir(folder).filePath(QStringLiteral("db1.mdb"));
  const QString copy = QDir(folder).filePath(QStringLiteral("copy.mdb"));
  Figures f = measure(copies, [&] {
    const QString failure = engine::backupDatabase(file, copy);
    if (!failure.isEmpty()) throw std::runtime_error(failure.toStdString());
  });
  std::printf("database %lld KB, copy %lld KB\n", QFile(file).size() / 1024, QFile(copy).size() / 1024);
  return f;
}

void exec(QSqlQuery& q, const QString& sql) {
  if (!q.exec(sql)) throw std::runtime_error(q.lastError().text().toStdString());
}

Figures benchPlain(const QString& folder, int runs) {
  const QString path = QDir(folder).filePath(QStringLiteral("plain.db"));
  makeEmptyDatabase(path);
  const QString name = QStringLiteral("bench_plain");
  Figures f;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    if (!db.open()) throw std::runtime_error("cannot open " + path.toStdString());
    QSqlQuery q(db);
    exec(q, QStringLiteral("PRAGMA journal_mode=WAL"));
    acquisition::MeasurementTables tables;
    fillTables(tables, 0);
    exec(q, QStringLiteral("BEGIN"));
    for (int u = 1; u <= kUnitCount; ++u) {
      exec(q, store::createTable(u));
      for (int r = 0; r < store::kWindowRows; ++r)
        exec(q, store::insertSample(u, tables.CellVoltage[u], tables.TotalVoltage[u], r * store::kTimeStep));
    }
    exec(q, QStringLiteral("COMMIT"));
    int seed = 0;
    // The run as the statements stand, each on its own, measureTime an ordinary column.
    f = measure(runs, [&] {
      fillTables(tables, ++seed);
      for (int u = 1; u <= kUnitCount; ++u) {
        exec(q, store::rowCount(u));
        q.next();
        const int rows = q.value(0).toInt();
        q.finish();
        if (rows >= store::kWindowRows) {
          exec(q, store::dropOldest(u));
          exec(q, store::shiftTimes(u));
        }
        exec(q, store::insertSample(u, tables.CellVoltage[u], tables.TotalVoltage[u], rows * store::kTimeStep));
      }
    });
  }
  QSqlDatabase::removeDatabase(name);
  return f;
}

// Sample tables made by another program with the station's own create statement (plain tables, a
// full day in each), then sampled by the station: its first run takes them over, later runs
// find the windowed form.
std::pair<Figures, Figures> benchAdopted(const QString& folder, int laterRun) {
  QDir::setCurrent(folder);
  const QString file = QDir(folder).filePath(QStringLiteral("db1.mdb"));
  for (const QString& suffix : {QString(), QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")})
    QFile::remove(file + suffix);
  makeEmptyDatabase(file);
  acquisition::MeasurementTables tables;
  fillTables(tables, 0);
  const QString name = QStringLiteral("bench_client");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(file);
    if (!db.open()) throw std::runtime_error("cannot open " + file.toStdString());
    QSqlQuery q(db);
    exec(q, QStringLiteral("PRAGMA journal_mode=DELETE"));
    exec(q, QStringLiteral("BEGIN"));
    for (int u = 1; u <= kUnitCount; ++u) {
      exec(q, store::createTable(u));
      for (int r = 0; r < store::kWindowRows; ++r)
        exec(q, store::insertSample(u, tables.CellVoltage[u], tables.TotalVoltage[u], r * store::kTimeStep));
    }
    exec(q, QStringLiteral("COMMIT"));
  }
  QSqlDatabase::removeDatabase(name);
  engine::TADOConnection connection;
  connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db1.mdb"));
  engine::TADOQuery query(connection);
  int seed = 0;
  const auto run = [&] {
    fillTables(tables, ++seed);
    if (!store::storeRun(connection, query, kUnitCount, tables).empty()) throw std::runtime_error("a unit failed");
  };
  const Figures first = measure(1, run);
  for (int i = 2; i < laterRun; ++i) run();
  return {first, measure(1, run)};
}

void print(const char* label, const Figures& f) {
  std::printf("%-40s median %7.1f ms (cpu %7.1f ms)  mean %7.1f ms   written per run: median %7.0f KB  mean %7.0f KB\n",
              label, median(f.ms), median(f.cpuMs), mean(f.ms), median(f.bytes) / 1024, mean(f.bytes) / 1024);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
  QTemporaryDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/storebench-XXXXXX")
                             : QDir::current().filePath(QStringLiteral("storebench-XXXXXX")));
  if (!dir.isValid()) {
    std::fprintf(stderr, "cannot make a temporary folder\n");
    return 1;
  }
  const QString home = QDir::currentPath();
  try {
    std::printf("steady-state run: %d units, 480 rows each, %d runs per engine, folder %s\n", kUnitCount, runs,
                qPrintable(dir.path()));
    const Figures station = benchStation(dir.path(), runs, engine::TADOConnection::Journal::Wal);
    QDir::setCurrent(home);
    print("station engine, WAL as the station runs", station);
    print("backup of the full database", benchBackup(dir.path(), 5));
    if (!(argc > 3 && std::string(argv[3]) == "station-only")) {
      print("station engine, WAL checkpointed per run", benchStation(dir.path(), runs, engine::TADOConnection::Journal::Wal, 1));
      QDir::setCurrent(home);
      print("station engine, rollback journal",
            benchStation(dir.path(), runs, engine::TADOConnection::Journal::Rollback));
      QDir::setCurrent(home);
      const auto [first, tenth] = benchAdopted(dir.path(), 10);
      QDir::setCurrent(home);
      print("client-made plain tables, 1st run", first);
      print("client-made plain tables, 10th run", tenth);
      print("plain schema (WAL, row updates)", benchPlain(dir.path(), runs));
    }
  } catch (const std::exception& e) {
    QDir::setCurrent(home);
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
