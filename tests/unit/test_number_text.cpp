// The number scanners that conversions use on text of any unit width: integers with their two
// error codes, floats (',' as the decimal mark, ' separators, the length limit, wide code points
// that must not pass for digits) and the float syntax the float loaders share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/number_text.h"

namespace {

// The code points as units of the given width.
std::vector<uint8_t> units(const std::u32string& text, uint32_t unit) {
  std::vector<uint8_t> bytes(text.size() * unit);
  for (size_t i = 0; i < text.size(); i++) {
    for (uint32_t b = 0; b < unit; b++) bytes[i * unit + b] = (text[i] >> (8 * b)) & 0xFF;
  }
  return bytes;
}

TEST(LexerNumber, ScanInteger) {
  struct Case {
    std::u32string text;
    int32_t value;
    int32_t error;  // 0: left alone
  };
  const Case cases[] = {
      {U"0", 0, 0}, {U"+42", 42, 0}, {U"-13", -13, 0}, {U"1'000", 1000, 0},
      {U"2147483647", 2147483647, 0}, {U"-2147483648", INT32_MIN, 0},
      {U"2147483648", 0, number_text::kOverflow}, {U"-2147483649", 0, number_text::kOverflow},
      {U"-21474836480", 0, number_text::kOverflow}, {U"12a", 12, number_text::kBadChar},
      {U"-7x", -7, number_text::kBadChar}, {U"1\u0135", 1, number_text::kBadChar},
  };
  for (uint32_t unit : {1u, 2u, 4u}) {
    for (const Case& c : cases) {
      if (unit == 1 && c.text.find(U'\u0135') != std::u32string::npos) continue;
      std::vector<uint8_t> bytes = units(c.text, unit);
      int32_t error = 0;
      int32_t value = number_text::scan_integer(
          bytes.data(), static_cast<uint32_t>(c.text.size()), unit, error);
      EXPECT_EQ(value, c.value) << "unit " << unit << " case " << std::string(c.text.begin(), c.text.end());
      EXPECT_EQ(error, c.error) << "unit " << unit;
    }
  }
}

TEST(LexerNumber, ScanFloat) {
  struct Case {
    std::u32string text;
    double value;  // NaN: must fail
  };
  const double fail = NAN;
  const Case cases[] = {
      {U"1.5", 1.5}, {U"1,5", 1.5}, {U"1'000.5", 1000.5}, {U"-2e3", -2000.0}, {U".25", 0.25},
      {U"1x", fail}, {U"1xx", fail}, {U"", fail}, {U"1''0", fail}, {U"e5", fail},
      {U"1\u0135", fail},  // U+0135's low byte is '5'
      {U"\u0135", fail}, {U"\u0131.5", fail},
      {std::u32string(312, U'1'), INFINITY},  // too large: an infinity, as the reader gives
      {std::u32string(313, U'1'), fail},
  };
  for (uint32_t unit : {1u, 2u, 4u}) {
    for (const Case& c : cases) {
      bool wide = false;
      for (char32_t ch : c.text) wide |= ch > 0xFF;
      if (unit == 1 && wide) continue;
      std::vector<uint8_t> bytes = units(c.text, unit);
      int32_t error = 0;
      double value = number_text::scan_float(
          bytes.data(), static_cast<uint32_t>(c.text.size()), unit, error);
      std::string shown(c.text.begin(), c.text.begin() + std::min<size_t>(c.text.size(), 20));
      if (std::isnan(c.value)) {
        EXPECT_EQ(error, -1) << "unit " << unit << " " << shown;
        EXPECT_TRUE(std::isnan(value)) << shown;
      } else {
        EXPECT_EQ(error, 0) << shown;
        EXPECT_EQ(value, c.value) << shown;
      }
    }
  }
}

TEST(LexerNumber, FloatSyntax) {
  struct Case {
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {"1", true},     {"1.", true},    {".5", true},    {"1.5e10", true}, {"1E-3", true},
      {"+-1", true},   {"1'0.0'1", true}, {"1'", true},  {"", false},      {"e1", false},
      {"1e", false},   {"1e+", false},  {"1..2", false}, {"1.2.3", false}, {"1''2", false},
      {"1ee2", false}, {"12a", false},  {"12ab", false}, {"1.5xx", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(number_text::float_syntax_ok(reinterpret_cast<const uint8_t*>(c.text),
                                           std::strlen(c.text)),
              c.ok)
        << c.text;
  }
  std::string long_text(313, '1');
  EXPECT_FALSE(
      number_text::float_syntax_ok(reinterpret_cast<const uint8_t*>(long_text.data()), 313));
}

}  // namespace
