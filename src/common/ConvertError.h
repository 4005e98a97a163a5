#pragma once
// Conversion errors of operator input. The texts are the ones the operator sees in the error box.
#include <stdexcept>
#include <string>
#include <string_view>

namespace common {

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// "'<text>' is not a valid floating point value"
EConvertError invalidFloat(std::string_view text);
/// "'<text>' is not a valid integer value"
EConvertError invalidInteger(std::string_view text);

}  // namespace common
