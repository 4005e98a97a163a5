#pragma once
// Entering the station folder: the folder becomes the working directory, where the station
// finds db1.mdb and COM1 as it always has. Plain POSIX, no Qt, so it runs before the toolkit.
#include <string>

namespace desktop {

struct EnteredStation {
  bool ok = false;
  /// Not ok: why the folder cannot serve, naming it.
  std::string error;
  /// Ok: the folder's absolute path.
  std::string path;
  /// Ok but doubtful: a folder the station may read but not write (SQLite keeps its journal
  /// beside db1.mdb, so samples cannot be stored there). Empty when all is well.
  std::string warning;
};

/// Makes `dir` the working directory. A folder that does not exist, is no folder, or that this
/// user may not read and enter is refused, and the working directory stays as it was.
EnteredStation enterStationDir(const std::string& dir);

}  // namespace desktop
