// System natives that reach the operating system through platform/os: the clock (now) and the
// environment (get-env, set-env). They follow the native protocol of interpreter/natives.h; a
// new string is built in a data-stack cell and left in stack::arg(0).
#include <string>

#include "datatypes/constants.h"
#include "datatypes/date.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/natives.h"
#include "platform/os/platform.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace natives {

// now /year /month /day /time /zone /date /weekday /yearday /precise /utc
void now(const int32_t* refinements) {
  enum { YEAR, MONTH, DAY, TIME, ZONE, DATE, WEEKDAY, YEARDAY, PRECISE, UTC };
  int fields = 0;
  for (int r = YEAR; r <= PRECISE; r++) fields += refinements[r] >= 0;
  const bool precise_time = fields == 2 && refinements[TIME] >= 0 && refinements[PRECISE] >= 0;
  if (fields > 1 && !precise_time) rt::fire_error("script", "bad-refines");
  const bool utc = refinements[UTC] >= 0;
  if (refinements[DATE] >= 0) {
    const uint32_t today = platform::current_date_packed(utc) & ~date::kZoneMask;
    return stack::set_only_result(*date::push(today, 0.0));
  }
  // A date keeps the UTC day and time of day and the zone; the day is read again after the time
  // so that the two belong to the same day.
  const uint32_t zone = utc ? 0 : platform::current_date_packed(false) & date::kZoneMask;
  uint32_t day;
  double seconds;
  do {
    day = platform::current_date_packed(true);
    seconds = platform::utc_time_of_day(refinements[PRECISE] >= 0);
  } while (day != platform::current_date_packed(true));
  const Cell today = *date::push((day & ~date::kZoneMask) | date::kTimeFlag | zone, seconds);
  struct Pick {
    int refinement;
    date::Field field;
  };
  constexpr Pick kPicks[] = {{YEAR, date::YEAR}, {MONTH, date::MONTH},   {DAY, date::DAY},
                             {ZONE, date::ZONE}, {TIME, date::TIME},     {WEEKDAY, date::WEEKDAY},
                             {YEARDAY, date::YEARDAY}};
  for (const Pick& p : kPicks) {
    if (refinements[p.refinement] >= 0) {
      return stack::set_only_result(*date::push_field(today, p.field));
    }
  }
  stack::set_only_result(today);
}

namespace {

// A text's characters in UTF-8, or a word's spelling (a variable's name).
std::string text_of(Cell value) {
  if (cell::type_of(value) != TYPE_STRING) value = symbol::name_string(word::symbol_of(value));
  int64_t length = -1;
  const uint8_t* bytes = unicode::string_to_utf8(value, length);
  return std::string(reinterpret_cast<const char*>(bytes), size_t(length));
}

}  // namespace

// get-env var: the variable's value as a new string, or none when it is not set.
void get_env(const int32_t*) {
  std::string value;
  if (!platform::get_env(text_of(*stack::arg(0)).c_str(), value)) {
    return stack::set_only_result(constants::none);
  }
  Cell* text = stack::push_copy(constants::none);
  string::load_encoded(reinterpret_cast<const uint8_t*>(value.data()), value.size(), text,
                       string::kUtf8);
  stack::set_only_result(*text);
}

// set-env var value: sets the variable, or removes it when the value is none; gives the value.
void set_env(const int32_t*) {
  const std::string name = text_of(*stack::arg(0));
  Cell value = *stack::arg(1);
  if (cell::type_of(value) == TYPE_NONE) {
    platform::set_env(name.c_str(), nullptr);
  } else {
    platform::set_env(name.c_str(), text_of(value).c_str());
  }
  stack::set_only_result(value);
}

}  // namespace natives
