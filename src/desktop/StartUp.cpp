#include "desktop/StartUp.h"

#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "desktop/CommandLine.h"
#include "desktop/Log.h"
#include "desktop/StationDir.h"
#include "engine/Backup.h"

namespace desktop {

namespace {

constexpr int kUsageError = 2;
constexpr int kStationError = 1;

std::string programName(int argc, char** argv) {
  if (argc < 1 || argv[0] == nullptr) return "cellstation";
  const std::string p = argv[0];
  const auto slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

// --backup: the copy made through SQLite, with no window and no display.
int backupStation(const std::string& program, const QString& file, int argc, char** argv) {
  // Qt SQL loads its driver through the application object.
  QCoreApplication app(argc, argv);
  const QString failure = engine::backupDatabase(QDir::current().absoluteFilePath(QStringLiteral("db1.mdb")), file);
  if (!failure.isEmpty()) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), failure.toLocal8Bit().constData());
    return kStationError;
  }
  return 0;
}

}  // namespace

StartUp startFromCommandLine(int argc, char** argv) {
  StartUp start;
  const std::string program = programName(argc, argv);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  const CommandLine cl = parseCommandLine(args, std::getenv(kStationVariable));
  switch (cl.action) {
    case CommandLine::Action::Help:
      std::fputs(helpText(program).c_str(), stdout);
      start.exitCode = 0;
      return start;
    case CommandLine::Action::Version:
      std::fputs(versionText().c_str(), stdout);
      start.exitCode = 0;
      return start;
    case CommandLine::Action::Error:
      std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program.c_str(), cl.error.c_str(), program.c_str());
      start.exitCode = kUsageError;
      return start;
    case CommandLine::Action::Run:
    case CommandLine::Action::Backup:
      break;
  }
  // A mistake on the command line is said here, before the toolkit starts: without a display
  // the toolkit would abort before anyone read it.
  if (const std::string stray = firstStrayArgument(cl.others); !stray.empty()) {
    std::fprintf(stderr, "%s: unknown argument '%s'\nTry '%s --help'.\n", program.c_str(), stray.c_str(), program.c_str());
    start.exitCode = kUsageError;
    return start;
  }
  // Named from where the command was given, before the station folder is entered.
  const QString backupFile =
      cl.action == CommandLine::Action::Backup ? QFileInfo(QString::fromStdString(cl.backupFile)).absoluteFilePath() : QString();
  if (cl.stationDir) {
    const EnteredStation entered = enterStationDir(*cl.stationDir);
    if (!entered.ok && cl.askToCreate && cl.action == CommandLine::Action::Run &&
        !QFileInfo::exists(QString::fromStdString(*cl.stationDir))) {
      start.missingStation = QFileInfo(QString::fromStdString(*cl.stationDir)).absoluteFilePath().toStdString();
      return start;
    }
    if (!entered.ok) {
      std::fprintf(stderr, "%s: %s\n", program.c_str(), entered.error.c_str());
      start.exitCode = kStationError;
      return start;
    }
    start.stationPath = entered.path;
    start.stationWarning = entered.warning;
  } else {
    char buf[PATH_MAX];
    start.stationPath = ::getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : std::string(".");
  }
  if (cl.action == CommandLine::Action::Backup) start.exitCode = backupStation(program, backupFile, argc, argv);
  return start;
}

std::optional<int> refuseStrayArguments(const QStringList& arguments) {
  std::vector<std::string> args;
  for (qsizetype i = 1; i < arguments.size(); ++i) args.push_back(arguments.at(i).toStdString());
  // The environment has been read already; only what remains on the command line matters here.
  const CommandLine cl = parseCommandLine(args, nullptr);
  if (cl.others.empty()) return std::nullopt;
  const std::string program = arguments.isEmpty() ? "cellstation" : QFileInfo(arguments.first()).fileName().toStdString();
  std::fprintf(stderr, "%s: unknown argument '%s'\nTry '%s --help'.\n", program.c_str(), cl.others.front().c_str(),
               program.c_str());
  return kUsageError;
}

void setDesktopIdentity(QApplication& app) {
  QApplication::setApplicationName(QStringLiteral("cellstation"));
  QApplication::setApplicationVersion(QStringLiteral(CELLSTATION_VERSION));
  // Matches the installed cellstation.desktop, so the desktop groups the window under it.
  QGuiApplication::setDesktopFileName(QStringLiteral("cellstation"));
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/cellstation/icons/%1x%1/cellstation.png").arg(size), QSize(size, size));
  app.setWindowIcon(icon);
}

void logStation(const StartUp& start) {
  const QString path = QString::fromStdString(start.stationPath);
  qCInfo(lcDesktop).noquote() << QStringLiteral("cellstation %1 in station folder %2").arg(QStringLiteral(CELLSTATION_VERSION), path);
  if (!start.stationWarning.empty()) qCWarning(lcDesktop).noquote() << QString::fromStdString(start.stationWarning);
  const QFileInfo db(QStringLiteral("db1.mdb"));
  if (!db.exists())
    qCWarning(lcDesktop).noquote()
        << QStringLiteral("no station database %1: make a fresh one with 'cellstation-make-db %2 INTERVAL UNITS'")
               .arg(db.absoluteFilePath(), path);
}

}  // namespace desktop
