#include "comm/PortName.h"

#include <sys/stat.h>

#include <cstddef>

namespace comm {

namespace {

// n >= 1 from "COMn" with plain decimal digits and no leading zero; 0 otherwise.
unsigned long comNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 12 || name.compare(0, 3, "COM") != 0 || name[3] == '0') return 0;
  unsigned long n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + static_cast<unsigned long>(name[i] - '0');
  }
  return n;
}

}  // namespace

std::string resolvePortPath(const std::string& name) {
  if (!name.empty() && name.front() == '/') return name;
  const unsigned long n = comNumber(name);
  if (n == 0) return name;
  struct stat st{};
  // lstat: a dangling link still names the port meant (opening it then fails, as it should).
  if (::lstat(name.c_str(), &st) == 0) return name;
  return "/dev/ttyS" + std::to_string(n - 1);
}

}  // namespace comm
