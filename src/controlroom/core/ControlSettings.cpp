#include "controlroom/core/ControlSettings.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

namespace controlroom {

namespace {

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

[[noreturn]] void fail(int line, const std::string& what) {
  if (line > 0) throw SettingsError(std::string(kSettingsFileName) + " line " + std::to_string(line) + ": " + what);
  throw SettingsError(std::string(kSettingsFileName) + ": " + what);
}

int number(int line, std::string_view key, std::string_view value, int low, int high) {
  int n = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (ec != std::errc() || end != value.data() + value.size() || n < low || n > high)
    fail(line, std::string(key) + " must be a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not \"" + std::string(value) + "\"");
  return n;
}

bool flag(int line, std::string_view key, std::string_view value) {
  if (value == "true" || value == "yes" || value == "on" || value == "1") return true;
  if (value == "false" || value == "no" || value == "off" || value == "0") return false;
  fail(line, std::string(key) + " must be true or false, not \"" + std::string(value) + "\"");
}

std::string valueOf(int line, std::string_view v) {
  if (!v.empty() && v.front() == '"') {
    const std::size_t close = v.find('"', 1);
    if (close == std::string_view::npos) fail(line, "a quoted value must end with a quote");
    const std::string_view rest = trim(v.substr(close + 1));
    if (!rest.empty() && rest.front() != ';' && rest.front() != '#') fail(line, "only a comment may follow a quoted value");
    return std::string(v.substr(1, close - 1));
  }
  for (std::size_t i = 1; i < v.size(); ++i)
    if ((v[i] == ';' || v[i] == '#') && (v[i - 1] == ' ' || v[i - 1] == '\t')) return std::string(trim(v.substr(0, i)));
  return std::string(v);
}

}  // namespace

ControlSettings parseSettings(std::string_view text) {
  ControlSettings s;
  std::string section;
  std::string seen;
  int lineNo = 0;
  while (!text.empty()) {
    ++lineNo;
    const std::size_t nl = text.find('\n');
    std::string_view line = trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (lineNo == 1 && line.starts_with("\xEF\xBB\xBF")) line = trim(line.substr(3));
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      if (line.back() != ']') fail(lineNo, "a section name must end with ]");
      section = std::string(trim(line.substr(1, line.size() - 2)));
      if (section != "modbus" && section != "metrics")
        fail(lineNo, "unknown section [" + section + "] (known: [modbus], [metrics])");
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) fail(lineNo, "expected key = value, found \"" + std::string(line) + "\"");
    const std::string key(trim(line.substr(0, eq)));
    const std::string value = valueOf(lineNo, trim(line.substr(eq + 1)));
    if (section.empty()) fail(lineNo, "\"" + key + "\" comes before any section");
    const std::string full = "[" + section + "]" + key + "\n";
    if (seen.find(full) != std::string::npos) fail(lineNo, key + " is given twice");
    seen += full;

    Endpoint& e = section == "modbus" ? s.modbus : s.metrics;
    if (key == "enabled") {
      e.enabled = flag(lineNo, key, value);
    } else if (key == "listen") {
      in_addr a{};
      if (::inet_pton(AF_INET, value.c_str(), &a) != 1)
        fail(lineNo, "listen must be an IPv4 address such as 127.0.0.1 or 0.0.0.0, not \"" + value + "\"");
      e.listen = value;
    } else if (key == "port") {
      e.port = number(lineNo, key, value, 1, 65535);
    } else if (key == "max_clients") {
      e.maxClients = number(lineNo, key, value, 1, 256);
    } else if (key == "idle_timeout") {
      e.idleTimeoutSeconds = number(lineNo, key, value, 1, 86400);
    } else {
      fail(lineNo, "unknown key \"" + key + "\" in [" + section + "] (known: enabled, listen, port, max_clients, idle_timeout)");
    }
  }
  if (s.modbus.enabled && s.metrics.enabled && s.modbus.port == s.metrics.port && s.modbus.listen == s.metrics.listen)
    fail(0, "[modbus] and [metrics] must not use the same port");
  return s;
}

std::optional<ControlSettings> readSettingsFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return std::nullopt;
    fail(0, std::string("cannot read it: ") + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) fail(0, "is not a regular file");
  if (st.st_size > 64 * 1024) fail(0, "is larger than 64 KiB");
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(0, std::string("cannot read it: ") + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) fail(0, "cannot read it");
  return parseSettings(text.str());
}

}  // namespace controlroom
