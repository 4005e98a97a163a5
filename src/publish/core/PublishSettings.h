#pragma once
// The site's broker settings: an INI file in the station folder (publish.ini), read once at
// start. Without the file the station publishes nothing.
//
//   [broker]
//   host = mqtt.example.net        required
//   port = 1883                    default 1883, or 8883 with tls = true
//   tls = false                    true needs ca_file
//   ca_file = /etc/ssl/certs/site-ca.pem
//   username = room-a              optional; password only with a user name
//   password = secret
//   client_id = cellstation-room-a default "cellstation-" + station
//   keep_alive = 30                seconds, 5..3600
//   reconnect_min = 1              first retry after a lost or failed connection, seconds
//   reconnect_max = 60             the retry delay doubles up to this, seconds
//   connect_timeout = 10           limit of one connection attempt, seconds, 2..300
//   [topics]
//   prefix = cellstation           default "cellstation"; may hold '/' between levels
//   station = room-a               required; one topic level
//   [buffer]
//   messages = 1000                messages kept while the broker is away, 1..100000
//   [homeassistant]
//   discovery = false              true: Home Assistant finds the station and its units
//   prefix = homeassistant         Home Assistant's discovery prefix
//   cells = false                  true: one sensor per cell as well
//
// Lines starting with ';' or '#' are comments, and so is the rest of a line from a ';' or '#'
// after a blank. Blanks around a value are removed; a value in double quotes keeps blanks,
// ';' and '#' as they are.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace publish {

struct PublishSettings {
  std::string host;
  int port = 1883;
  bool tls = false;
  std::string caFile;
  std::string username;
  std::string password;
  std::string clientId;
  int keepAliveSeconds = 30;
  int reconnectMinSeconds = 1;
  int reconnectMaxSeconds = 60;
  std::string topicPrefix = "cellstation";
  std::string station;
  int bufferMessages = 1000;
  int connectTimeoutSeconds = 10;
  bool discovery = false;
  std::string discoveryPrefix = "homeassistant";
  bool discoveryCells = false;
  /// What the operator should know but that does not stop publishing (a password readable by
  /// others, a password sent without TLS): logged at start.
  std::vector<std::string> warnings;
};

/// A settings file that cannot be used; what() names the line and the fault.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The file name the station looks for in its folder.
inline constexpr const char* kSettingsFileName = "publish.ini";

/// Parses the text of a settings file. Every key is checked: an unknown section or key, a
/// missing required value or a value out of range throws SettingsError naming the line, so a
/// mistyped key is not silently ignored.
PublishSettings parseSettings(std::string_view text);

/// Reads and parses the file at `path`. Returns nothing when there is no file at all; throws
/// SettingsError when it exists but cannot be read or parsed. A file holding a password that
/// group or others may read adds a warning.
std::optional<PublishSettings> readSettingsFile(const std::string& path);

}  // namespace publish
