#pragma once
// The station log: what the station met while it ran unattended (polling started and stopped,
// port errors, failed sampling runs), one line per message in a text file in the station
// folder. It is Qt's message handler, so every thread logs with qCInfo/qCWarning and its own
// logging category; messages still reach the handler that was installed before (stderr).
//
// The file is bounded: when a line would take it past its size limit it is renamed to
// "<name>.1" (an older ".1" going to ".2", and so on; the oldest is dropped) and a new one is
// begun, so the log never takes more than (keep + 1) times the limit.
#include <QString>
#include <cstdint>

namespace stationlog {

inline constexpr char kFileName[] = "cellstation.log";

struct Limits {
  std::int64_t maxBytes = 1024 * 1024;  ///< per file
  int keep = 3;                         ///< rotated files kept beside the current one
};

/// Starts logging to folder/cellstation.log (appending), replacing any earlier install. A
/// file that cannot be written is skipped silently: the log never stops the station.
void install(const QString& folder, Limits limits = {});
/// Writes what is buffered and restores the handler found at the first install.
void uninstall();

}  // namespace stationlog
