// Double <-> decimal text. The shortest and the fixed-digit generation, and the correctly
// rounded reading, are std::to_chars and std::from_chars; here are the runtime's special texts,
// the layout rules and the tolerant scan of number text around them.
#include "runtime/dtoa.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace dtoa {

namespace {

// Byte 0 always holds "-": a negative value's text is returned from there, so the sign costs no
// move. The longest text ("-0.000000" and 17 digits) takes 26 bytes with its NUL.
char buffer[32] = "-";
char* const text = buffer + 1;

const char* signed_text(bool negative) { return negative ? buffer : text; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Consumes as much of the upper-case word as follows p, ignoring letter case.
const char* skip_word(const char* p, const char* end, const char* word) {
  while (p < end && *word && (*p & ~0x20) == *word) {
    p++;
    word++;
  }
  return p;
}

// Decimal exponents are saturated here: far beyond any double, and no int overflow on absurd text.
constexpr int64_t kExponentCap = 100000;

}  // namespace

const char* float_to_digits(double value, int32_t precision, int32_t* point, int32_t* count,
                            int32_t* sign, bool fraction) {
  bool negative = std::signbit(value);
  *count = 0;
  if (std::isnan(value)) {
    *sign = 0;
    *point = kSpecialPoint;
    std::strcpy(text, "1.#NaN");
    return text;
  }
  *sign = negative;
  if (std::isinf(value)) {
    *point = kSpecialPoint;
    std::strcpy(text, "1.#INF");
    return signed_text(negative);
  }
  if (value == 0.0) {
    *point = kZeroPoint;
    std::strcpy(text, fraction ? "0.0" : "0");
    return signed_text(negative);
  }
  // Scientific form: "d.ddde+XX"; the digits are the mantissa's without the point.
  char scratch[48];
  double magnitude = std::fabs(value);
  std::to_chars_result r =
      precision <= 0
          ? std::to_chars(scratch, scratch + sizeof scratch, magnitude,
                          std::chars_format::scientific)
          : std::to_chars(scratch, scratch + sizeof scratch, magnitude,
                          std::chars_format::scientific, std::min(precision, kMaxPrecision) - 1);
  const char* e = std::find(scratch, r.ptr, 'e');
  int32_t n = 0;
  for (const char* p = scratch; p < e; p++) {
    if (*p != '.') text[n++] = *p;
  }
  while (n > 1 && text[n - 1] == '0') n--;
  text[n] = '\0';
  const char* exponent = e + 1;
  if (*exponent == '+') exponent++;
  int32_t exponent10 = 0;
  std::from_chars(exponent, r.ptr, exponent10);
  *point = exponent10 + 1;
  *count = n;
  return text;
}

const char* format_float(double value, int32_t precision, bool fraction) {
  int32_t point, count, sign;
  const char* special = float_to_digits(value, precision, &point, &count, &sign, fraction);
  if (point >= kZeroPoint) return special;
  char digits[kMaxPrecision + 1];
  std::memcpy(digits, text, count + 1);
  char* out = text;
  // A mantissa that ends in "." takes a "0" or loses the ".".
  auto close_mantissa = [&] {
    if (out[-1] != '.') return;
    if (fraction) *out++ = '0';
    else out--;
  };
  if (point > 17 || point < -6) {
    *out++ = digits[0];
    *out++ = '.';
    out = std::copy(digits + 1, digits + count, out);
    close_mantissa();
    *out++ = 'e';
    out = std::to_chars(out, buffer + sizeof buffer, point - 1).ptr;
  } else if (point <= 0) {
    *out++ = '0';
    *out++ = '.';
    out = std::fill_n(out, -point, '0');
    out = std::copy(digits, digits + count, out);
  } else {
    for (int32_t i = 0; i < point; i++) *out++ = i < count ? digits[i] : '0';
    *out++ = '.';
    if (count > point) out = std::copy(digits + point, digits + count, out);
    close_mantissa();
  }
  *out = '\0';
  return signed_text(sign);
}

double parse_float(const char* start, const char* end, int32_t exponent_adjust,
                   int32_t* unconsumed) {
  const char* p = start;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  auto finish = [&](double magnitude) {
    *unconsumed = static_cast<int32_t>(end - p);
    return negative ? -magnitude : magnitude;
  };
  while (p < end && *p == '0') p++;
  std::string digits;
  int64_t exponent = 0;
  const char* integer_start = p;
  while (p < end && is_digit(*p)) digits += *p++;
  if (p < end && *p == '.') {
    // "N.#INF" and "N.#NaN": only after exactly one (non-zero) integer digit.
    if (p - integer_start == 1 && end - p > 2 && p[1] == '#') {
      char kind = p[2] & ~0x20;
      if (kind == 'I') {
        p = skip_word(p + 2, end, "INF");
        return finish(HUGE_VAL);
      }
      if (kind == 'N') {
        p = skip_word(p + 2, end, "NAN");
        negative = false;
        return finish(std::numeric_limits<double>::quiet_NaN());
      }
    }
    p++;
    while (p < end && is_digit(*p)) {
      if (!(digits.empty() && *p == '0')) digits += *p;
      exponent--;
      p++;
    }
  }
  // The exponent needs at least one digit after its optional sign; otherwise it stays unread.
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool exponent_negative = false;
    if (q < end && (*q == '+' || *q == '-')) exponent_negative = *q++ == '-';
    if (q < end && is_digit(*q)) {
      int64_t written = 0;
      while (q < end && is_digit(*q)) written = std::min(written * 10 + (*q++ - '0'), kExponentCap);
      exponent += exponent_negative ? -written : written;
      p = q;
    }
  }
  exponent += exponent_adjust;
  while (!digits.empty() && digits.back() == '0') {
    digits.pop_back();
    exponent++;
  }
  if (digits.empty()) return finish(0.0);
  // The value lies in [10^(magnitude - 1), 10^magnitude).
  int64_t magnitude = exponent + static_cast<int64_t>(digits.size());
  if (magnitude > 310) return finish(HUGE_VAL);
  if (magnitude < -324) return finish(0.0);
  std::string number = digits + 'e' + std::to_string(exponent);
  double value = 0.0;
  std::from_chars_result r = std::from_chars(number.data(), number.data() + number.size(), value);
  if (r.ec == std::errc::result_out_of_range) value = magnitude > 0 ? HUGE_VAL : 0.0;
  return finish(value);
}

}  // namespace dtoa
