#include "common/NumberText.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "common/ConvertError.h"

namespace common {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// "1.5e-07" from to_chars becomes "1.5E-7", the exponent form of the general format.
std::string exponentForm(std::string_view text) {
  const auto e = text.find('e');
  std::string out(text.substr(0, e));
  out += 'E';
  std::string_view exp = text.substr(e + 1);
  if (!exp.empty() && (exp.front() == '+' || exp.front() == '-')) {
    if (exp.front() == '-') out += '-';
    exp.remove_prefix(1);
  }
  while (exp.size() > 1 && exp.front() == '0') exp.remove_prefix(1);
  out += exp;
  return out;
}

}  // namespace

std::string formatGeneral(double value, char decimalSeparator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";  // also turns -0 into 0

  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string text(buf, res.ptr);
  if (text.find('e') != std::string::npos) text = exponentForm(text);
  if (decimalSeparator != '.') {
    for (char& c : text)
      if (c == '.') c = decimalSeparator;
  }
  return text;
}

double parseFloat(std::string_view text, char decimalSeparator) {
  std::string_view s = text;
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);

  // Validate the shape ourselves and hand from_chars a plain period form: from_chars is
  // locale-independent and rounds correctly.
  std::string plain;
  plain.reserve(s.size());
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') plain += '-';
    ++i;
  }
  int digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') plain += s[i++], ++digits;
  if (i < s.size() && s[i] == decimalSeparator) {
    plain += '.';
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') plain += s[i++], ++digits;
  }
  if (digits == 0) throw invalidFloat(text);
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    plain += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) plain += s[i++];
    int expDigits = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') plain += s[i++], ++expDigits;
    if (expDigits == 0) throw invalidFloat(text);
  }
  if (i != s.size()) throw invalidFloat(text);

  double value = 0;
  const auto res = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (res.ec != std::errc() || res.ptr != plain.data() + plain.size() || !std::isfinite(value))
    throw invalidFloat(text);
  return value;
}

std::int32_t parseInt(std::string_view text) {
  std::string_view s = text;
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) throw invalidInteger(text);
  std::int64_t magnitude = 0;
  for (char c : s) {
    if (c < '0' || c > '9') throw invalidInteger(text);
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > 2147483648LL) throw invalidInteger(text);
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > 2147483647LL) throw invalidInteger(text);
  return static_cast<std::int32_t>(value);
}

}  // namespace common
