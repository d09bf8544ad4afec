// Number scanners over code units of any width, and the float syntax automaton shared with the
// lexer's float, percent and point loaders. Relies on runtime/dtoa.h for the correctly rounded
// reading of decimal text and runtime/unicode.h for reading code units.
#include "runtime/number_text.h"

#include <cstring>

#include "runtime/dtoa.h"
#include "runtime/unicode.h"

namespace number_text {

namespace {

// Float syntax automaton: byte classes 0 other, 1 sign, 2 digit, 3 e/E, 4 '.', 5 '''; column 6
// says whether a state accepts. The reject state is a sink: no later byte makes junk valid.
constexpr uint8_t kFloatSyntax[10][7] = {
    /* 0 start */ {9, 0, 1, 9, 4, 9, 0},
    /* 1 integer digits */ {9, 9, 1, 6, 5, 2, 1},
    /* 2 after ' */ {9, 9, 1, 9, 9, 9, 1},
    /* 3 fraction digits */ {9, 9, 3, 6, 9, 4, 1},
    /* 4 after . or fraction ' */ {9, 9, 3, 9, 9, 9, 1},
    /* 5 digits and . */ {9, 9, 3, 9, 9, 9, 1},
    /* 6 after e */ {9, 7, 8, 9, 9, 9, 0},
    /* 7 exponent sign */ {9, 9, 8, 9, 9, 9, 0},
    /* 8 exponent digits */ {9, 9, 8, 9, 9, 9, 1},
    /* 9 reject */ {9, 9, 9, 9, 9, 9, 0},
};

uint8_t float_class(uint8_t byte) {
  if (byte == '+' || byte == '-') return 1;
  if (byte >= '0' && byte <= '9') return 2;
  if (byte == 'e' || byte == 'E') return 3;
  if (byte == '.') return 4;
  if (byte == '\'') return 5;
  return 0;
}

constexpr uint64_t kQuietNaN = 0x7FF8000000000000ull;

double quiet_nan() {
  double d;
  std::memcpy(&d, &kQuietNaN, sizeof d);
  return d;
}

}  // namespace

bool float_syntax_ok(const uint8_t* text, size_t length) {
  if (length > kMaxFloatText) return false;
  uint8_t state = 0;
  for (size_t i = 0; i < length; i++) state = kFloatSyntax[state][float_class(text[i])];
  return kFloatSyntax[state][6] != 0;
}

bool convert_float(const uint8_t* text, size_t length, int32_t exponent_adjust, double& value) {
  char digits[kMaxFloatText + 1];
  size_t n = 0;
  for (size_t i = 0; i < length && n < kMaxFloatText; i++) {
    if (text[i] != '\'') digits[n++] = static_cast<char>(text[i]);
  }
  int32_t unconsumed = 0;
  value = dtoa::parse_float(digits, digits + n, exponent_adjust, &unconsumed);
  return unconsumed == 0 && n > 0;
}

int32_t scan_integer(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error) {
  uint32_t i = 0;
  bool negative = false;
  if (length > 0) {
    uint32_t c = unicode::read_unit(text, unit);
    if (c == '+' || c == '-') {
      negative = c == '-';
      i = 1;
    }
  }
  // The magnitude is gathered as a negative number so that -2147483648 fits.
  int64_t value = 0;
  for (; i < length; i++) {
    uint32_t c = unicode::read_unit(text + i * unit, unit);
    if (c == '\'') continue;
    if (c < '0' || c > '9') {
      error = kBadChar;
      return static_cast<int32_t>(negative ? value : -value);
    }
    value = value * 10 - (c - '0');
    if (value < INT32_MIN || (!negative && value == INT32_MIN)) {
      error = kOverflow;
      return 0;
    }
  }
  return static_cast<int32_t>(negative ? value : -value);
}

double scan_float(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error) {
  if (length > kMaxFloatText) {
    error = -1;
    return quiet_nan();
  }
  uint8_t bytes[kMaxFloatText];
  for (uint32_t i = 0; i < length; i++) {
    uint32_t c = unicode::read_unit(text + i * unit, unit);
    if (c > 127) {  // a wide code point is no digit, whatever its low byte says
      error = -1;
      return quiet_nan();
    }
    bytes[i] = c == ',' ? '.' : static_cast<uint8_t>(c);
  }
  double value;
  if (!float_syntax_ok(bytes, length) || !convert_float(bytes, length, 0, value)) {
    error = -1;
    return quiet_nan();
  }
  return value;
}

}  // namespace number_text
