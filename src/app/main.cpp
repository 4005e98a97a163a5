#include <QApplication>
#include <QDebug>
#include <QDir>
#include <cstdio>

#include "app/BackupWiring.h"
#include "app/ControlRoomWiring.h"
#include "app/DischargeWiring.h"
#include "app/HealthWiring.h"
#include "app/Publishing.h"
#include "app/StoreEvents.h"
#include "app/Unit1.h"
#include "common/StationLock.h"
#include "desktop/NewStation.h"
#include "desktop/SignalClose.h"
#include "desktop/StartUp.h"
#include "log/StationLog.h"
#include "toolkit/MessageBoxes.h"
#include "trend/TrendView.h"

int main(int argc, char** argv) {
  desktop::StartUp start = desktop::startFromCommandLine(argc, argv);
  if (start.exitCode) return *start.exitCode;
  QApplication app(argc, argv);
  if (const auto code = desktop::refuseStrayArguments(QApplication::arguments())) return *code;
  desktop::setDesktopIdentity(app);
  toolkit::QtMessageBoxes boxes;
  if (const auto code = desktop::settleMissingStation(start, boxes)) return *code;
  // Taken before the log opens: a second station must not write into the first one's log.
  const common::StationLock lock(start.stationPath);
  if (lock.anotherStation()) {
    std::fprintf(stderr, "cellstation: %s: %s\n", start.stationPath.c_str(), lock.error().c_str());
    boxes.error(nullptr, lock.holder() > 0 ? QStringLiteral("本站已在运行（进程号 %1）").arg(lock.holder())
                                            : QString::fromStdString(lock.error()));
    return 1;
  }
  stationlog::install(QDir::currentPath());
  if (!lock.held()) qWarning().noquote() << QString::fromStdString(lock.error());
  desktop::logStation(start);
  TForm1 Form1(boxes);
  const auto health = attachHealth(Form1);
  noteStoreEvents(Form1, *health);
  // The long-term record on the history chart's context menu: other ranges, comparison, export.
  const auto trend = std::make_unique<trend::TrendView>(*Form1.history, Form1.guard(), QDir::current().filePath(QStringLiteral("archive")),
                                                        QDir::current().dirName());
  // Discharge tests: recorded at full rate while a unit's total is low, or by the operator.
  const auto discharges = attachDischarge(Form1, *health);
  // The daily backup into backup/ and 备份数据库… in the context menu.
  const auto backups = attachBackups(Form1, *health);
  // Declared after the window and the health monitor, so it stops (and says "offline") first.
  const auto publishing = attachPublishing(Form1);
  if (publishing) publishHealthEvents(*health, *publishing);
  // Modbus TCP and metrics, off without controlroom.ini.
  const auto controlRoom = attachControlRoom(Form1, health.get());
  desktop::SignalClose closeOnSignal([&Form1] { Form1.close(); });
  Form1.show();
  return app.exec();
}
