// Loader of date literals: day-month-year and year-month-day with "-" or "/" (month by number or
// name), ISO week (2020-W01-3), ordinal (2020-001) and compact (20200101T1000Z) forms, each with
// an optional time and zone. Every field is range-checked before datatypes/date.h builds the
// value; a date that does not exist (30 February) is a syntax error, not a neighbouring day.
#include <strings.h>

#include <cstring>

#include "datatypes/date.h"
#include "lexer/state.h"
#include "runtime/number_text.h"

namespace lexer {

namespace {

constexpr const char* kMonths[] = {"January", "February", "March",     "April",
                                   "May",     "June",     "July",      "August",
                                   "September", "October", "November", "December"};
constexpr int32_t kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// A cursor over the token; every reader fails (false) without moving past the token's end.
struct Reader {
  const uint8_t* p;
  const uint8_t* end;

  bool at_end() const { return p >= end; }
  bool peek(uint8_t c) const { return p < end && *p == c; }
  bool take(uint8_t c) {
    if (!peek(c)) return false;
    p++;
    return true;
  }
  // Between least and most digits; the count read goes to `count` when asked.
  bool number(int least, int most, int32_t& value, int* count = nullptr) {
    int n = 0;
    value = 0;
    while (n < most && p < end && is_digit(*p)) value = value * 10 + (*p++ - '0'), n++;
    if (count) *count = n;
    return n >= least;
  }
  // Seconds: digits, then an optional fraction.
  bool seconds(double& value) {
    const uint8_t* start = p;
    while (p < end && is_digit(*p)) p++;
    if (p == start) return false;
    if (take('.')) {
      while (p < end && is_digit(*p)) p++;
    }
    return number_text::convert_float(start, static_cast<size_t>(p - start), 0, value);
  }
};

struct Parsed {
  int32_t year = 0, month = 1, day = 1;
  double time = 0;
  bool has_time = false;
  int32_t zone_hours = 0, zone_minutes = 0;
  enum Form { kCalendar, kWeek, kOrdinal } form = kCalendar;
  int32_t week = 0, weekday = 1, year_day = 0;
};

// Z, or a zone: + or -, hours, then minutes (exactly two digits each in the compact form).
bool read_zone(Reader& r, Parsed& d, bool compact) {
  if (r.take('Z')) return true;
  bool negative = r.peek('-');
  if (!r.take('+') && !r.take('-')) return true;
  int32_t hours = 0, minutes = 0;
  if (compact) {
    if (!r.number(2, 2, hours) || !r.number(2, 2, minutes)) return false;
  } else {
    if (!r.number(1, 2, hours)) return false;
    bool colon = r.take(':');
    if ((colon || !r.at_end()) && !r.number(1, 2, minutes)) return false;
  }
  if (hours > 15 || minutes > 59 || minutes % 15 != 0) return false;
  d.zone_hours = negative ? -hours : hours;
  d.zone_minutes = negative ? -minutes : minutes;
  return true;
}

// hour:minute[:seconds] and an optional zone.
bool read_time(Reader& r, Parsed& d) {
  int32_t hour, minute;
  double seconds = 0;
  if (!r.number(1, 2, hour) || !r.take(':') || !r.number(1, 2, minute)) return false;
  if (r.take(':') && !r.seconds(seconds)) return false;
  if (hour > 23 || minute > 59 || !(seconds < 60)) return false;
  d.time = hour * 3600.0 + minute * 60.0 + seconds;
  d.has_time = true;
  return read_zone(r, d, false);
}

// The compact form after its four-digit year: MMDDThhmm[ss[.f]][Z|+hhmm].
bool read_compact(Reader& r, Parsed& d) {
  int32_t hour, minute;
  double seconds = 0;
  if (!r.number(2, 2, d.month) || !r.number(2, 2, d.day) || !r.take('T') ||
      !r.number(2, 2, hour) || !r.number(2, 2, minute)) {
    return false;
  }
  if (!r.at_end() && is_digit(*r.p) && !r.seconds(seconds)) return false;
  if (hour > 23 || minute > 59 || !(seconds < 60)) return false;
  d.time = hour * 3600.0 + minute * 60.0 + seconds;
  d.has_time = true;
  return read_zone(r, d, true);
}

// A month name of 3 to 9 letters: the beginning of an English month name, any case.
bool read_month_name(Reader& r, int32_t& month) {
  const uint8_t* start = r.p;
  while (r.p < r.end && is_letter(*r.p)) r.p++;
  size_t length = static_cast<size_t>(r.p - start);
  if (length < 3 || length > 9) return false;
  for (int32_t m = 0; m < 12; m++) {
    if (std::strlen(kMonths[m]) >= length &&
        strncasecmp(reinterpret_cast<const char*>(start), kMonths[m], length) == 0) {
      month = m + 1;
      return true;
    }
  }
  return false;
}

// day-month-year or year-month-day after the first number.
bool read_three_fields(Reader& r, Parsed& d, int32_t first) {
  uint8_t separator = r.peek('/') ? '/' : '-';
  if (!r.take(separator)) return false;
  int32_t month;
  if (r.p < r.end && is_digit(*r.p) ? !r.number(1, 2, month) : !read_month_name(r, month)) {
    return false;
  }
  if (!r.take(separator)) return false;
  bool negative = r.take('-');
  int32_t third;
  int digits;
  if (!r.number(1, 4, third, &digits)) return false;
  if (negative) third = -third;
  d.month = month;
  if (negative || third > 31 || first <= 99) {
    d.day = first;
    d.year = third;
    if (digits <= 2 && !negative) d.year += third > 49 ? 1900 : 2000;
  } else {
    d.year = first;
    d.day = third;
  }
  if (r.take('/') || r.take('T')) return read_time(r, d);
  return true;
}

bool parse(Reader& r, Parsed& d) {
  bool negative = r.take('-');
  int32_t first;
  int digits;
  if (!r.number(1, 4, first, &digits)) return false;
  if (negative) first = -first;
  int width = digits + negative;
  if (r.p < r.end && is_digit(*r.p)) {
    if (negative || digits != 4) return false;
    d.year = first;
    return read_compact(r, d);
  }
  if (width == 4 && r.peek('-') && r.p + 1 < r.end && r.p[1] == 'W') {
    r.p += 2;
    d.year = first;
    d.form = Parsed::kWeek;
    if (!r.number(2, 2, d.week)) return false;
    if (r.take('-') && !r.number(1, 1, d.weekday)) return false;
    return r.take('T') ? read_time(r, d) : true;
  }
  if (r.peek('-') && r.end - r.p >= 4 && is_digit(r.p[1]) && is_digit(r.p[2]) && is_digit(r.p[3]) &&
      (r.end - r.p == 4 || !is_digit(r.p[4]))) {
    r.p++;
    d.year = first;
    d.form = Parsed::kOrdinal;
    r.number(3, 3, d.year_day);
    return r.take('T') ? read_time(r, d) : true;
  }
  return read_three_fields(r, d, first);
}

int32_t weeks_in_year(int32_t year) {
  int32_t first = static_cast<int32_t>(((date::day_number(year, 1, 1) + 2) % 7 + 7) % 7) + 1;
  return first == 4 || (first == 3 && date::leap_year_q(year)) ? 53 : 52;
}

bool valid(const Parsed& d) {
  if (d.year < -9999 || d.year > 9999) return false;
  switch (d.form) {
    case Parsed::kWeek:
      return d.week >= 1 && d.week <= weeks_in_year(d.year) && d.weekday >= 1 && d.weekday <= 7;
    case Parsed::kOrdinal:
      return d.year_day >= 1 && d.year_day <= (date::leap_year_q(d.year) ? 366 : 365);
    case Parsed::kCalendar:
      break;
  }
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > kMonthDays[d.month - 1]) return false;
  return !(d.month == 2 && d.day == 29 && !date::leap_year_q(d.year));
}

}  // namespace

void load_date(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  Reader r{text, end};
  Parsed d;
  if (!parse(r, d) || !r.at_end() || !valid(d)) throw_error(s, text, TYPE_DATE);
  if (!load) return;
  Cell value{TYPE_DATE, 0, 0, 0};
  date::make_at(&value, d.year, d.month, d.day, d.time, d.zone_hours, d.zone_minutes,
                d.has_time);
  if (d.form == Parsed::kWeek) {
    date::set_iso_week(&value, d.week);
    date::set_weekday(&value, d.weekday);
  } else if (d.form == Parsed::kOrdinal) {
    date::set_year_day(&value, d.year_day);
  }
  Cell* c = output_cell(s);
  value.header |= c->header & cell::kNewLine;
  *c = value;
}

}  // namespace lexer
