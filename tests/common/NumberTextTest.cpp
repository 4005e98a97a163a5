// Number text both ways: the general format of shown and stored values, and the parsing of the
// operator's input with its exact error texts.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "common/ConvertError.h"
#include "common/NumberText.h"

namespace {

struct Formatted {
  double value;
  const char* period;  // statement form
  const char* comma;   // display form under a locale with a decimal comma
};

TEST(FormatGeneral, WritesTheValuesTheSystemShowsAndStores) {
  const Formatted cases[] = {
      {2.34, "2.34", "2,34"},
      {16.0, "16", "16"},
      {245.0, "245", "245"},
      {0.0, "0", "0"},
      {-0.0, "0", "0"},
      {0.05, "0.05", "0,05"},
      {3 * 0.05, "0.15", "0,15"},
      {0.05 + 0.05 + 0.05, "0.15", "0,15"},  // 0.15000000000000002 in binary
      {23.95, "23.95", "23,95"},
      {24.0, "24", "24"},
      {3.795, "3.795", "3,795"},
      {16.65, "16.65", "16,65"},
      {300.0, "300", "300"},
      {10 * (0.2 + 0.03 + 0.004), "2.34", "2,34"},  // as a packed voltage is computed
      {180.00000000000003, "180", "180"},
      {0.1 + 0.2, "0.3", "0,3"},
      {-1.5, "-1.5", "-1,5"},
      {1500.0, "1500", "1500"},
      {0.0001, "0.0001", "0,0001"},
      {123456789012345.0, "123456789012345", "123456789012345"},
      {0.1234567890123456, "0.123456789012346", "0,123456789012346"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.period);
    EXPECT_EQ(common::formatGeneral(c.value), c.period);
    EXPECT_EQ(common::statementNumber(c.value), c.period);
    EXPECT_EQ(common::formatGeneral(c.value, ','), c.comma);
  }
}

TEST(FormatGeneral, FallsBackToAnExponentOutsideFifteenDigits) {
  EXPECT_EQ(common::formatGeneral(1e15), "1E15");
  EXPECT_EQ(common::formatGeneral(1234567890123456.0), "1.23456789012346E15");
  EXPECT_EQ(common::formatGeneral(1e20), "1E20");
  EXPECT_EQ(common::formatGeneral(0.00001), "1E-5");
  EXPECT_EQ(common::formatGeneral(1.5e-7, ','), "1,5E-7");
  EXPECT_EQ(common::formatGeneral(1.665e15), "1.665E15");
  EXPECT_EQ(common::formatGeneral(std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(common::formatGeneral(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(common::formatGeneral(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(FormatGeneral, StatementFormIgnoresTheLocale) {
  // What the display writes with a comma reads back with a comma, and the statement form of
  // the same value reads back with a period.
  for (double v : {2.34, 0.05, 245.0, 16.65, 3.795}) {
    EXPECT_EQ(common::parseFloat(common::formatGeneral(v, ','), ','), v);
    EXPECT_EQ(common::parseFloat(common::statementNumber(v)), v);
  }
}

struct Parsed {
  const char* text;
  char separator;
  double value;
};

TEST(ParseFloat, AcceptsDecimalNumbersWithTheLocalesSeparator) {
  const Parsed cases[] = {
      {"2.34", '.', 2.34}, {" 2.34 ", '.', 2.34}, {"\t60", '.', 60.0}, {"+1", '.', 1.0},
      {"-1.5", '.', -1.5}, {"1.", '.', 1.0},       {".5", '.', 0.5},    {"1e3", '.', 1000.0},
      {"1E-2", '.', 0.01}, {"2,34", ',', 2.34},    {"7", ',', 7.0},     {"0.0015", '.', 0.0015},
      {"000180", '.', 180.0}, {"-0", '.', 0.0},    {"1.5e+2", '.', 150.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(common::parseFloat(c.text, c.separator), c.value);
  }
}

void expectFloatError(const std::string& text, char separator) {
  SCOPED_TRACE(text);
  try {
    common::parseFloat(text, separator);
    ADD_FAILURE() << "accepted";
  } catch (const common::EConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "'" + text + "' is not a valid floating point value");
  }
}

TEST(ParseFloat, RejectsEverythingElseWithTheOperatorsText) {
  for (const char* text : {"", " ", "abc", "1.2.3", "1e", "1e+", "--1", "+", "-", ".", "1 2", "0x10",
                           "1e400", "-1e400", "12a", "inf", "nan", "١", "1,5"})
    expectFloatError(text, '.');
  // With a decimal comma a period is no separator.
  expectFloatError("2.34", ',');
  expectFloatError(" 60,0x ", ',');
}

struct ParsedInt {
  const char* text;
  std::int32_t value;
};

TEST(ParseInt, AcceptsSigned32BitDecimals) {
  const ParsedInt cases[] = {{"0", 0},
                             {"1500", 1500},
                             {" 42", 42},
                             {"+7", 7},
                             {"-12", -12},
                             {"007", 7},
                             {"2147483647", 2147483647},
                             {"-2147483648", std::numeric_limits<std::int32_t>::min()}};
  for (const auto& c : cases) EXPECT_EQ(common::parseInt(c.text), c.value) << c.text;
}

TEST(ParseInt, RejectsWithTheOperatorsText) {
  for (const char* text : {"", " ", "-", "+", "1.5", "42 ", "0x10", "$10", "1e3", "2147483648",
                           "-2147483649", "99999999999999999999999", "4 2", "abc"}) {
    SCOPED_TRACE(text);
    try {
      common::parseInt(text);
      ADD_FAILURE() << "accepted";
    } catch (const common::EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + text + "' is not a valid integer value");
    }
  }
}

TEST(ConvertError, IsARuntimeErrorCarryingTheText) {
  const common::EConvertError e = common::invalidInteger("1.5");
  const std::runtime_error& base = e;
  EXPECT_STREQ(base.what(), "'1.5' is not a valid integer value");
  EXPECT_STREQ(common::invalidFloat("x").what(), "'x' is not a valid floating point value");
}

}  // namespace
