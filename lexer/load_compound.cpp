// Loaders of tuple, pair and point literals: the syntax the automaton leaves to check, and the
// value, built in its output cell by the datatype's maker. Point coordinates go through the
// float loaders, whose checks and errors they share. Nothing here allocates series.
#include <cmath>
#include <cstring>

#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "lexer/state.h"
#include "lexer/tables.h"
#include "runtime/number_text.h"

namespace lexer {

namespace {

// A pair half by the integer literal's rules: optional sign, digits, single ' separators. A
// half beyond the 32-bit range is refused rather than turned into a float.
bool pair_half(const uint8_t* text, const uint8_t* end, int32_t& value) {
  const uint8_t* p = text + (text < end && (*text == '+' || *text == '-'));
  bool digits = false, separator = false;
  for (; p < end; p++) {
    if (*p == '\'' && !separator) {
      separator = true;
      continue;
    }
    if (!is_digit(*p)) return false;
    digits = true;
    separator = false;
  }
  int32_t error = 0;
  value = number_text::scan_integer(text, uint32_t(end - text), 1, error);
  return digits && error == 0;
}

bool point_blank(uint8_t c) { return c == ' ' || c == '\t'; }

// One coordinate, read by the float loaders (the special one when it holds a '#'), whose value
// is taken back out of the output; a check-only scan builds nothing and gives NaN.
double coordinate(State& s, const uint8_t* text, const uint8_t* end, bool load) {
  uint8_t kind = std::memchr(text, '#', size_t(end - text)) ? K_FLOAT_SPECIAL : K_FLOAT;
  loaders[kind - 1](s, text, end, 0, load);
  if (!load) return std::nan("");
  return cell::get_double(output[--s.tail]);
}

}  // namespace

// Parts separated by '.', each 0-255, at most 12 of them.
void load_tuple(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  uint8_t bytes[tuple::kMaxBytes] = {};
  uint32_t count = 0;
  for (const uint8_t* p = text; p <= end; p++) {
    const uint8_t* part = p;
    uint32_t value = 0;
    for (; p < end && *p != '.'; p++) {
      if (!is_digit(*p)) throw_error(s, text, TYPE_TUPLE);
      value = value * 10 + uint32_t(*p - '0');
      if (value > 255) throw_error(s, text, TYPE_TUPLE);
    }
    if (p == part || count == tuple::kMaxBytes) throw_error(s, text, TYPE_TUPLE);
    bytes[count++] = uint8_t(value);
  }
  if (load) tuple::make_at(output_cell(s), count, bytes);
}

// Two integers separated by x or X; no '.' anywhere.
void load_pair(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  const uint8_t* x = text;
  while (x < end && *x != 'x' && *x != 'X') x++;
  int32_t first, second;
  if (std::memchr(text, '.', size_t(end - text)) || !pair_half(text, x, first) ||
      !pair_half(x + 1, end, second)) {
    throw_error(s, text, TYPE_PAIR);
  }
  if (load) pair::make_at(output_cell(s), first, second);
}

// The text after the '(' up to the ')': two or three coordinates separated by ','.
void load_point(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  double v[3] = {};
  int count = 0;
  const uint8_t* p = text;
  for (;;) {
    while (p < end && point_blank(*p)) p++;
    const uint8_t* start = p;
    while (p < end && *p != ',' && !point_blank(*p)) p++;
    if (p == start) throw_error(s, text, TYPE_POINT2D);
    v[count++] = coordinate(s, start, p, load);
    while (p < end && point_blank(*p)) p++;
    if (p == end) break;
    // A ',' leads to the next coordinate, up to the third.
    if (count == 3) throw_error(s, text, TYPE_POINT3D);
    if (*p != ',') throw_error(s, text, TYPE_POINT2D);
    p++;
  }
  if (count < 2) throw_error(s, text, TYPE_POINT2D);
  uint8_t type = count == 3 ? TYPE_POINT3D : TYPE_POINT2D;
  s.token_type = type;
  s.position = end + 1;
  if (load) point::make_at(output_cell(s), type, v[0], v[1], v[2]);
}

}  // namespace lexer
