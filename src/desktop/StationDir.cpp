#include "desktop/StationDir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace desktop {

EnteredStation enterStationDir(const std::string& dir) {
  EnteredStation out;
  const std::string quoted = "station folder '" + dir + "'";
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) {
    const int err = errno;
    out.error = quoted + (err == ENOENT ? " does not exist" : std::string(": ") + std::strerror(err));
    return out;
  }
  if (!S_ISDIR(st.st_mode)) {
    out.error = quoted + " is not a folder";
    return out;
  }
  // Effective ids, as open() and chdir() use them.
  if (::faccessat(AT_FDCWD, dir.c_str(), R_OK | X_OK, AT_EACCESS) != 0) {
    out.error = quoted + " cannot be read by this user: " + std::strerror(errno);
    return out;
  }
  if (::chdir(dir.c_str()) != 0) {
    out.error = quoted + " cannot be entered: " + std::strerror(errno);
    return out;
  }
  char buf[PATH_MAX];
  out.path = ::getcwd(buf, sizeof buf) != nullptr ? std::string(buf) : dir;
  if (::faccessat(AT_FDCWD, ".", W_OK, AT_EACCESS) != 0)
    out.warning = "station folder '" + out.path + "' is not writable by this user: the database cannot store samples there";
  out.ok = true;
  return out;
}

}  // namespace desktop
