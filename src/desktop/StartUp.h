#pragma once
// The steps main() takes for the desktop side of the station, around the window's own.
#include <QStringList>
#include <optional>
#include <string>

class QApplication;

namespace desktop {

struct StartUp {
  /// Set: the program ends now with this code (--help, --version, a bad command line or a
  /// station folder that cannot serve); what to say has been printed.
  std::optional<int> exitCode;
  /// The station folder entered, or the current folder when none was asked for.
  std::string stationPath;
  std::string stationWarning;
  /// Set with --ask-to-create: the station folder asked for does not exist (absolute path);
  /// settleMissingStation offers to make it once the toolkit runs.
  std::string missingStation;
};

/// Reads the command line and CELLSTATION_STATION and enters the station folder. Runs before
/// the toolkit starts: prints to stdout and stderr itself. An argument that is neither ours
/// nor the toolkit's ends it here (exit status 2). --backup FILE makes the copy here and sets
/// exitCode (0, or 1 with the reason on stderr).
StartUp startFromCommandLine(int argc, char** argv);

/// After the toolkit has taken its own options: anything left is a mistake. Prints it and
/// returns the exit code, or nothing when all is well.
std::optional<int> refuseStrayArguments(const QStringList& arguments);

/// The application's name, version, icon and desktop entry name.
void setDesktopIdentity(QApplication& app);

/// Logs where the station runs, and, when db1.mdb is missing there, that and how to make one.
void logStation(const StartUp& start);

}  // namespace desktop
