// Runs sampling runs without end on FOLDER/db1.mdb for UNITS units, so that a test can kill it
// at any moment. Prints "ready" once the database is open. With "clear", every other run is
// followed by a clearing of all the units' samples, so kills also land in clearings.
//
// usage: store_kill_child FOLDER UNITS [clear]
#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/TADOConnection.h"
#include "engine/TADOQuery.h"
#include "store/core/SamplingRun.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3 && !(argc == 4 && std::strcmp(argv[3], "clear") == 0)) {
    std::fprintf(stderr, "usage: %s FOLDER UNITS [clear]\n", argv[0]);
    return 2;
  }
  QDir::setCurrent(QString::fromLocal8Bit(argv[1]));
  const int units = std::atoi(argv[2]);
  const bool clearing = argc == 4;
  engine::TADOConnection connection;
  connection.setConnectionString(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db1.mdb"));
  engine::TADOQuery query(connection);
  acquisition::MeasurementTables tables;
  try {
    connection.Open();
    std::printf("ready\n");
    std::fflush(stdout);
    for (int run = 0;; ++run) {
      for (int u = 1; u <= units; ++u) tables.TotalVoltage[u] = run % 300;
      const auto failed = store::storeRun(connection, query, units, tables);
      if (!failed.empty()) {
        std::fprintf(stderr, "%s\n", qPrintable(store::failureText(failed)));
        return 1;
      }
      if (clearing && run % 2 == 1) store::clearSamples(connection, query, units);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
