// Exact conversion between doubles and decimal text: the shortest digits that read back as the
// same double (or the first n digits, correctly rounded), the runtime's layout of those digits,
// and the correctly rounded reading of decimal text. The digit work is the standard library's
// (std::to_chars, std::from_chars); this module fixes the shapes around it. Texts returned live
// in one static buffer and stay valid until the next conversion.
#pragma once
#include <cstdint>

namespace dtoa {

// Decimal-point positions reported for the values that have no digits.
constexpr int32_t kSpecialPoint = 9999;  // infinities and NaN
constexpr int32_t kZeroPoint = 9998;

// More significant digits than this never tell two doubles apart; larger precisions are cut here.
constexpr int32_t kMaxPrecision = 17;

// Digits of the value: precision 0 gives the shortest string that reads back as the same
// double, n > 0 the first n significant digits rounded half to even; trailing zeros removed.
// point: where the decimal point falls relative to the first digit (1 for 1.5, 0 for 0.5, -2 for
// 0.003), or kSpecialPoint / kZeroPoint with the texts "1.#INF", "-1.#INF", "1.#NaN", and "0",
// "-0" ("0.0", "-0.0" with fraction). sign: 1 when the sign bit is set (0 for NaN).
const char* float_to_digits(double value, int32_t precision, int32_t* point, int32_t* count,
                            int32_t* sign, bool fraction);

// The value's text: exponent form ("1.5e-8", "1.0e20") when the point is above 17 or below -6,
// else plain ("0.00000015", "100.0"); a bare "." at the end of the digits gets "0" with
// fraction, else goes away ("1e20", "100").
const char* format_float(double value, int32_t precision, bool fraction);

// Reads [start, end): sign, digits, ".", digits, "e" and a signed exponent, or "N.#INF" and
// "N.#NaN" for one non-zero integer digit N. exponent_adjust is added to the decimal exponent
// (-2 reads percent digits as a fraction). unconsumed receives the characters left unread: a
// non-zero count means the text was not a number. Too large gives an infinity, too small zero.
double parse_float(const char* start, const char* end, int32_t exponent_adjust,
                   int32_t* unconsumed);

}  // namespace dtoa
