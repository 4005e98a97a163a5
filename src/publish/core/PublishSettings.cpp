#include "publish/core/PublishSettings.h"

#include <sys/stat.h>

#include "common/IniReader.h"

namespace publish {

namespace {

[[noreturn]] void fail(int line, const std::string& what) {
  if (line > 0) throw SettingsError(std::string(kSettingsFileName) + " line " + std::to_string(line) + ": " + what);
  throw SettingsError(std::string(kSettingsFileName) + ": " + what);
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

// Every key of the file is a lower-case word. Anything else before an '=' (a blank inside,
// capitals, digits) is not echoed either: it may be a password with '=' in it, as base64
// tokens often end ("password c2VjcmV0LXRva2Vu=="). Only a known key at its start is named.
void checkKeyWord(int line, const std::string& key) {
  if (!key.empty() && key.find_first_not_of("abcdefghijklmnopqrstuvwxyz_") == std::string::npos) return;
  std::size_t end = 0;
  while (end < key.size() && key[end] != ' ' && key[end] != '\t' && key[end] != ':') ++end;
  const std::string_view word = std::string_view(key).substr(0, end);
  for (const std::string_view known : kKeys)
    if (word == known)
      fail(line, "expected key = value, found \"" + std::string(known) + "\" followed by more than \"=\" (the rest of the line is not shown)");
  fail(line, "expected key = value with a key such as host or password (the line is not shown: it may hold a password)");
}

}  // namespace

PublishSettings parseSettings(std::string_view text) {
  PublishSettings s;
  bool portGiven = false;
  int passwordLine = 0;
  common::IniHooks hooks;
  hooks.section = [](int line, const std::string& section) {
    if (!validUtf8(section)) fail(line, "the section name is not valid UTF-8 (save publish.ini as UTF-8)");
    if (section != "broker" && section != "topics" && section != "buffer" && section != "homeassistant")
      fail(line, "unknown section [" + section + "] (known: [broker], [topics], [buffer], [homeassistant])");
  };
  hooks.checkKey = [](int line, const std::string& key) {
    if (!validUtf8(key)) fail(line, "the key is not valid UTF-8 (save publish.ini as UTF-8)");
    checkKeyWord(line, key);
  };
  hooks.checkValue = [](int line, const std::string& key, const std::string& value) {
    if (!validUtf8(value)) fail(line, key + " is not valid UTF-8 (save publish.ini as UTF-8)");
  };
  hooks.withoutEquals = malformedLine;
  hooks.entry = [&](const common::IniEntry& e) {
    const int lineNo = e.line;
    const std::string& section = e.section;
    const std::string& key = e.key;
    const std::string& value = e.value;
    if (section == "broker") {
      if (key == "host") {
        if (value.empty()) fail(lineNo, "host must not be empty");
        s.host = value;
      } else if (key == "port") {
        s.port = common::iniNumber(lineNo, key, value, 1, 65535);
        portGiven = true;
      } else if (key == "tls") {
        s.tls = common::iniFlag(lineNo, key, value);
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
        s.keepAliveSeconds = common::iniNumber(lineNo, key, value, 5, 3600);
      } else if (key == "reconnect_min") {
        s.reconnectMinSeconds = common::iniNumber(lineNo, key, value, 1, 3600);
      } else if (key == "reconnect_max") {
        s.reconnectMaxSeconds = common::iniNumber(lineNo, key, value, 1, 3600);
      } else if (key == "connect_timeout") {
        s.connectTimeoutSeconds = common::iniNumber(lineNo, key, value, 2, 300);
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
        s.discovery = common::iniFlag(lineNo, key, value);
      } else if (key == "prefix") {
        checkTopicPart(lineNo, key, value, true);
        s.discoveryPrefix = value;
      } else if (key == "cells") {
        s.discoveryCells = common::iniFlag(lineNo, key, value);
      } else {
        fail(lineNo, "unknown key \"" + key + "\" in [homeassistant]");
      }
    } else {
      if (key == "messages") s.bufferMessages = common::iniNumber(lineNo, key, value, 1, 100000);
      else fail(lineNo, "unknown key \"" + key + "\" in [buffer]");
    }
  };
  try {
    common::readIni(text, hooks);
  } catch (const common::IniError& e) {
    fail(e.line(), e.what());
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
  std::optional<std::string> text;
  unsigned mode = 0;
  try {
    text = common::readSettingsText(path, &mode);
  } catch (const common::IniError& e) {
    fail(e.line(), e.what());
  }
  if (!text) return std::nullopt;
  PublishSettings s = parseSettings(*text);
  if (!s.password.empty() && (mode & (S_IRGRP | S_IROTH)))
    s.warnings.push_back(std::string(kSettingsFileName) +
                         " holds a password and other users of this computer may read it: chmod 600 " + path);
  return s;
}

}  // namespace publish
