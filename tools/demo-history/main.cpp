// Gives a new demo station folder a day of history: demo-history FOLDER [CELLS]
// FOLDER holds db1.mdb with its settings row; every unit it counts gets 480 samples of a string
// of CELLS lead-acid cells (24 unless given).
#include <QCoreApplication>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "DemoDay.h"
#include "engine/EngineError.h"
#include "engine/TADOQuery.h"
#include "store/core/Settings.h"
#include "store/core/Statements.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: demo-history FOLDER [CELLS]\n");
    return 2;
  }
  const int cells = argc == 3 ? std::atoi(argv[2]) : 24;
  if (cells < 1 || cells > acquisition::kCells) {
    std::fprintf(stderr, "demo-history: CELLS must be 1..108\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  try {
    // The folder becomes the working directory, as for the station itself.
    if (!QDir::setCurrent(folder)) {
      std::fprintf(stderr, "demo-history: no folder %s\n", argv[1]);
      return 1;
    }
    engine::TADOConnection connection;
    connection.setConnectionString(QStringLiteral("Data Source=db1.mdb"));
    engine::TADOQuery settings(connection);
    settings.setSQL(store::settingsRead());
    settings.Open();
    const int units = store::loadedUnitCount(settings.Fields(1));
    settings.Close();
    demo::storeDay(connection, units, cells);
    connection.Close();
    std::printf("demo-history: a day of samples for units 1..%d in %s\n", units, qPrintable(folder));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "demo-history: %s\n", e.what());
    return 1;
  }
  return 0;
}
