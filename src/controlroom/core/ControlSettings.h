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

namespace controlroom {

struct Endpoint {
  bool enabled = false;
  std::string listen = "127.0.0.1";
  int port = 0;
  int maxClients = 32;
  int idleTimeoutSeconds = 60;
};

struct ControlSettings {
  Endpoint modbus{false, "127.0.0.1", 1502, 32, 60};
  Endpoint metrics{false, "127.0.0.1", 9108, 32, 60};
};

/// A settings file that cannot be used; what() names the line and the fault.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kSettingsFileName = "controlroom.ini";

/// Parses the text of the file. An unknown section or key, a key given twice or a value out of
/// range throws SettingsError naming the line.
ControlSettings parseSettings(std::string_view text);

/// Reads and parses the file at `path`; nothing when there is no file. Throws SettingsError when
/// it exists but cannot be read or parsed.
std::optional<ControlSettings> readSettingsFile(const std::string& path);

}  // namespace controlroom
