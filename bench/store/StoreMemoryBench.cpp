// Memory of the station's connections to a full db1.mdb of 99 units (480 rows each): the
// process's resident set (anonymous and file-backed apart) and SQLite's own heap (with the
// parsed schema) before any connection, after the store's connection has written a sampling
// run, and after a second connection (the window's) has read a curve. The measuring runs in a
// process of its own, so the database's making leaves nothing behind in it.
//
// usage: bench_store_memory [folder]   (default: a temporary folder under the working directory)
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "engine/Transaction.h"
#include "store/core/SamplingRun.h"
#include "store/core/Statements.h"

namespace {

constexpr int kUnitCount = 99;

void fillTables(acquisition::MeasurementTables& t, int seed) {
  for (int u = 1; u <= kUnitCount; ++u) {
    for (int k = 1; k <= acquisition::kCells; ++k) t.CellVoltage[u][k] = 3 + ((u * 7 + k * 13 + seed) % 1000) / 1000.0;
    t.TotalVoltage[u] = 245.5 + seed % 10;
  }
}

void make(const QString& folder) {
  QDir::setCurrent(folder);
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench_make"));
    db.setDatabaseName(QDir(folder).filePath(QStringLiteral("db1.mdb")));
    if (!db.open()) throw std::runtime_error("cannot create db1.mdb");
    QSqlQuery q(db);
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

long statusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
  return -1;
}

void report(const char* when) {
  std::printf("%-52s RSS %7ld kB (anonymous %7ld kB, file %7ld kB)  SQLite heap %7.1f MB\n", when, statusKb("VmRSS:"),
              statusKb("RssAnon:"), statusKb("RssFile:"), double(sqlite3_memory_used()) / 1e6);
}

void measure(const QString& folder) {
  QDir::setCurrent(folder);
  report("before any connection");
  engine::TADOConnection store;
  store.setConnectionString(QStringLiteral("Data Source=db1.mdb"));
  engine::TADOQuery query(store);
  acquisition::MeasurementTables tables;
  fillTables(tables, 1);
  if (!store::storeRun(store, query, kUnitCount, tables).empty()) throw std::runtime_error("a unit failed");
  report("the store's connection, one sampling run written");
  engine::TADOConnection window;
  window.setConnectionString(QStringLiteral("Data Source=db1.mdb"));
  window.Execute(store::cellCurve(7, 50));
  report("and the window's, one curve read");
  for (int i = 2; i < 12; ++i) {
    fillTables(tables, i);
    (void)store::storeRun(store, query, kUnitCount, tables);
  }
  report("after ten more sampling runs");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  try {
    if (argc > 2 && std::string(argv[1]) == "measure") {
      measure(QString::fromLocal8Bit(argv[2]));
      return 0;
    }
    QTemporaryDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) + QStringLiteral("/memorybench-XXXXXX")
                               : QDir::current().filePath(QStringLiteral("memorybench-XXXXXX")));
    if (!dir.isValid()) throw std::runtime_error("cannot make a temporary folder");
    const QString home = QDir::currentPath();
    make(dir.path());
    QDir::setCurrent(home);
    std::printf("db1.mdb of %d units, 480 rows each: %lld kB\n", kUnitCount,
                QFileInfo(QDir(dir.path()).filePath(QStringLiteral("db1.mdb"))).size() / 1024);
    std::fflush(stdout);
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("measure"), dir.path()});
    if (!child.waitForFinished(600000) || child.exitCode() != 0) throw std::runtime_error("the measuring process failed");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_store_memory: %s\n", e.what());
    return 1;
  }
  return 0;
}
