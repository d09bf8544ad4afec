// Loader of time literals: [sign] hours ":" minutes [":" seconds], or [sign] minutes ":"
// seconds when a "." or "," follows the second number (1:30.5 is 90.5 seconds). The scanner's
// automaton has already limited the characters; the numbers and their range are checked here.
#include <cstring>

#include "datatypes/time.h"
#include "lexer/state.h"
#include "runtime/number_text.h"

namespace lexer {

namespace {

// Decimal digits with ' separators from p; false when there is none or the number passes
// 2147483647. p moves past the digits.
bool read_whole(const uint8_t*& p, const uint8_t* end, double& value) {
  const uint8_t* start = p;
  value = 0.0;
  for (; p < end && ((*p >= '0' && *p <= '9') || (*p == '\'' && p > start)); p++) {
    if (*p == '\'') continue;
    value = value * 10.0 + (*p - '0');
    if (value > 2147483647.0) return false;
  }
  return p > start;
}

}  // namespace

void load_time(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  const uint8_t* p = text;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  double hours, minutes, seconds = 0.0;
  if (!read_whole(p, end, hours) || p == end || *p != ':') throw_error(s, text, TYPE_TIME);
  const uint8_t* second_number = ++p;
  if (!read_whole(p, end, minutes)) throw_error(s, text, TYPE_TIME);
  if (p < end) {
    if (*p != '.' && *p != ',' && *p != ':') throw_error(s, text, TYPE_TIME);
    if (std::memchr(text, 'e', end - text) || std::memchr(text, 'E', end - text)) {
      throw_error(s, text, TYPE_TIME);
    }
    const uint8_t* from = p + 1;
    if (*p != ':') {  // minutes:seconds.fraction
      minutes = hours;
      hours = 0.0;
      from = second_number;
    }
    int32_t error = 0;
    if (from == end || *from == '-' || *from == '+') throw_error(s, text, TYPE_TIME);
    seconds = number_text::scan_float(from, static_cast<uint32_t>(end - from), 1, error);
    if (error) throw_error(s, text, TYPE_TIME);
  }
  double value = hours * 3600.0 + minutes * 60.0 + seconds;
  if (!time_::in_range(value)) throw_error(s, text, TYPE_TIME);
  if (load) time_::set_cell(output_cell(s), negative ? -value : value);
}

}  // namespace lexer
