#pragma once
// The station's small INI files (publish.ini, controlroom.ini) read line by line: a UTF-8 byte
// order mark, blank lines, comments (';' or '#' first on a line, or after a blank inside a
// value), [section] headers, key = value lines and "quoted" values. What the sections and keys
// mean is the caller's.
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace common {

/// A line that cannot be read; line() counts from 1.
class IniError : public std::runtime_error {
 public:
  IniError(int line, const std::string& what) : std::runtime_error(what), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

struct IniEntry {
  int line = 0;
  std::string section;
  std::string key;
  std::string value;  ///< without its quotes or its comment
};

/// What the reader hands its caller, in the order of the file. Any hook may throw to stop the
/// reading; only `entry` is required.
struct IniHooks {
  /// A [section] header, its name trimmed.
  std::function<void(int line, const std::string& name)> section;
  /// Checks a key as soon as it is read, before its value.
  std::function<void(int line, const std::string& key)> checkKey;
  /// Checks a value as soon as it is read, before the key's place is checked.
  std::function<void(int line, const std::string& key, const std::string& value)> checkValue;
  /// A key = value line under a section, its key not given before in that section.
  std::function<void(const IniEntry& e)> entry;
  /// The message for a line without '='. By default it quotes the line.
  std::function<std::string(std::string_view line)> withoutEquals;
};

/// Reads `text`. Throws IniError for a section header without its ']', a line without '=', a
/// quoted value without its closing quote or with more than a comment after it, a key before
/// any section and a key given twice in a section.
void readIni(std::string_view text, const IniHooks& hooks);

/// `value` as a whole number from `low` to `high`; throws IniError naming `key` otherwise.
int iniNumber(int line, std::string_view key, std::string_view value, int low, int high);
/// true, yes, on, 1 or false, no, off, 0; throws IniError naming `key` otherwise.
bool iniFlag(int line, std::string_view key, std::string_view value);

/// The text of a small settings file, or nothing when there is no file at `path`; `mode` (when
/// given) gets the file's permission bits. Throws IniError (line 0) for a file that is not a
/// regular file, is larger than 64 KiB (a large one is a mistake, not settings) or cannot be read.
std::optional<std::string> readSettingsText(const std::string& path, unsigned* mode = nullptr);

}  // namespace common
