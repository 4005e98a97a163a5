#pragma once
// Why a serial port would not open, for the log: the operator sees only the component's fixed
// message, which cannot tell a missing adapter from a user who is not in the device's group.
#include <string>

namespace desktop {

/// One line on why this process (its effective user and groups) may not open the device at
/// `path` for reading and writing. When membership of the device's group is what is missing it
/// names the group and the user, and says whether only a fresh login is lacking. When access
/// would be granted it says so: then another program holds the port or it is no serial device.
std::string explainPortAccess(const std::string& path);

/// Logs, as a warning, that the port `commName` (as the window names it) failed to open with
/// `message`, and why (explainPortAccess of the device it resolves to).
void logPortOpenFailure(const std::string& commName, const std::string& message);

}  // namespace desktop
