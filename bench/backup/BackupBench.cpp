// A whole copy of a full db1.mdb (99 units, 480 rows each) while nothing else writes: the
// station's backup (engine::backupDatabase: copy, check, rename) and its parts one by one:
// VACUUM INTO against SQLite's online backup (sqlite3_backup_step of every page in one step),
// and PRAGMA integrity_check against quick_check on the copy. Median of `copies` runs.
//
// usage: bench_backup [copies] [folder]   (default 5 copies, a temporary folder under the
// working directory: /tmp may be a memory file system)
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <utility>
#include <stdexcept>
#include <vector>

#include "engine/Backup.h"
#include "engine/TADOConnection.h"
#include "engine/Transaction.h"
#include "store/core/SamplingRun.h"
#include "store/core/Statements.h"

namespace {

constexpr int kUnitCount = 99;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double cpuNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

/// Wall and CPU milliseconds of one run.
std::pair<double, double> timeMs(const std::function<void()>& run) {
  const double cpu0 = cpuNow();
  const auto t0 = std::chrono::steady_clock::now();
  run();
  return {std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count(), cpuNow() - cpu0};
}

void makeFullDatabase(const QString& folder) {
  const QString file = QDir(folder).filePath(QStringLiteral("db1.mdb"));
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
    db.setDatabaseName(file);
    if (!db.open()) throw std::runtime_error("cannot create " + file.toStdString());
    QSqlQuery q(db);
    q.exec(QStringLiteral("CREATE TABLE setting (secend double, measureTotal integer)"));
    q.exec(QStringLiteral("INSERT INTO setting VALUES (5, 99)"));
  }
  QSqlDatabase::removeDatabase(QStringLiteral("make"));
  QDir::setCurrent(folder);
  engine::TADOConnection connection;
  connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db1.mdb"));
  acquisition::CellRow row{};
  engine::Transaction fill(connection);
  for (int u = 1; u <= kUnitCount; ++u) {
    connection.Execute(store::createTable(u));
    for (int r = 0; r < store::kWindowRows; ++r) {
      for (int k = 1; k <= acquisition::kCells; ++k) row[k] = 3 + ((u * 7 + k * 13 + r) % 1000) / 1000.0;
      connection.Execute(store::insertSample(u, row, 245.5 + r % 10, r * store::kTimeStep));
    }
  }
  fill.commit();
  connection.Close();
}

sqlite3* openRaw(const QString& path, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr) != SQLITE_OK) {
    const std::string why = db ? sqlite3_errmsg(db) : "out of memory";
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + path.toStdString() + ": " + why);
  }
  sqlite3_busy_timeout(db, 5000);
  return db;
}

void exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    const std::string why = err ? err : "?";
    sqlite3_free(err);
    throw std::runtime_error(std::string(sql) + ": " + why);
  }
}

void vacuumInto(const QString& source, const QString& target) {
  QFile::remove(target);
  sqlite3* db = openRaw(source, SQLITE_OPEN_READWRITE);
  const std::string sql = "VACUUM INTO '" + target.toStdString() + "'";
  exec(db, sql.c_str());
  sqlite3_close(db);
}

void onlineBackup(const QString& source, const QString& target) {
  QFile::remove(target);
  sqlite3* from = openRaw(source, SQLITE_OPEN_READWRITE);
  sqlite3* to = openRaw(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  sqlite3_backup* b = sqlite3_backup_init(to, "main", from, "main");
  if (!b) throw std::runtime_error(sqlite3_errmsg(to));
  const int rc = sqlite3_backup_step(b, -1);
  sqlite3_backup_finish(b);
  if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errstr(rc));
  exec(to, "PRAGMA journal_mode=DELETE");
  sqlite3_close(to);
  sqlite3_close(from);
}

void check(const QString& path, const char* pragma) {
  sqlite3* db = openRaw(path, SQLITE_OPEN_READONLY);
  exec(db, pragma);
  sqlite3_close(db);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int copies = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  QTemporaryDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/backupbench-XXXXXX")
                             : QDir::current().filePath(QStringLiteral("backupbench-XXXXXX")));
  const QString home = QDir::currentPath();
  try {
    makeFullDatabase(dir.path());
    QDir::setCurrent(home);
    const QString db = dir.filePath(QStringLiteral("db1.mdb"));
    const QString copy = dir.filePath(QStringLiteral("copy.mdb"));
    std::printf("full database: %d units x %d rows, %lld KB, %d copies each\n", kUnitCount, store::kWindowRows,
                QFile(db).size() / 1024, copies);
    const std::vector<std::pair<const char*, std::function<void()>>> cases{
        {"engine::backupDatabase (whole)", [&] {
           const QString failure = engine::backupDatabase(db, copy);
           if (!failure.isEmpty()) throw std::runtime_error(failure.toStdString());
         }},
        {"VACUUM INTO + integrity_check (before)", [&] {
           vacuumInto(db, copy);
           check(copy, "PRAGMA integrity_check");
         }},
        {"VACUUM INTO", [&] { vacuumInto(db, copy); }},
        {"online backup (one step)", [&] { onlineBackup(db, copy); }},
        {"integrity_check of the copy", [&] { check(copy, "PRAGMA integrity_check"); }},
        {"quick_check of the copy", [&] { check(copy, "PRAGMA quick_check"); }},
    };
    for (const auto& [label, run] : cases) {
      std::vector<double> ms, cpu;
      for (int i = 0; i < copies; ++i) {
        const auto [wall, used] = timeMs(run);
        ms.push_back(wall);
        cpu.push_back(used);
      }
      std::printf("%-40s median %8.1f ms (cpu %7.1f ms)  min %8.1f  max %8.1f\n", label, median(ms), median(cpu),
                  *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
    }
  } catch (const std::exception& e) {
    QDir::setCurrent(home);
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
