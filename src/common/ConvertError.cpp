#include "common/ConvertError.h"

namespace common {

EConvertError invalidFloat(std::string_view text) {
  return EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

EConvertError invalidInteger(std::string_view text) {
  return EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace common
