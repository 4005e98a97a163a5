#include "controlroom/core/ControlSettings.h"

#include <arpa/inet.h>

#include <array>

#include "common/IniReader.h"

namespace controlroom {

namespace {

std::string where(int line) {
  if (line > 0) return std::string(kSettingsFileName) + " line " + std::to_string(line) + ": ";
  return std::string(kSettingsFileName) + ": ";
}

[[noreturn]] void fail(int line, const std::string& what) { throw SettingsError(where(line) + what); }

void take(Endpoint& endpoint, const common::IniEntry& e) {
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

// The first fault of `text`, or empty.
std::string faultOf(std::string_view text, const common::IniHooks& hooks) {
  try {
    common::readIni(text, hooks);
  } catch (const common::IniError& e) {
    return where(e.line()) + e.what();
  } catch (const SettingsError& e) {
    return e.what();
  }
  return {};
}

std::string_view trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

ControlSettings parseSettings(std::string_view text) {
  // The file in three parts, each read on its own so that a fault in one server's section
  // leaves the other server alone: the [modbus] sections, the [metrics] sections, and the rest
  // (lines before any section, unknown or broken section headers and what follows them). Every
  // part keeps each line at its place, the others' lines blank, so faults name the file's lines.
  enum Part { kModbus, kMetrics, kRest };
  std::array<std::string, 3> parts;
  Part part = kRest;
  for (int lineNo = 1; !text.empty(); ++lineNo) {
    const std::size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    std::string_view head = trimmed(line);
    if (lineNo == 1 && head.starts_with("\xEF\xBB\xBF")) head = trimmed(head.substr(3));
    if (head.starts_with('[')) {
      const std::string_view name = head.ends_with(']') ? trimmed(head.substr(1, head.size() - 2)) : std::string_view();
      part = name == "modbus" ? kModbus : name == "metrics" ? kMetrics : kRest;
    }
    for (int p = kModbus; p <= kRest; ++p) {
      if (p == part) parts[static_cast<std::size_t>(p)] += line;
      parts[static_cast<std::size_t>(p)] += '\n';
    }
  }

  ControlSettings s;
  const auto server = [&](Part p, const char* section, Endpoint& endpoint) {
    Endpoint read = endpoint;
    common::IniHooks hooks;
    hooks.entry = [&read](const common::IniEntry& e) { take(read, e); };
    std::string fault = faultOf(parts[static_cast<std::size_t>(p)], hooks);
    if (fault.empty()) endpoint = read;
    else s.problems.push_back({section, std::move(fault)});
  };
  server(kModbus, "modbus", s.modbus);
  server(kMetrics, "metrics", s.metrics);
  common::IniHooks rest;
  rest.section = [](int line, const std::string& name) {
    fail(line, "unknown section [" + name + "] (known: [modbus], [metrics])");
  };
  rest.entry = [](const common::IniEntry&) {};
  if (std::string fault = faultOf(parts[kRest], rest); !fault.empty()) s.problems.push_back({{}, std::move(fault)});

  if (s.modbus.enabled && s.metrics.enabled && s.modbus.port == s.metrics.port && s.modbus.listen == s.metrics.listen) {
    s.metrics.enabled = false;
    s.problems.push_back({"metrics", where(0) + "[modbus] and [metrics] must not use the same port"});
  }
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
