#include "desktop/PortAccess.h"

#include <grp.h>
#include <pwd.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "comm/PortName.h"
#include "desktop/Log.h"

namespace desktop {

namespace {

std::string userName(uid_t uid) {
  if (const passwd* pw = ::getpwuid(uid)) return pw->pw_name;
  return "uid " + std::to_string(uid);
}

std::string groupName(gid_t gid) {
  if (const group* gr = ::getgrgid(gid)) return gr->gr_name;
  return "gid " + std::to_string(gid);
}

bool sessionHasGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  const int got = ::getgroups(n, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Membership as the user database has it, which a session only picks up at login.
bool databaseHasGroup(uid_t uid, gid_t gid) {
  const passwd* pw = ::getpwuid(uid);
  if (pw == nullptr) return false;
  if (pw->pw_gid == gid) return true;
  const std::string name = pw->pw_name;
  const group* gr = ::getgrgid(gid);
  if (gr == nullptr) return false;
  for (char** m = gr->gr_mem; m != nullptr && *m != nullptr; ++m)
    if (name == *m) return true;
  return false;
}

std::string modeText(mode_t mode) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
  return buf;
}

}  // namespace

std::string explainPortAccess(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int err = errno;
    if (err == ENOENT) return "'" + path + "' does not exist (no such port, or a link to a device that is gone)";
    return "'" + path + "' cannot be looked at: " + std::strerror(err);
  }
  if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) == 0)
    return "'" + path + "' may be opened by this user: another program holds it, or it is not a serial device";
  const int err = errno;
  if (err != EACCES && err != EPERM) return "'" + path + "': " + std::strerror(err);

  const uid_t uid = ::geteuid();
  const std::string user = userName(uid);
  const std::string group = groupName(st.st_gid);
  const std::string device = "'" + path + "' (owner " + userName(st.st_uid) + ", group " + group + ", mode " +
                             modeText(st.st_mode) + ")";
  const bool groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (groupMayUse && !sessionHasGroup(st.st_gid)) {
    if (databaseHasGroup(uid, st.st_gid))
      return "permission denied: " + device + "; user " + user + " is in group " + group +
             " but this session started before that: log out and in again";
    return "permission denied: " + device + "; user " + user + " is not in group " + group +
           ": add it with 'sudo usermod -aG " + group + " " + user + "', then log out and in again";
  }
  return "permission denied: " + device + " is not open to user " + user;
}

void logPortOpenFailure(const std::string& commName, const std::string& message) {
  const std::string path = comm::resolvePortPath(commName);
  const std::string where = path == commName ? commName : commName + " (" + path + ")";
  qCWarning(lcDesktop).noquote() << QStringLiteral("serial port %1 did not open (%2): %3")
                                        .arg(QString::fromStdString(where),
                                             QString::fromStdString(message).replace(QStringLiteral("\r\n"), QStringLiteral(" / ")),
                                             QString::fromStdString(explainPortAccess(path)));
}

}  // namespace desktop
