#include "common/ConvertError.h"

namespace common {

namespace {

// Appended piece by piece: g++ 12 at -O3 reports a false -Wrestrict on "'" + std::string(...).
std::string quoted(std::string_view text, std::string_view rest) {
  std::string message;
  message.reserve(text.size() + rest.size() + 2);
  message.push_back('\'');
  message.append(text);
  message.push_back('\'');
  message.append(rest);
  return message;
}

}  // namespace

EConvertError invalidFloat(std::string_view text) {
  return EConvertError(quoted(text, " is not a valid floating point value"));
}

EConvertError invalidInteger(std::string_view text) {
  return EConvertError(quoted(text, " is not a valid integer value"));
}

}  // namespace common
