// Number text: read a number straight from text of any unit width (1, 2 or 4 bytes a code unit),
// for the conversions of strings to numbers (to integer!, to float!); and the float syntax check
// and conversion the lexer's float, percent and point loaders share. They report failure through
// an error code and never raise: the caller words its own conversion error. Relies on
// runtime/dtoa.h.
#pragma once
#include <cstddef>
#include <cstdint>

namespace number_text {

// Error codes of scan_integer.
constexpr int32_t kBadChar = -1;
constexpr int32_t kOverflow = -2;

// Optional sign, then digits with ' separators. A bad code point sets error to kBadChar and
// returns the value read so far; an overflow sets kOverflow and returns 0. error is left as it
// was on success.
int32_t scan_integer(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error);

// A decimal number (',' reads as '.', ' separators); failure sets error to -1 and returns the
// quiet NaN. Code points above 127 fail: they are not digits of any width.
double scan_float(const uint8_t* text, uint32_t length, uint32_t unit, int32_t& error);

// Whether the bytes pass the float syntax: signs, digits with ' separators, one '.', an
// exponent; at most kMaxFloatText bytes.
constexpr size_t kMaxFloatText = 312;
bool float_syntax_ok(const uint8_t* text, size_t length);

// Converts checked float text: ' separators dropped, decimal exponent moved by exponent_adjust
// (-2 for percent). Returns false when the text does not convert.
bool convert_float(const uint8_t* text, size_t length, int32_t exponent_adjust, double& value);

}  // namespace number_text
