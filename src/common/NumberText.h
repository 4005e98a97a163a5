#pragma once
// Number text: how voltages, times and intervals become text and back.
//
// The general format has at most 15 significant digits, no trailing zeros, no trailing decimal
// separator and no exponent for the magnitudes the system writes (2.34, 16, 245, 0, 0.05).
// Values too large or too small for 15 fixed digits fall back to an exponent form ("1E20").
// The display form uses the system locale's decimal separator; the statement form (database
// statements) always uses a period.
#include <cstdint>
#include <string>
#include <string_view>

namespace common {

/// General format with the given decimal separator (a period by default).
std::string formatGeneral(double value, char decimalSeparator = '.');

/// The form written into database statements: always a period.
inline std::string statementNumber(double value) { return formatGeneral(value, '.'); }

/// Parses a decimal floating-point number written with the given separator: optional blanks
/// around it, an optional sign, digits with at most one separator, an optional exponent.
/// Throws EConvertError ("'%s' is not a valid floating point value") otherwise.
double parseFloat(std::string_view text, char decimalSeparator = '.');

/// Parses a signed 32-bit decimal integer: optional leading blanks, an optional sign, digits.
/// Throws EConvertError ("'%s' is not a valid integer value") otherwise or when out of range.
std::int32_t parseInt(std::string_view text);

}  // namespace common
