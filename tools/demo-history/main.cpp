// Gives a new demo station folder a day of history: demo-history FOLDER [CELLS] [--archive-days N]
// FOLDER holds db1.mdb with its settings row; every unit it counts gets 480 samples of a string
// of CELLS lead-acid cells (24 unless given). With --archive-days, FOLDER/archive also gets N days
// of long-term archive ending now (a weak cell drifting, a discharge every 30 days).
#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ArchiveDemo.h"
#include "DemoDay.h"
#include "engine/EngineError.h"
#include "engine/TADOQuery.h"
#include "store/core/Settings.h"
#include "store/core/Statements.h"

namespace {

const char kUsage[] =
    "usage: demo-history FOLDER [CELLS] [--archive-days N]\n"
    "Gives the station folder FOLDER (holding db1.mdb) a day of samples for every unit it counts,\n"
    "a string of CELLS cells each (1..108, 24 unless given). With --archive-days N (1..3660),\n"
    "FOLDER/archive also gets N days of long-term archive ending now.\n";

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  int archiveDays = 0;
  if (const qsizetype at = args.indexOf(QStringLiteral("--archive-days")); at >= 0) {
    bool ok = false;
    archiveDays = at + 1 < args.size() ? args[at + 1].toInt(&ok) : 0;
    if (!ok || archiveDays < 1 || archiveDays > 3660) {
      std::fprintf(stderr, "demo-history: --archive-days needs a number of days, 1..3660\n");
      return 2;
    }
    args.remove(at, 2);
  }
  const bool unknownOption = std::any_of(args.begin(), args.end(), [](const QString& a) { return a.startsWith(QLatin1Char('-')); });
  if (args.size() < 1 || args.size() > 2 || unknownOption) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const int cells = args.size() == 2 ? args[1].toInt() : 24;
  if (cells < 1 || cells > acquisition::kCells) {
    std::fprintf(stderr, "demo-history: CELLS must be 1..108\n");
    return 2;
  }
  const QString folder = args[0];
  try {
    // The folder becomes the working directory, as for the station itself.
    if (!QDir::setCurrent(folder)) {
      std::fprintf(stderr, "demo-history: no folder %s\n", qPrintable(folder));
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
    if (archiveDays > 0) {
      const int runs = demo::writeArchiveDays(QStringLiteral("archive"), units, cells, archiveDays);
      std::printf("demo-history: %d days of archive (%d runs) for units 1..%d in %s/archive\n", archiveDays, runs,
                  units, qPrintable(folder));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "demo-history: %s\n", e.what());
    return 1;
  }
  return 0;
}
