#pragma once
// Where a port name leads on this platform.
#include <string>

namespace comm {

/// "COMn" (n = 1, 2, ...): the file named COMn in the working directory when one exists (a
/// link to a serial device or a pseudo-terminal), otherwise /dev/ttyS(n-1). A name starting
/// with '/' is a path as it stands. Any other name is taken as a path relative to the working
/// directory (so "COM0" or "com1" only open a file of that name).
std::string resolvePortPath(const std::string& name);

}  // namespace comm
