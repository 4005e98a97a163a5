// Hands RUNS sampling runs of UNITS units (run r's totals are BASE + r) to the store's thread
// at once, trying again every 20 ms while db1.mdb is locked. Prints "delayed" when the first
// run meets the lock and "written" once every run is stored, then ends. A test holds the lock,
// lets go and kills this while the runs that waited are being written.
//
// usage: store_retry_child FOLDER UNITS RUNS BASE
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "store/StoreThread.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s FOLDER UNITS RUNS BASE\n", argv[0]);
    return 2;
  }
  QDir::setCurrent(QString::fromLocal8Bit(argv[1]));
  const int units = std::atoi(argv[2]);
  const int runs = std::atoi(argv[3]);
  const int base = std::atoi(argv[4]);
  store::StoreThread::Options options;
  options.retryEvery = std::chrono::milliseconds(20);
  store::StoreThread thread(options);
  QObject::connect(&thread, &store::StoreThread::delayStarted, [] {
    std::printf("delayed\n");
    std::fflush(stdout);
  });
  int stored = 0;
  QObject::connect(&thread, &store::StoreThread::runStored, [&] {
    if (++stored < runs) return;
    std::printf("written\n");
    std::fflush(stdout);
    app.quit();
  });
  QObject::connect(&thread, &store::StoreThread::runFailed, [&](const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
    app.exit(1);
  });
  acquisition::MeasurementTables tables;
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  for (int r = 1; r <= runs; ++r) {
    for (int u = 1; u <= units; ++u) tables.TotalVoltage[u] = base + r;
    thread.enqueueRun(tables, units, now + r * 180'000);
  }
  return app.exec();
}
