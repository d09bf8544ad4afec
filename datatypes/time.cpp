// time!: construction from numbers, blocks and text, the h:mm:ss text, the hour/minute/second
// fields by path and pick, and the rules that keep results time values (round, the operand
// checks of the arithmetic). The arithmetic itself is float!'s, which also refuses time results
// out of range. Relies on the frame convention of datatypes/stack.h and on the lexer (through
// datatypes/upcall.h) for text.
#include "datatypes/time.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "datatypes/cell_ops.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "runtime/throw.h"

namespace time_ {

namespace {

constexpr double kSecondsPerHour = 3600.0;
constexpr double kSecondsPerMinute = 60.0;
constexpr double kSmallestSeconds = 1e-6;  // smaller seconds print as 00, and nudge parity
// One hour short of 2^31 hours, so that no rounding in the divisions below reaches 2^31.
constexpr double kLimit = 2147483647.0 * kSecondsPerHour;

enum Field : int32_t { kNoField = -1, HOUR = 1, MINUTE, SECOND };

Cell make(double seconds) {
  Cell c{TYPE_TIME, 0, 0, 0};
  cell::set_double(c, seconds);
  return c;
}

double seconds_of(const Cell& c) { return cell::get_double(c); }

[[noreturn]] void fire_bad_to_arg(const Cell& spec) {
  Cell target = cell::make_datatype(TYPE_TIME);
  rt::fire_error("script", "bad-to-arg", &target, &spec);
}

double checked(double seconds, const Cell& given) {
  if (!in_range(seconds)) rt::fire_error("script", "out-of-range", &given);
  return seconds;
}

// Whole hours, truncated toward zero; in range they fit an integer!.
int32_t get_hours(double seconds) {
  return static_cast<int32_t>(std::trunc(seconds / kSecondsPerHour));
}

int32_t get_minutes(double seconds) {
  return static_cast<int32_t>(std::floor(std::fmod(std::fabs(seconds), kSecondsPerHour) /
                                         kSecondsPerMinute));
}

// --- make and to -------------------------------------------------------------------------------

// [hours minutes seconds]: integers, the seconds may be a float!; only the hours may be
// negative, which makes the whole time negative.
double from_block(const Cell& spec) {
  const Cell* tail = cell::block_tail(spec);
  const Cell* head = std::min<const Cell*>(cell::block_head(spec), tail);
  if (tail - head > 3) fire_bad_to_arg(spec);
  double parts[3] = {0.0, 0.0, 0.0};
  bool negative = false;
  for (int i = 0; head + i < tail; i++) {
    const Cell& part = head[i];
    uint8_t type = cell::type_of(part);
    if (type == TYPE_INTEGER) parts[i] = integer::get_value(part);
    else if (type == TYPE_FLOAT && i == 2) parts[i] = seconds_of(part);
    else fire_bad_to_arg(spec);
    if (parts[i] < 0.0) {
      if (i > 0) fire_bad_to_arg(spec);
      negative = true;
      parts[i] = -parts[i];
    }
  }
  double seconds = parts[0] * kSecondsPerHour + parts[1] * kSecondsPerMinute + parts[2];
  return checked(negative ? -seconds : seconds, spec);
}

// The text's first value, which must be a time!; a text the lexer refuses is no time either.
double from_text(const Cell& spec) {
  const Cell value = cell::scan_first_value(spec);
  if (cell::type_of(value) != TYPE_TIME) fire_bad_to_arg(spec);
  return seconds_of(value);
}

Cell* make_entry(Cell* proto, Cell* spec, uint8_t) {
  uint8_t type = cell::type_of(*spec);
  double seconds;
  switch (type) {
    case TYPE_TIME:
      seconds = seconds_of(*spec);
      break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
      seconds = from_block(*spec);
      break;
    case TYPE_INTEGER:
      seconds = integer::get_value(*spec);
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
      seconds = checked(seconds_of(*spec), *spec);
      break;
    default:
      if (!types::any_string(type)) fire_bad_to_arg(*spec);
      seconds = from_text(*spec);
  }
  *proto = make(seconds);
  return proto;
}

// --- Text --------------------------------------------------------------------------------------

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  return form_hms(seconds_of(*value), out, part);
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  return form_hms(seconds_of(*value), out, part);
}

// --- Fields ------------------------------------------------------------------------------------

// The field a word names (case ignored): for a word that names none, script/cannot-use.
Field field_of_word(const Cell& word, const Cell& time) {
  uint32_t symbol = symbol::resolve_alias(word::symbol_of(word));
  const auto& names = runtime_words::symbols;
  if (symbol == symbol::resolve_alias(names.hour)) return HOUR;
  if (symbol == symbol::resolve_alias(names.minute)) return MINUTE;
  if (symbol == symbol::resolve_alias(names.second)) return SECOND;
  rt::fire_error("script", "cannot-use", &word, &time);
}

// An integer! 1-3 or a field word; anything else kNoField.
Field field_index(const Cell& element, const Cell& time) {
  uint8_t type = cell::type_of(element);
  if (type == TYPE_WORD) return field_of_word(element, time);
  if (type != TYPE_INTEGER) return kNoField;
  int32_t index = integer::get_value(element);
  return index >= HOUR && index <= SECOND ? static_cast<Field>(index) : kNoField;
}

Cell get_field(double seconds, Field field) {
  switch (field) {
    case HOUR: return integer::make(get_hours(seconds));
    case MINUTE: return integer::make(get_minutes(seconds));
    default: return float_::make(std::fmod(seconds, kSecondsPerMinute));
  }
}

// The seconds with one field replaced; the other fields keep what they read (so setting a field
// to its own value changes nothing, negative times included: their hours and seconds read
// signed, their minutes unsigned).
double with_field(double t, Field field, const Cell& v) {
  uint8_t type = cell::type_of(v);
  bool accepted = type == TYPE_INTEGER || (field == SECOND && type == TYPE_FLOAT);
  if (!accepted) rt::fire_error("script", "invalid-arg", &v);
  double n = type == TYPE_INTEGER ? integer::get_value(v) : seconds_of(v);
  double result;
  switch (field) {
    case HOUR:
      result = t - (get_hours(t) - n) * kSecondsPerHour;
      break;
    case MINUTE:
      result = t - (std::signbit(t) ? -1.0 : 1.0) * (get_minutes(t) - n) * kSecondsPerMinute;
      break;
    default:
      result = t - (std::fmod(t, kSecondsPerMinute) - n);
  }
  return checked(result, v);
}

Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  Field field = field_index(*element, *parent);
  if (field == kNoField) rt::fire_error("script", "invalid-path", step.path, element);
  if (!step.value) {
    *parent = get_field(seconds_of(*parent), field);
    return parent;
  }
  set_cell(parent, with_field(seconds_of(*parent), field, *step.value));
  // An object holding the value runs its on-change* when the evaluator stores the value back.
  if (step.notify) ownership::notify_owner(step.grandparent, "set-path", step.value, field, 1);
  return parent;
}

Cell* pick(Cell* value, int32_t, Cell* index) {
  Field field = field_index(*index, *value);
  if (field == kNoField) rt::fire_error("script", "out-of-range", index);
  *value = get_field(seconds_of(*value), field);
  return value;
}

// --- Arithmetic --------------------------------------------------------------------------------

[[noreturn]] void fire_not_related(const Cell& word) {
  rt::fire_error("script", "not-related", &word, datatype::push(TYPE_TIME));
}

void add() {
  if (cell::type_of(*stack::arg(1)) == TYPE_DATE) {
    std::swap(*stack::arg(0), *stack::arg(1));
    integer::run_slot(TYPE_DATE, action::ADD);
    return;
  }
  float_::do_math(integer::ADD);
}

// time / time is a plain number.
void divide() {
  if (cell::type_of(*stack::arg(1)) == TYPE_TIME) {
    float_::make_at(stack::arg(0), seconds_of(*stack::arg(0)));
    float_::make_at(stack::arg(1), seconds_of(*stack::arg(1)));
  }
  float_::do_math(integer::DIVIDE);
}

void multiply() {
  if (cell::type_of(*stack::arg(1)) == TYPE_TIME) fire_not_related(runtime_words::words.multiply);
  float_::do_math(integer::MULTIPLY);
}

void subtract() {
  if (cell::type_of(*stack::arg(1)) == TYPE_DATE) fire_not_related(runtime_words::words.subtract);
  float_::do_math(integer::SUBTRACT);
}

// float!'s round, the result made a time again. An integer scale is passed as a float! so that
// the rounded seconds are not held to the integer! range.
void round(Cell* value, Cell* scale, const action::RoundOptions& options) {
  Cell float_scale;
  if (scale && cell::type_of(*scale) == TYPE_MONEY) {
    Cell name = upcall::interpreter.call_name();
    rt::fire_error("script", "not-related", &name, datatype::push(TYPE_MONEY));
  }
  if (scale && cell::type_of(*scale) == TYPE_INTEGER) {
    float_scale = float_::make(integer::get_value(*scale));
    scale = &float_scale;
  }
  datatype::lookup<action::ROUND>(TYPE_FLOAT)(value, scale, options);
  double seconds = seconds_of(*value);
  if (!in_range(seconds)) rt::fire_error("math", "overflow");
  set_cell(value, seconds);
}

// The parity of the whole seconds of the seconds field, nudged away from zero past binary noise.
int32_t whole_seconds(const Cell& value) {
  double t = seconds_of(value);
  t += t >= 0.0 ? kSmallestSeconds : -kSmallestSeconds;
  return static_cast<int32_t>(std::trunc(std::fmod(t, kSecondsPerMinute)));
}

bool even_q(Cell* value) { return whole_seconds(*value) % 2 == 0; }
bool odd_q(Cell* value) { return whole_seconds(*value) % 2 != 0; }

}  // namespace

bool in_range(double seconds) { return std::fabs(seconds) < kLimit; }  // false for NaN

Cell* set_cell(Cell* cell, double seconds) {
  cell::set_type(*cell, TYPE_TIME);
  cell::clear_word1(*cell);
  cell::set_double(*cell, seconds);
  return cell;
}

namespace {

// The seconds of the minute as the text shows them; "60" when they round up to the next minute.
void second_text_of(double s, char (&text)[float_::kTextSize]) {
  std::strcpy(text, "00");
  if (s >= kSmallestSeconds) float_::to_text(s, float_::kTimeSeconds, text);
}

}  // namespace

bool rounds_to_next_minute(double seconds) {
  char text[float_::kTextSize];
  second_text_of(std::fmod(std::fabs(seconds), kSecondsPerMinute), text);
  return std::strcmp(text, "60") == 0;
}

int32_t form_hms(double seconds, Cell* out, int32_t part) {
  if (!in_range(seconds)) {
    const Cell value = make(seconds);
    rt::fire_error("script", "out-of-range", &value);
  }
  if (seconds < 0.0) {
    part -= cell::append_text(out, "-");
    seconds = -seconds;
  }
  double s = std::fmod(seconds, kSecondsPerMinute);
  double whole = seconds - s;  // exact: a multiple of 60 below 2^53
  char second_text[float_::kTextSize];
  second_text_of(s, second_text);
  // Six digits round 59.99995 and above to 60: that is a minute more.
  if (std::strcmp(second_text, "60") == 0) {
    whole += kSecondsPerMinute;
    std::strcpy(second_text, "00");
  } else if (second_text[1] == '\0' || second_text[1] == '.') {
    std::memmove(second_text + 1, second_text, std::strlen(second_text) + 1);
    second_text[0] = '0';
  }
  auto hours = static_cast<int32_t>(std::floor(whole / kSecondsPerHour));
  auto minutes = static_cast<int32_t>(std::fmod(whole, kSecondsPerHour) / kSecondsPerMinute);
  part -= cell::append_text(out, integer::to_decimal_text(hours));
  part -= cell::append_text(out, minutes < 10 ? ":0" : ":");
  part -= cell::append_text(out, integer::to_decimal_text(minutes));
  part -= cell::append_text(out, ":");
  return part - cell::append_text(out, second_text);
}

void register_datatype() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(
      TYPE_TIME,
      {act<MAKE>(make_entry), inherit<RANDOM>(), act<TO>(make_entry), act<FORM>(form),
       act<MOLD>(mold), act<EVAL_PATH>(eval_path), inherit<COMPARE>(), inherit<ABSOLUTE>(),
       act<ADD>(add), act<DIVIDE>(divide), act<MULTIPLY>(multiply), inherit<NEGATE>(),
       inherit<REMAINDER>(), act<ROUND>(round), act<SUBTRACT>(subtract), act<EVEN_Q>(even_q),
       act<ODD_Q>(odd_q), act<PICK>(pick)});
}

}  // namespace time_
