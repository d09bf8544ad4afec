// date!: calendar arithmetic over day numbers, the local view of a stored UTC date, the fields
// read and set by path and pick, make/to, add/subtract, compare and the text form. Day numbers,
// day counts and epoch seconds are 64-bit and every double is range-checked before it becomes
// an integer, so dates far from today neither wrap nor overflow. Month names come from
// system/locale/months at mold time. Relies on datatypes/time.h for the h:mm:ss text.
#include "datatypes/date.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "runtime/rng.h"
#include "runtime/throw.h"

namespace date {

namespace {

constexpr double kDay = 86400.0;
// Day counts beyond this are far outside any packed year: checked before double -> integer.
constexpr double kMaxDays = 1e9;

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

[[noreturn]] void fire_type_limit() {
  rt::fire_error("script", "type-limit", datatype::push(TYPE_DATE));
}

struct Civil {
  int64_t year;
  int32_t month, day;
};

// The calendar date of a day number (day 0 = 1 March of year 0), through 400-year eras.
Civil civil_of(int64_t g) {
  int64_t era = floor_div(g, 146097);
  int64_t doe = g - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int32_t day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
  int32_t month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  return Civil{yoe + era * 400 + (month <= 2), month, day};
}

inline int32_t year_of(uint32_t packed) { return static_cast<int32_t>(packed) >> 17; }
inline int32_t month_of(uint32_t packed) { return (packed >> 12) & 15; }
inline int32_t day_of(uint32_t packed) { return (packed >> 7) & 31; }
inline int64_t days_of(uint32_t packed) {
  return day_number(year_of(packed), month_of(packed), day_of(packed));
}
inline bool has_time(const Cell& date) { return packed_of(date) & kTimeFlag; }

int32_t zone_seconds(uint32_t zone) {
  int32_t seconds = static_cast<int32_t>((zone >> 2) & 15) * 3600 + static_cast<int32_t>(zone & 3) * 900;
  return (zone & 0x40) ? -seconds : seconds;
}

uint32_t zone_bits(bool negative, int32_t hours, int32_t quarters) {
  if (hours == 0 && quarters == 0) negative = false;
  return (negative ? 0x40u : 0u) | static_cast<uint32_t>(hours) << 2 | static_cast<uint32_t>(quarters);
}

// The zone of whole hours and minutes: false when it cannot be held (hours beyond 15).
bool zone_of_hours(int32_t hours, int32_t minutes, uint32_t& zone) {
  if (hours < -15 || hours > 15 || minutes < -59 || minutes > 59) return false;
  zone = zone_bits(hours < 0 || minutes < 0, std::abs(hours), std::abs(minutes) / 15);
  return true;
}

// The zone of a time! value: its hours and minutes taken mod 24 hours, minutes rounded down to
// quarters; false when the hours are beyond 15.
bool zone_of_time(double seconds, uint32_t& zone) {
  if (!std::isfinite(seconds)) return false;
  double a = std::fmod(std::fabs(seconds), kDay);
  int32_t hours = static_cast<int32_t>(a / 3600);
  int32_t minutes = static_cast<int32_t>(std::fmod(a, 3600) / 60);
  if (hours > 15) return false;
  zone = zone_bits(seconds < 0, hours, minutes / 15);
  return true;
}

// Moves whole days of the seconds into the day number, leaving 0 <= seconds < 86400.
void normalise(int64_t& day, double& seconds) {
  if (!std::isfinite(seconds)) fire_type_limit();
  double days = std::floor(seconds / kDay);
  if (std::fabs(days) > kMaxDays) fire_type_limit();
  day += static_cast<int64_t>(days);
  seconds -= days * kDay;
  if (seconds >= kDay) {  // rounding of a tiny negative remainder
    seconds -= kDay;
    day++;
  }
  if (seconds < 0) seconds = 0;
}

// Writes the UTC day and time into the cell (flags kept); a date beyond the packed years raises
// type-limit.
Cell* store_utc(Cell* cell, int64_t day, double time, uint32_t zone, bool with_time) {
  if (with_time) {
    normalise(day, time);
  } else {
    time = 0;
    zone = 0;
  }
  Civil c = civil_of(day);
  if (c.year < kMinYear || c.year > kMaxYear) fire_type_limit();
  cell::set_type(*cell, TYPE_DATE);
  set_packed(*cell, static_cast<uint32_t>(c.year) << 17 | (with_time ? kTimeFlag : 0) |
                        static_cast<uint32_t>(c.month) << 12 |
                        static_cast<uint32_t>(c.day) << 7 | zone);
  cell::set_double(*cell, time);
  return cell;
}

// The date as its user sees it: local day number and time of day.
struct Local {
  int64_t day;
  double time;
  uint32_t zone;
  bool with_time;
};

Local local_of(const Cell& date) {
  Local l{days_of(packed_of(date)), cell::get_double(date), packed_of(date) & kZoneMask,
          has_time(date)};
  if (l.with_time) l.day = apply_zone(l.day, l.time, l.zone);
  return l;
}

// Stores a local day and time: the time goes back to UTC through the zone.
Cell* store_local(Cell* cell, int64_t day, double time, uint32_t zone, bool with_time) {
  if (with_time) {
    if (!std::isfinite(time)) fire_type_limit();
    time -= zone_seconds(zone);
  }
  return store_utc(cell, day, time, zone, with_time);
}

inline int32_t weekday_of(int64_t day) { return static_cast<int32_t>(floor_mod(day + 2, 7)) + 1; }
inline int64_t january_first(int64_t day) { return day_number(civil_of(day).year, 1, 1); }

// Monday of ISO week 1: the Monday on or before 4 January.
int64_t iso_week_one(int64_t year) {
  int64_t fourth = day_number(year, 1, 4);
  return fourth - (weekday_of(fourth) - 1);
}

int32_t iso_week(int64_t day) {
  int64_t year = civil_of(day).year;
  int64_t monday = iso_week_one(year);
  if (day < monday) {
    int32_t first = weekday_of(day_number(year, 1, 1));
    return first == 5 || (first == 6 && leap_year_q(year - 1)) ? 53 : 52;
  }
  if (day >= iso_week_one(year + 1)) return 1;
  return static_cast<int32_t>((day - monday) / 7 + 1);
}

// Days from the Sunday on or before 1 January to it.
inline int64_t sunday_offset(int64_t jan1) { return floor_mod(jan1 + 3, 7); }

int32_t week_of(int64_t day) {
  int64_t jan1 = january_first(day);
  int64_t e = sunday_offset(jan1);
  int64_t yd = day - jan1 + 1;
  return static_cast<int32_t>(yd <= 7 - e ? 1 : (yd + e - 1) / 7 + 1);
}

Cell time_cell(double seconds) {
  Cell c{TYPE_TIME, 0, 0, 0};
  return *time_::set_cell(&c, seconds);
}

// The value of a field.
Cell field_value(const Cell& date, int32_t field) {
  Local l = local_of(date);
  Civil c = civil_of(l.day);
  switch (field) {
    case DATE: {
      Cell d{TYPE_DATE, 0, 0, 0};
      return *store_utc(&d, l.day, 0, 0, false);
    }
    case YEAR: return integer::make(static_cast<int32_t>(c.year));
    case MONTH: return integer::make(c.month);
    case DAY: return integer::make(c.day);
    case ZONE:
    case TIMEZONE: return l.with_time ? time_cell(zone_seconds(l.zone)) : constants::none;
    case TIME: return l.with_time ? time_cell(l.time) : constants::none;
    case HOUR: return integer::make(static_cast<int32_t>(l.time / 3600));
    case MINUTE: return integer::make(static_cast<int32_t>(std::fmod(l.time, 3600) / 60));
    case SECOND: return float_::make(std::fmod(l.time, 60));
    case WEEKDAY: return integer::make(weekday_of(l.day));
    case YEARDAY: return integer::make(static_cast<int32_t>(l.day - january_first(l.day) + 1));
    case WEEK: return integer::make(week_of(l.day));
    default: return integer::make(iso_week(l.day));
  }
}

// The field named by an integer! 1-14 or an accessor word; 0 for anything else.
int32_t field_of(const Cell& element) {
  uint8_t type = cell::type_of(element);
  if (type == TYPE_INTEGER) {
    int32_t n = integer::get_value(element);
    return n >= DATE && n <= ISOWEEK ? n : 0;
  }
  if (type != TYPE_WORD) return 0;
  const auto& s = runtime_words::symbols;
  const struct {
    uint32_t symbol;
    int32_t field;
  } words[] = {{s.date, DATE},       {s.year, YEAR},         {s.month, MONTH},
               {s.day, DAY},         {s.zone, ZONE},         {s.time, TIME},
               {s.hour, HOUR},       {s.minute, MINUTE},     {s.second, SECOND},
               {s.weekday, WEEKDAY}, {s.yearday, YEARDAY},   {s.julian, YEARDAY},
               {s.timezone, TIMEZONE}, {s.week, WEEK},       {s.isoweek, ISOWEEK}};
  uint32_t asked = symbol::resolve_alias(word::symbol_of(element));
  for (const auto& w : words) {
    if (symbol::resolve_alias(w.symbol) == asked) return w.field;
  }
  return 0;
}

// Sets a field to the value; a value of the wrong type raises invalid-arg, a zone that cannot be
// held out-of-range.
void set_field(Cell* date, int32_t field, const Cell& value) {
  uint8_t type = cell::type_of(value);
  auto need = [&](bool ok) {
    if (!ok) rt::fire_error("script", "invalid-arg", &value);
  };
  Local l = local_of(*date);
  Civil c = civil_of(l.day);
  int32_t n = integer::get_value(value);
  switch (field) {
    case DATE:
      need(type == TYPE_DATE);
      l.day = local_of(value).day;
      break;
    case YEAR: case MONTH: case DAY: case WEEKDAY: case YEARDAY: case WEEK: case ISOWEEK:
    case HOUR: case MINUTE:
      need(type == TYPE_INTEGER);
      break;
    case SECOND:
      need(type == TYPE_INTEGER || type == TYPE_FLOAT);
      break;
    case ZONE: case TIMEZONE: {
      need(type == TYPE_INTEGER || type == TYPE_TIME);
      uint32_t zone = 0;
      bool ok = type == TYPE_INTEGER ? zone_of_hours(n, 0, zone)
                                     : zone_of_time(cell::get_double(value), zone);
      if (!ok) rt::fire_error("script", "out-of-range", &value);
      if (field == ZONE) {
        store_local(date, l.day, l.with_time ? l.time : 0, zone, true);
      } else {  // the instant stays; the clock follows the zone
        store_utc(date, days_of(packed_of(*date)), cell::get_double(*date), zone, true);
      }
      return;
    }
    case TIME:
      need(type == TYPE_TIME || type == TYPE_NONE);
      if (type == TYPE_NONE) {
        store_utc(date, l.day, 0, 0, false);
      } else {
        store_local(date, l.day, cell::get_double(value), l.zone, true);
      }
      return;
    default:
      break;
  }
  switch (field) {
    case YEAR: l.day = day_number(n, c.month, c.day); break;
    case MONTH: l.day = day_number(c.year, n, c.day); break;
    case DAY: l.day = day_number(c.year, c.month, n); break;
    case WEEKDAY: l.day += int64_t{n} - weekday_of(l.day); break;
    case YEARDAY: l.day = january_first(l.day) + n - 1; break;
    case WEEK: {
      int64_t jan1 = january_first(l.day);
      l.day = n > 1 ? jan1 + 7 * int64_t{n} - 7 - sunday_offset(jan1) : jan1;
      break;
    }
    case ISOWEEK: l.day = iso_week_one(c.year) + 7 * (int64_t{n} - 1); break;
    case HOUR:
    case MINUTE:
    case SECOND: {
      // The clock is the local one: the other two parts of the local time stay as they are.
      double v = type == TYPE_FLOAT ? cell::get_double(value) : n;
      double t = l.time;
      if (field == HOUR) t -= (std::floor(t / 3600) - v) * 3600;
      else if (field == MINUTE) t -= (std::floor(std::fmod(t, 3600) / 60) - v) * 60;
      else t -= std::fmod(t, 60) - v;
      store_local(date, l.day, t, l.zone, true);
      return;
    }
    default:
      break;
  }
  store_local(date, l.day, l.time, l.zone, l.with_time);
}

// --- make and to ----------------------------------------------------------------------------

[[noreturn]] void fire_bad_to_arg(const Cell& spec) {
  rt::fire_error("script", "bad-to-arg", datatype::push(TYPE_DATE), &spec);
}

// The states of a block spec: what each element fills, and the state it leads to.
enum Slot : uint8_t {
  NONE, FIRST, SECOND_NUMBER, THIRD, HOUR_I, TIME_T, ZONE_H, ZONE_T, ZONE_M, MINUTE_I, SECOND_I,
  SECOND_F,
};
struct Step {
  uint8_t next;
  Slot slot;
};
// Columns: integer!, time!, float!.
constexpr Step kSteps[14][3] = {
    {{1, FIRST}, {0, NONE}, {0, NONE}},        {{2, SECOND_NUMBER}, {0, NONE}, {0, NONE}},
    {{3, THIRD}, {0, NONE}, {0, NONE}},        {{8, HOUR_I}, {4, TIME_T}, {0, NONE}},
    {{6, ZONE_H}, {5, ZONE_T}, {0, NONE}},     {{0, NONE}, {0, NONE}, {0, NONE}},
    {{7, ZONE_M}, {0, NONE}, {0, NONE}},       {{0, NONE}, {0, NONE}, {0, NONE}},
    {{9, MINUTE_I}, {0, NONE}, {0, NONE}},     {{10, SECOND_I}, {0, NONE}, {10, SECOND_F}},
    {{12, ZONE_H}, {11, ZONE_T}, {0, NONE}},   {{0, NONE}, {0, NONE}, {0, NONE}},
    {{13, ZONE_M}, {0, NONE}, {0, NONE}},      {{0, NONE}, {0, NONE}, {0, NONE}},
};

Cell* from_block(Cell* proto, const Cell& spec, bool strict) {
  int32_t first = 0, month = 0, third = 0, hour = 0, minute = 0, zone_h = 0, zone_m = 0;
  double second = 0, time = 0, zone_time = 0;
  bool hms = false, time_given = false, zone_is_time = false;
  int32_t count = 0;
  uint8_t state = 0;
  const int32_t length = series::buffer_length(spec);
  for (int32_t i = static_cast<int32_t>(cell::series_index(spec)); i < length; i++) {
    const Cell item = cell::block_head(spec)[i - cell::series_index(spec)];
    uint8_t type = cell::type_of(item);
    int column = type == TYPE_INTEGER ? 0 : type == TYPE_TIME ? 1 : type == TYPE_FLOAT ? 2 : -1;
    if (column < 0 || kSteps[state][column].slot == NONE) fire_bad_to_arg(spec);
    const Step step = kSteps[state][column];
    int32_t n = integer::get_value(item);
    switch (step.slot) {
      case FIRST: first = n; break;
      case SECOND_NUMBER: month = n; break;
      case THIRD: third = n; break;
      case HOUR_I: hour = n; hms = true; break;
      case MINUTE_I: minute = n; break;
      case SECOND_I: second = n; break;
      case SECOND_F: second = cell::get_double(item); break;
      case TIME_T: time = cell::get_double(item); time_given = true; break;
      case ZONE_H: zone_h = n; break;
      case ZONE_M: zone_m = n; break;
      case ZONE_T: zone_time = cell::get_double(item); zone_is_time = true; break;
      case NONE: break;
    }
    state = step.next;
    count++;
  }
  if (count < 3) fire_bad_to_arg(spec);
  int32_t day = first, year = third;
  if (first > 99 && third < first) {
    year = first;
    day = third;
  }
  uint32_t zone = 0;
  bool zone_ok = zone_is_time ? zone_of_time(zone_time, zone)
                              : zone_of_hours(zone_h, zone_h < 0 ? -zone_m : zone_m, zone);
  if (!zone_ok || zone_m < 0) fire_bad_to_arg(spec);
  if (hms) {
    time = double(hour) * 3600 + double(minute) * 60 + second;
    time_given = true;
  }
  if (strict && time_given && (!std::isfinite(time) || time < 0 || time >= kDay)) {
    fire_bad_to_arg(spec);
  }
  int64_t local_day = day_number(year, month, day);
  if (time_given) normalise(local_day, time);
  if (strict) {
    Civil c = civil_of(local_day);
    bool same = c.year == year && c.month == month && c.day == day &&
                (!hms || (hour >= 0 && hour <= 23 &&
                          static_cast<int32_t>(std::fmod(time, 3600) / 60) == minute));
    if (!same) fire_bad_to_arg(spec);
  }
  Cell result{TYPE_DATE, 0, 0, 0};
  store_local(&result, local_day, time, zone, count > 3);
  *proto = result;
  return proto;
}

// A count of seconds since 1-Jan-1970 00:00 UTC.
Cell* from_epoch(Cell* proto, int64_t seconds) {
  Cell result{TYPE_DATE, 0, 0, 0};
  store_utc(&result, day_number(1970, 1, 1) + floor_div(seconds, 86400),
            static_cast<double>(floor_mod(seconds, 86400)), 0, true);
  *proto = result;
  return proto;
}

Cell* make_or_to(Cell* proto, Cell* spec, bool strict) {
  switch (cell::type_of(*spec)) {
    case TYPE_DATE:
      return spec;
    case TYPE_INTEGER:
      return from_epoch(proto, integer::get_value(*spec));
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
      return from_block(proto, *spec, strict);
    default:
      fire_bad_to_arg(*spec);
  }
}

Cell* make(Cell* proto, Cell* spec, uint8_t) { return make_or_to(proto, spec, true); }
Cell* to(Cell* proto, Cell* spec, uint8_t) { return make_or_to(proto, spec, false); }

// --- Text ------------------------------------------------------------------------------------

// system/locale/months as read at mold time.
Cell months_block() {
  static const uint32_t locale = symbol::intern_c_string("locale");
  static const uint32_t months = symbol::intern_c_string("months");
  const Cell list = object::system_field({locale, months});
  if (cell::type_of(list) != TYPE_BLOCK) rt::fire_error("script", "invalid-months");
  return list;
}

int32_t append(Cell* out, const char* text, int32_t part) {
  return part - cell::append_text(out, text);
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  const Cell date = *value;
  Local l = local_of(date);
  // A time that the text rounds up to midnight shows as the next day's 0:00, which loads back.
  if (l.with_time && l.time >= kDay - 60 && time_::rounds_to_next_minute(l.time)) {
    l.day++;
    l.time = 0;
  }
  Civil c = civil_of(l.day);
  const Cell list = months_block();
  if (series::buffer_length(list) - static_cast<int32_t>(cell::series_index(list)) < c.month) {
    rt::fire_error("script", "invalid-months");
  }
  Cell name = cell::block_head(list)[c.month - 1];
  if (cell::type_of(name) != TYPE_STRING) rt::fire_error("script", "invalid-months");

  const char* separator = c.year < 0 ? "/" : "-";
  char text[32];
  std::snprintf(text, sizeof text, "%d%s", c.day, separator);
  part = append(out, text, part);
  int32_t letters = std::min(3, static_cast<int32_t>(string::rest_length(name)));
  string::concatenate(*out, name, letters, 0, true, string::kAppend);
  part -= letters;
  long long year = c.year < 0 ? -c.year : c.year;
  std::snprintf(text, sizeof text, year < 100 ? "%s%s%04lld" : "%s%s%lld", separator,
                c.year < 0 ? "-" : "", year);
  part = append(out, text, part);
  if (!l.with_time) return part;
  part = append(out, "/", part);
  part = time_::form_hms(l.time, out, part);
  if (l.zone == 0) return part;
  std::snprintf(text, sizeof text, "%c%02d:%02d", (l.zone & 0x40) ? '-' : '+',
                static_cast<int>((l.zone >> 2) & 15), static_cast<int>(l.zone & 3) * 15);
  return append(out, text, part);
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  return mold(value, out, {}, arg, part, 0);
}

// --- Path steps and pick ---------------------------------------------------------------------

// Setting changes the date in the cell given, which the evaluator stores back where it came
// from; the owner of that place is told here.
Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  int32_t field = field_of(*element);
  if (!field) rt::fire_error("script", "invalid-path", step.path, element);
  if (!step.value) {
    *parent = field_value(*parent, field);
    return parent;
  }
  set_field(parent, field, *step.value);
  // An object holding the value runs its on-change* when the evaluator stores the value back.
  if (step.notify) ownership::notify_owner(step.grandparent, "set-path", step.value, field, 1);
  return step.value;
}

Cell* pick(Cell* value, int32_t, Cell* index_value) {
  int32_t field = field_of(*index_value);
  if (!field) rt::fire_error("script", "out-of-range", index_value);
  *value = field_value(*value, field);
  return value;
}

// --- Compare and arithmetic ------------------------------------------------------------------

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_DATE) return action::kNotComparable;
  // Year, month, day in that order of weight; the year is signed.
  const uint32_t pa = packed_of(*a), pb = packed_of(*b);
  int64_t ka = int64_t{year_of(pa)} << 9 | (pa >> 7 & 0x1FF);
  int64_t kb = int64_t{year_of(pb)} << 9 | (pb >> 7 & 0x1FF);
  if (ka != kb) return ka < kb ? -1 : 1;
  double x = cell::get_double(*a), y = cell::get_double(*b);
  if (op == action::SAME) return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y) ? 0 : 1;
  bool equality = op == action::EQUAL || op == action::NOT_EQUAL ||
                  op == action::STRICT_EQUAL || op == action::FIND_EQUAL;
  if (equality) {
    Cell fx = float_::make(x), fy = float_::make(y);
    if (float_::compare(&fx, &fy, action::EQUAL) == 0) return 0;
  }
  return (x > y) - (x < y);
}

template <integer::Op op>
void math() {
  Cell* left = stack::arg(0);
  const Cell right = *stack::arg(1);
  const Cell date = *left;
  const int64_t day = days_of(packed_of(date));
  const double time = cell::get_double(date);
  const uint32_t zone = packed_of(date) & kZoneMask;
  switch (cell::type_of(right)) {
    case TYPE_INTEGER: {
      int64_t n = integer::get_value(right);
      store_utc(left, day + (op == integer::ADD ? n : -n), time, zone, has_time(date));
      return;
    }
    case TYPE_TIME: {
      double s = cell::get_double(right);
      store_utc(left, day, op == integer::ADD ? time + s : time - s, zone, true);
      return;
    }
    case TYPE_DATE: {
      if (op == integer::ADD) {
        rt::fire_error("script", "not-related", &runtime_words::words.add,
                       datatype::push(TYPE_DATE));
      }
      int64_t days = day - days_of(packed_of(right));
      double seconds = time - cell::get_double(right);
      normalise(days, seconds);
      *left = integer::make(static_cast<int32_t>(days));
      return;
    }
    default:
      rt::fire_error("script", "invalid-type", datatype::push(cell::type_of(right)));
  }
}

// random date: a day drawn between day number 0 (1-Mar-0000) and the date's own; a date with a
// time also gets a zone (any quarter-hour offset a date holds) and a time of day in whole
// seconds. /seed restarts the generator from the packed word plus the whole seconds.
void random(Cell* value, const action::RandomOptions& options) {
  const bool secure = options.secure;
  const Cell date = *value;
  if (options.seed) {
    const auto seconds = static_cast<int32_t>(cell::get_double(date));
    rng::seed(packed_of(date) + static_cast<uint32_t>(seconds));
    *value = constants::unset;
    return;
  }
  const auto last = static_cast<int32_t>(days_of(packed_of(date)));
  const int64_t day = last >= 0 ? rng::int_range(secure, last + 1) - 1
                                : rng::int_range(secure, last - 1) + 1;
  if (!has_time(date)) {
    store_utc(value, day, 0, 0, false);
    return;
  }
  const int32_t quarters = rng::int_range(secure, 127) - 64;  // -15:45 .. +15:45
  const uint32_t zone = zone_bits(quarters < 0, std::abs(quarters) / 4, std::abs(quarters) % 4);
  const double time = rng::int_range(secure, 86400) - 1;
  store_utc(value, day, time, zone, true);
}

}  // namespace

// --- Operations for the other datatypes and the lexer ----------------------------------------

bool leap_year_q(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t day_number(int64_t year, int64_t month, int64_t day) {
  year += floor_div(month - 1, 12);
  month = floor_mod(month - 1, 12) + 1;
  int64_t m = (month + 9) % 12;  // March = 0
  int64_t y = year - m / 10;
  return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400) + (306 * m + 5) / 10 +
         (day - 1);
}

int32_t year_day(uint32_t packed) {
  return static_cast<int32_t>(days_of(packed) - day_number(year_of(packed), 1, 1) + 1);
}

int64_t apply_zone(int64_t day_number, double& seconds, uint32_t zone) {
  seconds += zone_seconds(zone);
  normalise(day_number, seconds);
  return day_number;
}

Cell* make_at(Cell* cell, int32_t year, int32_t month, int32_t day, double time,
              int32_t zone_hours, int32_t zone_minutes, bool with_time) {
  uint32_t zone = zone_bits(zone_hours < 0 || zone_minutes < 0, std::abs(zone_hours),
                            std::abs(zone_minutes) / 15);
  return store_local(cell, day_number(year, month, day), time, zone, with_time);
}

Cell* make_at_hms(Cell* cell, int32_t year, int32_t month, int32_t day, int32_t hour,
                  int32_t minute, int32_t second, int32_t nanosecond) {
  double time = hour * 3600.0 + minute * 60.0 + second + nanosecond * 1e-9;
  return store_utc(cell, day_number(year, month, day), time, 0, true);
}

Cell* make_in(const Cell* block, uint32_t packed, uint32_t high, uint32_t low) {
  Cell* c = cell::append_new_cell(block);
  *c = Cell{TYPE_DATE, packed, low, high};
  return c;
}

Cell* push(uint32_t packed, double time) {
  Cell* c = stack::push_new();
  *c = Cell{TYPE_DATE, packed, 0, 0};
  cell::set_double(*c, time);
  return c;
}

int64_t to_epoch_seconds(const Cell& date) {
  return (days_of(packed_of(date)) - day_number(1970, 1, 1)) * 86400 +
         static_cast<int64_t>(std::trunc(cell::get_double(date) + 0.5));
}

void difference(Cell* date1, const Cell* date2) {
  double days = static_cast<double>(days_of(packed_of(*date1)) - days_of(packed_of(*date2)));
  double seconds = days * kDay + (cell::get_double(*date1) - cell::get_double(*date2));
  *date1 = time_cell(seconds);
}

Cell* push_field(const Cell& date, int32_t field) { return stack::push_copy(field_value(date, field)); }

void set_iso_week(Cell* date, int32_t n) { set_field(date, ISOWEEK, integer::make(n)); }
void set_weekday(Cell* date, int32_t n) { set_field(date, WEEKDAY, integer::make(n)); }
void set_year_day(Cell* date, int32_t n) { set_field(date, YEARDAY, integer::make(n)); }

void register_datatype() {
  using namespace action;
  using datatype::act;
  datatype::register_type(
      TYPE_DATE,
      {act<MAKE>(make), act<RANDOM>(random), act<TO>(to), act<FORM>(form), act<MOLD>(mold),
       act<EVAL_PATH>(eval_path), act<COMPARE>(compare), act<ADD>(math<integer::ADD>),
       act<SUBTRACT>(math<integer::SUBTRACT>), act<PICK>(pick)});
}

}  // namespace date
