#include "common/IniReader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <charconv>

namespace common {

namespace {

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// A value ends at a ';' or '#' that follows a blank (a comment), unless it is in double quotes.
std::string valueOf(int line, std::string_view v) {
  if (!v.empty() && v.front() == '"') {
    const std::size_t close = v.find('"', 1);
    if (close == std::string_view::npos) throw IniError(line, "a quoted value must end with a quote");
    const std::string_view rest = trim(v.substr(close + 1));
    if (!rest.empty() && rest.front() != ';' && rest.front() != '#') throw IniError(line, "only a comment may follow a quoted value");
    return std::string(v.substr(1, close - 1));
  }
  for (std::size_t i = 1; i < v.size(); ++i)
    if ((v[i] == ';' || v[i] == '#') && (v[i - 1] == ' ' || v[i - 1] == '\t')) return std::string(trim(v.substr(0, i)));
  return std::string(v);
}

}  // namespace

void readIni(std::string_view text, const IniHooks& hooks) {
  std::string section;
  // "[section]key\n" of every key seen, so a key given twice is caught.
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
      if (line.back() != ']') throw IniError(lineNo, "a section name must end with ]");
      section = std::string(trim(line.substr(1, line.size() - 2)));
      if (hooks.section) hooks.section(lineNo, section);
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
      throw IniError(lineNo, hooks.withoutEquals ? hooks.withoutEquals(line) : "expected key = value, found \"" + std::string(line) + "\"");
    IniEntry e{lineNo, section, std::string(trim(line.substr(0, eq))), {}};
    if (hooks.checkKey) hooks.checkKey(lineNo, e.key);
    e.value = valueOf(lineNo, trim(line.substr(eq + 1)));
    if (hooks.checkValue) hooks.checkValue(lineNo, e.key, e.value);
    if (section.empty()) throw IniError(lineNo, "\"" + e.key + "\" comes before any section");
    const std::string full = "[" + section + "]" + e.key + "\n";
    if (seen.find(full) != std::string::npos) throw IniError(lineNo, e.key + " is given twice");
    seen += full;
    hooks.entry(e);
  }
}

int iniNumber(int line, std::string_view key, std::string_view value, int low, int high) {
  int n = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
  if (ec != std::errc() || end != value.data() + value.size() || n < low || n > high)
    throw IniError(line, std::string(key) + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                             ", not \"" + std::string(value) + "\"");
  return n;
}

bool iniFlag(int line, std::string_view key, std::string_view value) {
  if (value == "true" || value == "yes" || value == "on" || value == "1") return true;
  if (value == "false" || value == "no" || value == "off" || value == "0") return false;
  throw IniError(line, std::string(key) + " must be true or false, not \"" + std::string(value) + "\"");
}

std::optional<std::string> readSettingsText(const std::string& path, unsigned* mode) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return std::nullopt;
    throw IniError(0, std::string("cannot read it: ") + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) throw IniError(0, "is not a regular file");
  if (st.st_size > 64 * 1024) throw IniError(0, "is larger than 64 KiB");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw IniError(0, std::string("cannot read it: ") + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw IniError(0, "cannot read it");
  if (mode) *mode = st.st_mode;
  return text.str();
}

}  // namespace common
