#include "controlroom/core/ControlSettings.h"

#include <arpa/inet.h>

#include "common/IniReader.h"

namespace controlroom {

namespace {

[[noreturn]] void fail(int line, const std::string& what) {
  if (line > 0) throw SettingsError(std::string(kSettingsFileName) + " line " + std::to_string(line) + ": " + what);
  throw SettingsError(std::string(kSettingsFileName) + ": " + what);
}

void take(ControlSettings& s, const common::IniEntry& e) {
  Endpoint& endpoint = e.section == "modbus" ? s.modbus : s.metrics;
  if (e.key == "enabled") {
    endpoint.enabled = common::iniFlag(e.line, e.key, e.value);
  } else if (e.key == "listen") {
    in_addr a{};
    if (::inet_pton(AF_INET, e.value.c_str(), &a) != 1)
      fail(e.line, "listen must be an IPv4 address such as 127.0.0.1 or 0.0.0.0, not \"" + e.value + "\"");
    endpoint.listen = e.value;
  } else if (e.key == "port") {
    endpoint.port = common::iniNumber(e.line, e.key, e.value, 1, 65535);
  } else if (e.key == "max_clients") {
    endpoint.maxClients = common::iniNumber(e.line, e.key, e.value, 1, 256);
  } else if (e.key == "idle_timeout") {
    endpoint.idleTimeoutSeconds = common::iniNumber(e.line, e.key, e.value, 1, 86400);
  } else {
    fail(e.line, "unknown key \"" + e.key + "\" in [" + e.section + "] (known: enabled, listen, port, max_clients, idle_timeout)");
  }
}

}  // namespace

ControlSettings parseSettings(std::string_view text) {
  ControlSettings s;
  common::IniHooks hooks;
  hooks.section = [](int line, const std::string& name) {
    if (name != "modbus" && name != "metrics") fail(line, "unknown section [" + name + "] (known: [modbus], [metrics])");
  };
  hooks.entry = [&s](const common::IniEntry& e) { take(s, e); };
  try {
    common::readIni(text, hooks);
  } catch (const common::IniError& e) {
    fail(e.line(), e.what());
  }
  if (s.modbus.enabled && s.metrics.enabled && s.modbus.port == s.metrics.port && s.modbus.listen == s.metrics.listen)
    fail(0, "[modbus] and [metrics] must not use the same port");
  return s;
}

std::optional<ControlSettings> readSettingsFile(const std::string& path) {
  std::optional<std::string> text;
  try {
    text = common::readSettingsText(path);
  } catch (const common::IniError& e) {
    fail(e.line(), e.what());
  }
  if (!text) return std::nullopt;
  return parseSettings(*text);
}

}  // namespace controlroom
