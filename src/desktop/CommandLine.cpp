#include "desktop/CommandLine.h"

#ifndef CELLSTATION_VERSION
#error "CELLSTATION_VERSION comes from the build"
#endif

namespace desktop {

CommandLine parseCommandLine(const std::vector<std::string>& args, const char* environmentStation) {
  CommandLine cl;
  auto fail = [&cl](std::string text) {
    cl.action = CommandLine::Action::Error;
    cl.error = std::move(text);
    return cl;
  };
  bool stationGiven = false;
  bool help = false, version = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      help = true;
    } else if (a == "--version" || a == "-v") {
      version = true;
    } else if (a == "--station" || a.rfind("--station=", 0) == 0) {
      // Two folders would leave the operator guessing which one is watched.
      if (stationGiven) return fail("--station is given more than once");
      stationGiven = true;
      std::string dir;
      if (a == "--station") {
        if (i + 1 >= args.size()) return fail("--station needs a folder");
        dir = args[++i];
      } else {
        dir = a.substr(std::string("--station=").size());
      }
      if (dir.empty()) return fail("--station needs a folder, not an empty name");
      cl.stationDir = dir;
    } else if (a == "--") {
      for (++i; i < args.size(); ++i) cl.others.push_back(args[i]);
    } else {
      cl.others.push_back(a);
    }
  }
  // Help and version answer even a command line that is otherwise fine to start with.
  if (help) cl.action = CommandLine::Action::Help;
  else if (version) cl.action = CommandLine::Action::Version;
  if (!stationGiven && environmentStation != nullptr) {
    if (*environmentStation == '\0') return fail(std::string(kStationVariable) + " is set but empty");
    cl.stationDir = std::string(environmentStation);
  }
  return cl;
}

std::string helpText(const std::string& program) {
  return "Usage: " + program + " [--station DIR]\n"
         "Battery-voltage monitoring station for a chain of detector units on one serial line.\n"
         "\n"
         "  --station DIR  run in the station folder DIR: its db1.mdb is the station database and\n"
         "                 its COM1, if present, a link to the serial device to use. Without it the\n"
         "                 folder named by " + std::string(kStationVariable) + ", else the current folder.\n"
         "  -h, --help     show this text and exit\n"
         "  -v, --version  show the version and exit\n"
         "\n"
         "A fresh station database: cellstation-make-db DIR INTERVAL UNITS\n"
         "SIGTERM, SIGINT and SIGHUP close the station as closing its window does.\n";
}

std::string versionText() { return std::string("cellstation ") + CELLSTATION_VERSION + "\n"; }

}  // namespace desktop
