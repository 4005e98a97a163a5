#include "publish/core/PublishSettings.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

namespace publish {

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

// MQTT topic names take any UTF-8 except the wildcards; an empty level or a control
// character would give topics no subscriber expects.
void checkTopicPart(int line, std::string_view key, std::string_view value, bool levels) {
  if (value.empty()) fail(line, std::string(key) + " must not be empty");
  for (const char c : value) {
    if (c == '+' || c == '#') fail(line, std::string(key) + " must not contain the wildcards + or #");
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) fail(line, std::string(key) + " must not contain control characters");
    if (c == '/' && !levels) fail(line, std::string(key) + " must be one topic level, without /");
  }
  if (levels && (value.front() == '/' || value.back() == '/' || value.find("//") != std::string_view::npos))
    fail(line, std::string(key) + " must not have an empty level");
}

// Whether `s` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool validUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    int more = 0;
    unsigned min = 0, cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if ((c & 0xE0) == 0xC0) {
      more = 1;
      min = 0x80;
      cp = c & 0x1Fu;
    } else if ((c & 0xF0) == 0xE0) {
      more = 2;
      min = 0x800;
      cp = c & 0x0Fu;
    } else if ((c & 0xF8) == 0xF0) {
      more = 3;
      min = 0x10000;
      cp = c & 0x07u;
    } else {
      return false;
    }
    if (s.size() - i <= static_cast<std::size_t>(more)) return false;
    for (int k = 1; k <= more; ++k) {
      const auto d = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

constexpr std::string_view kKeys[] = {"host",          "port",          "tls",           "ca_file",   "username",
                                      "password",      "client_id",     "keep_alive",    "reconnect_min",
                                      "reconnect_max", "connect_timeout", "prefix",      "station",   "messages",
                                      "discovery",     "cells"};

// A line without '=' is not echoed: it may be a password written "password: secret" or a
// password on a line of its own. Only a known key at its start is named.
std::string malformedLine(std::string_view line) {
  std::size_t end = 0;
  while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != ':') ++end;
  const std::string_view word = line.substr(0, end);
  for (const std::string_view key : kKeys)
    if (word == key) return "expected key = value, found \"" + std::string(key) + "\" without \"=\" (the rest of the line is not shown)";
  return "expected key = value (the line is not shown: it may hold a password)";
}

// A value ends at a ';' or '#' that follows a blank (a comment), unless it is in double quotes.
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

PublishSettings parseSettings(std::string_view text) {
  PublishSettings s;
  bool portGiven = false;
  int passwordLine = 0;
  std::string section;
  // The line of each key seen, so a key given twice is caught.
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
      if (!validUtf8(section)) fail(lineNo, "the section name is not valid UTF-8 (save publish.ini as UTF-8)");
      if (section != "broker" && section != "topics" && section != "buffer" && section != "homeassistant")
        fail(lineNo, "unknown section [" + section + "] (known: [broker], [topics], [buffer], [homeassistant])");
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) fail(lineNo, malformedLine(line));
    const std::string key(trim(line.substr(0, eq)));
    if (!validUtf8(key)) fail(lineNo, "the key is not valid UTF-8 (save publish.ini as UTF-8)");
    const std::string value = valueOf(lineNo, trim(line.substr(eq + 1)));
    if (!validUtf8(value)) fail(lineNo, key + " is not valid UTF-8 (save publish.ini as UTF-8)");
    if (section.empty()) fail(lineNo, "\"" + key + "\" comes before any section");
    const std::string full = "[" + section + "]" + key + "\n";
    if (seen.find(full) != std::string::npos) fail(lineNo, key + " is given twice");
    seen += full;

    if (section == "broker") {
      if (key == "host") {
        if (value.empty()) fail(lineNo, "host must not be empty");
        s.host = value;
      } else if (key == "port") {
        s.port = number(lineNo, key, value, 1, 65535);
        portGiven = true;
      } else if (key == "tls") {
        s.tls = flag(lineNo, key, value);
      } else if (key == "ca_file") {
        s.caFile = value;
      } else if (key == "username") {
        s.username = value;
      } else if (key == "password") {
        s.password = value;
        passwordLine = lineNo;
      } else if (key == "client_id") {
        if (value.empty() || value.size() > 23 * 8) fail(lineNo, "client_id must hold 1 to 184 characters");
        s.clientId = value;
      } else if (key == "keep_alive") {
        s.keepAliveSeconds = number(lineNo, key, value, 5, 3600);
      } else if (key == "reconnect_min") {
        s.reconnectMinSeconds = number(lineNo, key, value, 1, 3600);
      } else if (key == "reconnect_max") {
        s.reconnectMaxSeconds = number(lineNo, key, value, 1, 3600);
      } else if (key == "connect_timeout") {
        s.connectTimeoutSeconds = number(lineNo, key, value, 2, 300);
      } else {
        fail(lineNo, "unknown key \"" + key + "\" in [broker]");
      }
    } else if (section == "topics") {
      if (key == "prefix") {
        checkTopicPart(lineNo, key, value, true);
        s.topicPrefix = value;
      } else if (key == "station") {
        checkTopicPart(lineNo, key, value, false);
        s.station = value;
      } else {
        fail(lineNo, "unknown key \"" + key + "\" in [topics]");
      }
    } else if (section == "homeassistant") {
      if (key == "discovery") {
        s.discovery = flag(lineNo, key, value);
      } else if (key == "prefix") {
        checkTopicPart(lineNo, key, value, true);
        s.discoveryPrefix = value;
      } else if (key == "cells") {
        s.discoveryCells = flag(lineNo, key, value);
      } else {
        fail(lineNo, "unknown key \"" + key + "\" in [homeassistant]");
      }
    } else {
      if (key == "messages") s.bufferMessages = number(lineNo, key, value, 1, 100000);
      else fail(lineNo, "unknown key \"" + key + "\" in [buffer]");
    }
  }
  if (s.host.empty()) fail(0, "[broker] host is missing");
  if (s.station.empty()) fail(0, "[topics] station is missing");
  if (s.tls && s.caFile.empty()) fail(0, "tls = true needs [broker] ca_file");
  if (!s.password.empty() && s.username.empty()) fail(passwordLine, "a password needs a username");
  if (s.reconnectMaxSeconds < s.reconnectMinSeconds) fail(0, "reconnect_max must not be below reconnect_min");
  if (!portGiven && s.tls) s.port = 8883;
  if (s.clientId.empty()) s.clientId = "cellstation-" + s.station;
  if (!s.password.empty() && !s.tls)
    s.warnings.push_back(std::string(kSettingsFileName) + ": the password crosses the network unencrypted (tls = false)");
  return s;
}

std::optional<PublishSettings> readSettingsFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return std::nullopt;
    fail(0, std::string("cannot read it: ") + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) fail(0, "is not a regular file");
  // The file is small by nature; a large one is a mistake, not settings.
  if (st.st_size > 64 * 1024) fail(0, "is larger than 64 KiB");
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(0, std::string("cannot read it: ") + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) fail(0, "cannot read it");
  PublishSettings s = parseSettings(text.str());
  if (!s.password.empty() && (st.st_mode & (S_IRGRP | S_IROTH)))
    s.warnings.push_back(std::string(kSettingsFileName) +
                         " holds a password and other users of this computer may read it: chmod 600 " + path);
  return s;
}

}  // namespace publish
