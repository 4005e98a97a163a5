#pragma once
// The station's command line, read before the window toolkit starts so that --help and
// --version work without a display. Options the toolkit itself understands (-platform, ...)
// are passed through untouched; the toolkit removes them before the second reading.
#include <optional>
#include <string>
#include <vector>

namespace desktop {

/// The environment variable that names the station folder when --station is not given.
inline constexpr const char* kStationVariable = "CELLSTATION_STATION";

struct CommandLine {
  enum class Action { Run, Help, Version, Backup, Error };
  Action action = Action::Run;
  /// The station folder asked for (option first, then the environment); none: stay where started.
  std::optional<std::string> stationDir;
  /// --ask-to-create (the menu entry's): a station folder that does not exist is offered to be
  /// made, in a box, instead of refused on standard error.
  bool askToCreate = false;
  /// For Backup: the file to write the copy of db1.mdb to, as given.
  std::string backupFile;
  /// For Error: what was wrong, one line.
  std::string error;
  /// Arguments that are no option of ours, in order (the toolkit's, or mistakes).
  std::vector<std::string> others;
};

/// Reads the arguments after the program name. `environmentStation` is the value of
/// CELLSTATION_STATION, if set. --station may be given once (as "--station DIR" or
/// "--station=DIR"); an empty folder name is an error, as is a second --station. --backup FILE
/// (once) copies the station's db1.mdb to FILE instead of starting the window.
/// The first of `others` that is no option of the window toolkit's (-platform, -style, ...,
/// also with two dashes), skipping the values those options take; empty when there is none.
std::string firstStrayArgument(const std::vector<std::string>& others);
CommandLine parseCommandLine(const std::vector<std::string>& args, const char* environmentStation);

/// The text --help prints.
std::string helpText(const std::string& program);
/// The text --version prints.
std::string versionText();

}  // namespace desktop
