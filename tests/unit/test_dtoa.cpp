// Double <-> text conversion: the layout of the shortest digits, fixed-digit rounding, the
// special texts, the scan of number text, and a property check against an independent oracle
// (fixtures/float_repr.txt, Python's repr of 20,000 seed-fixed doubles, made by
// fixtures/make_float_oracle.py): same digits and decimal point, and every text reads back.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/dtoa.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

double read(const std::string& text, int32_t adjust, int32_t* unconsumed) {
  return dtoa::parse_float(text.data(), text.data() + text.size(), adjust, unconsumed);
}

TEST(Dtoa, FormatFloatLayout) {
  struct Case {
    double value;
    int32_t precision;
    bool fraction;
    const char* text;
  };
  const std::vector<Case> cases = {
      {0.1, 0, true, "0.1"},
      {1.0 / 3, 0, true, "0.3333333333333333"},
      {0.1 + 0.2, 0, true, "0.30000000000000004"},
      {9007199254740992.0, 0, true, "9007199254740992.0"},
      {1.0, 0, true, "1.0"},
      {100.0, 0, true, "100.0"},
      {100.0, 0, false, "100"},
      {1.5, 0, true, "1.5"},
      {-1.5, 0, true, "-1.5"},
      {0.001, 0, true, "0.001"},
      {1e16, 0, true, "10000000000000000.0"},
      {1e17, 0, true, "1.0e17"},
      {1e20, 0, true, "1.0e20"},
      {1e20, 0, false, "1e20"},
      {1.5e20, 0, false, "1.5e20"},
      {1e-7, 0, true, "0.0000001"},
      {-1e-7, 0, true, "-0.0000001"},
      {1.5e-7, 0, true, "0.00000015"},
      {1e-8, 0, true, "1.0e-8"},
      {1.5e-8, 0, true, "1.5e-8"},
      {5e-324, 0, true, "5.0e-324"},
      {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
      {0.0, 0, true, "0.0"},
      {-0.0, 0, true, "-0.0"},
      {0.0, 0, false, "0"},
      {-0.0, 0, false, "-0"},
      {kInf, 0, true, "1.#INF"},
      {-kInf, 0, true, "-1.#INF"},
      {kNaN, 0, true, "1.#NaN"},
      {-kNaN, 0, true, "1.#NaN"},
      // Fixed digits: correctly rounded, ties to the even digit, trailing zeros dropped.
      {2.0 / 3, 3, true, "0.667"},
      {1.0 / 3, 6, false, "0.333333"},
      {2.5, 1, true, "2.0"},
      {3.5, 1, true, "4.0"},
      {0.125, 2, true, "0.12"},
      {1234.5, 2, false, "1200"},
      {0.1, 40, true, "0.10000000000000001"},  // more than 17 digits never tell doubles apart
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(dtoa::format_float(c.value, c.precision, c.fraction), c.text)
        << c.value << " precision " << c.precision;
  }
}

TEST(Dtoa, DigitsAndPoint) {
  struct Case {
    double value;
    const char* digits;
    int32_t point;
    int32_t sign;
  };
  const std::vector<Case> cases = {
      {1.5, "15", 1, 0},       {0.5, "5", 0, 0},          {0.003, "3", -2, 0},
      {-250.0, "25", 3, 1},    {1e20, "1", 21, 0},        {0.0, "0.0", dtoa::kZeroPoint, 0},
      {-0.0, "-0.0", dtoa::kZeroPoint, 1},  {-kInf, "-1.#INF", dtoa::kSpecialPoint, 1},
      {kNaN, "1.#NaN", dtoa::kSpecialPoint, 0},
  };
  for (const Case& c : cases) {
    int32_t point, count, sign;
    const char* digits = dtoa::float_to_digits(c.value, 0, &point, &count, &sign, true);
    EXPECT_STREQ(digits, c.digits) << c.value;
    EXPECT_EQ(point, c.point) << c.value;
    EXPECT_EQ(sign, c.sign) << c.value;
    if (point < dtoa::kZeroPoint) {
      EXPECT_EQ(count, static_cast<int32_t>(std::strlen(digits)));
    }
  }
}

TEST(Dtoa, ParseFloat) {
  struct Case {
    std::string text;
    int32_t adjust;
    double value;
    int32_t unconsumed;
  };
  const std::vector<Case> cases = {
      {"1.5", 0, 1.5, 0},
      {"-2.5e3", 0, -2500.0, 0},
      {"+1E2", 0, 100.0, 0},
      {".5", 0, 0.5, 0},
      {"0.001", 0, 0.001, 0},
      {"000", 0, 0.0, 0},
      {"0.0000000000000000000000000000001e31", 0, 1.0, 0},
      {"1" + std::string(400, '0') + "e-400", 0, 1.0, 0},
      {"50", -2, 0.5, 0},  // percent digits
      {"12.5", -2, 0.125, 0},
      {"1.#INF", 0, kInf, 0},
      {"-1.#INF", 0, -kInf, 0},
      {"1.#inf", 0, kInf, 0},
      {"1.#NaN", 0, kNaN, 0},
      {"-1.#NaN", 0, kNaN, 0},
      {"1e400", 0, kInf, 0},
      {"-1e400", 0, -kInf, 0},
      {"1e-400", 0, 0.0, 0},
      {"1e99999999999999999999", 0, kInf, 0},  // no overflow of the exponent itself
      {"1e-99999999999999999999", 0, 0.0, 0},
      // Correct rounding at the hard places: ties to even, and half the smallest subnormal.
      {"9007199254740993", 0, 9007199254740992.0, 0},
      {"9007199254740993.0000000001", 0, 9007199254740994.0, 0},
      {"2.4703282292062328e-324", 0, 5e-324, 0},
      {"2.4703282292062327e-324", 0, 0.0, 0},
      {"0.1", 0, 0.1, 0},
      // Characters left unread mark a malformed number.
      {"0.#INF", 0, 0.0, 4},  // the integer part must be one non-zero digit
      {"5.#Ixyz", 0, kInf, 3},
      {"1e", 0, 1.0, 1},
      {"1e+", 0, 1.0, 2},
      {"1.5x", 0, 1.5, 1},
      {"1e5x", 0, 1e5, 1},
  };
  for (const Case& c : cases) {
    int32_t unconsumed = -1;
    double value = read(c.text, c.adjust, &unconsumed);
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(value)) << c.text;
      EXPECT_FALSE(std::signbit(value)) << c.text;
    } else {
      EXPECT_EQ(std::bit_cast<uint64_t>(value), std::bit_cast<uint64_t>(c.value))
          << c.text << " read as " << value;
    }
    EXPECT_EQ(unconsumed, c.unconsumed) << c.text;
  }
}

TEST(Dtoa, NegativeZeroReadsBack) {
  int32_t unconsumed;
  EXPECT_TRUE(std::signbit(read("-0.0", 0, &unconsumed)));
  EXPECT_FALSE(std::signbit(read("0.0", 0, &unconsumed)));
}

// Python's repr digits as (digits without leading or trailing zeros, decimal point position).
void oracle_digits(std::string repr, std::string* digits, int32_t* point) {
  if (repr[0] == '-') repr.erase(0, 1);
  int32_t exponent = 0;
  size_t e = repr.find('e');
  if (e != std::string::npos) {
    exponent = std::stoi(repr.substr(e + 1));
    repr.resize(e);
  }
  size_t dot = repr.find('.');
  int32_t integer_length = static_cast<int32_t>(dot == std::string::npos ? repr.size() : dot);
  if (dot != std::string::npos) repr.erase(dot, 1);
  size_t first = repr.find_first_not_of('0');
  *point = integer_length - static_cast<int32_t>(first) + exponent;
  *digits = repr.substr(first);
  while (digits->size() > 1 && digits->back() == '0') digits->pop_back();
}

TEST(Dtoa, ShortestDigitsAgreeWithOracle) {
  std::filesystem::path fixture =
      std::filesystem::path(__FILE__).parent_path() / "fixtures" / "float_repr.txt";
  std::ifstream in(fixture);
  ASSERT_TRUE(in) << fixture;
  int lines = 0, failures = 0;
  std::string line;
  while (std::getline(in, line) && failures < 10) {
    std::istringstream fields(line);
    std::string hex, repr;
    fields >> hex >> repr;
    double value = std::bit_cast<double>(std::stoull(hex, nullptr, 16));
    lines++;

    std::string want_digits;
    int32_t want_point;
    oracle_digits(repr, &want_digits, &want_point);
    int32_t point, count, sign;
    std::string digits = dtoa::float_to_digits(value, 0, &point, &count, &sign, true);
    bool ok = digits == want_digits && point == want_point && sign == (repr[0] == '-');

    // Our text and the oracle's both read back as the same double.
    int32_t unconsumed;
    std::string text = dtoa::format_float(value, 0, true);
    double ours = read(text, 0, &unconsumed);
    ok = ok && unconsumed == 0 && std::bit_cast<uint64_t>(ours) == std::bit_cast<uint64_t>(value);
    double theirs = read(repr, 0, &unconsumed);
    ok = ok && unconsumed == 0 &&
         std::bit_cast<uint64_t>(theirs) == std::bit_cast<uint64_t>(value);
    if (!ok) {
      failures++;
      ADD_FAILURE() << line << ": digits " << digits << " point " << point << ", text " << text;
    }
  }
  EXPECT_EQ(lines, 20000);
}

}  // namespace
