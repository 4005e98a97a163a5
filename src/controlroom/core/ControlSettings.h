#pragma once
// The site's control-room settings: an INI file in the station folder (controlroom.ini), read
// once at start. Without the file, or with a section's `enabled` not true, nothing listens.
//
//   [modbus]
//   enabled = true          default false
//   listen = 127.0.0.1      IPv4 address to listen on; 0.0.0.0 for every interface
//   port = 1502             default 1502 (502 needs root)
//   max_clients = 32        connections at once, 1..256
//   idle_timeout = 60       seconds without a request before a connection is closed, 1..86400
//   [metrics]
//   enabled = true
//   listen = 127.0.0.1
//   port = 9108             default 9108
//   max_clients = 32
//   idle_timeout = 60
//
// Comments and quoting as in publish.ini: ';' or '#' start a comment at the start of a line
// or after a blank.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace controlroom {

/// Seconds a request may take to arrive whole, from its first byte (for HTTP from the
/// connection's start), however steadily its bytes come.
inline constexpr int kRequestDeadlineSeconds = 5;

struct Endpoint {
  bool enabled = false;
  std::string listen = "127.0.0.1";
  int port = 0;
  int maxClients = 32;
  int idleTimeoutSeconds = 60;
};

/// A fault in the file, naming its line.
struct SettingsProblem {
  /// "modbus" or "metrics" for a fault in that section (its server stays off); empty for a
  /// fault outside them (an unknown section, a line before any section), which turns off neither.
  std::string section;
  std::string text;
};

struct ControlSettings {
  Endpoint modbus{false, "127.0.0.1", 1502, 32, 60};
  Endpoint metrics{false, "127.0.0.1", 9108, 32, 60};
  /// The faults found, in the order of the file; each server's fate is its own section's.
  std::vector<SettingsProblem> problems;
};

/// A settings file that cannot be read; what() says why.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kSettingsFileName = "controlroom.ini";

/// Parses the text of the file. An unknown key, a key given twice or a value out of range in a
/// server's section leaves that server off (enabled false) with a problem naming the line; the
/// other server keeps its settings. The first fault outside both sections is a problem too.
ControlSettings parseSettings(std::string_view text);

/// Reads and parses the file at `path`; nothing when there is no file. Throws SettingsError when
/// it exists but cannot be read.
std::optional<ControlSettings> readSettingsFile(const std::string& path);

}  // namespace controlroom
