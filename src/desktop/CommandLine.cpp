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
  bool stationGiven = false, backupGiven = false;
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
    } else if (a == "--ask-to-create") {
      cl.askToCreate = true;
    } else if (a == "--backup" || a.rfind("--backup=", 0) == 0) {
      if (backupGiven) return fail("--backup is given more than once");
      backupGiven = true;
      if (a == "--backup") {
        if (i + 1 >= args.size()) return fail("--backup needs a file to write");
        cl.backupFile = args[++i];
      } else {
        cl.backupFile = a.substr(std::string("--backup=").size());
      }
      if (cl.backupFile.empty()) return fail("--backup needs a file to write, not an empty name");
    } else if (a == "--") {
      for (++i; i < args.size(); ++i) cl.others.push_back(args[i]);
    } else {
      cl.others.push_back(a);
    }
  }
  // Help and version answer even a command line that is otherwise fine to start with.
  if (help) cl.action = CommandLine::Action::Help;
  else if (version) cl.action = CommandLine::Action::Version;
  else if (backupGiven) cl.action = CommandLine::Action::Backup;
  if (!stationGiven && environmentStation != nullptr) {
    if (*environmentStation == '\0') return fail(std::string(kStationVariable) + " is set but empty");
    cl.stationDir = std::string(environmentStation);
  }
  return cl;
}

std::string firstStrayArgument(const std::vector<std::string>& others) {
  // Qt's own options (QGuiApplication, QApplication, the xcb platform); each is also accepted
  // with two dashes.
  static const char* const withValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "qmljsdebugger",
                                          "qwindowgeometry", "geometry", "qwindowicon", "icon", "qwindowtitle",
                                          "title", "session", "style", "stylesheet", "display", "name", "dialogs",
                                          "visual", "cmap", "fn", "font", "bg", "background", "fg", "foreground",
                                          "btn", "button", "im", "inputstyle"};
  static const char* const alone[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "graphicssystem", "testability",
                                      "qwindowalpha"};
  for (std::size_t i = 0; i < others.size(); ++i) {
    std::string a = others[i];
    if (a.rfind("--", 0) == 0) a.erase(0, 1);
    if (a.size() < 2 || a[0] != '-') return others[i];
    std::string name = a.substr(1);
    const auto eq = name.find('=');
    const bool inlineValue = eq != std::string::npos;
    if (inlineValue) name.erase(eq);
    bool known = false;
    for (const char* o : withValue)
      if (name == o) {
        known = true;
        if (!inlineValue) ++i;  // its value
      }
    for (const char* o : alone) known |= name == o;
    if (!known) return others[i];
  }
  return {};
}

std::string helpText(const std::string& program) {
  return "Usage: " + program + " [--station DIR]\n"
         "       " + program + " --backup FILE [--station DIR]\n"
         "Battery-voltage monitoring station for a chain of detector units on one serial line.\n"
         "\n"
         "  --station DIR  run in the station folder DIR: its db1.mdb is the station database and\n"
         "                 its COM1, if present, a link to the serial device to use. Without it the\n"
         "                 folder named by " + std::string(kStationVariable) + ", else the current folder.\n"
         "  --backup FILE  copy the station's db1.mdb whole to FILE and exit (no display needed;\n"
         "                 works while a station runs in the folder); exit status 0 when the copy\n"
         "                 passed its integrity check\n"
         "  --ask-to-create  when the station folder does not exist, offer in a box to make it with\n"
         "                 a fresh database (the menu entry starts the station so)\n"
         "  -h, --help     show this text and exit\n"
         "  -v, --version  show the version and exit\n"
         "\n"
         "A fresh station database: cellstation-make-db DIR INTERVAL UNITS\n"
         "SIGTERM, SIGINT and SIGHUP close the station as closing its window does.\n";
}

std::string versionText() { return std::string("cellstation ") + CELLSTATION_VERSION + "\n"; }

}  // namespace desktop
