// float!, percent! and triple!: conversions into floats, the two float texts (form through %g
// with the pretty tidying, mold through the shortest round-trip digits), the tolerant
// comparison, arithmetic and its result types, power and round. Compound operands go to their
// own type's entries. Relies on runtime/dtoa.h, the frame convention of datatypes/stack.h,
// datatypes/integer.h (op codes, slot runner) and the float scanner of runtime/number_text.h
// for text.
#include "datatypes/float.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/time.h"
#include "datatypes/upcall.h"
#include "runtime/dtoa.h"
#include "runtime/number_text.h"
#include "runtime/rng.h"
#include "runtime/throw.h"

namespace float_ {

namespace {

constexpr double kEpsilon = 2.220446049250313e-16;
constexpr int kUlpTolerance = 10;

// Stands for system/options/float/pretty? while the system object lacks it (before start-up
// builds it, and in the unit tests).
bool pretty_flag = true;

Cell typed(uint8_t type, double value) {
  Cell c{type, 0, 0, 0};
  cell::set_double(c, value);
  return c;
}

Cell* retype_at(Cell* c, uint8_t type, double value) {
  cell::set_type(*c, type);
  cell::clear_word1(*c);
  cell::set_double(*c, value);
  return c;
}

double from_halves(uint32_t high, uint32_t low) {
  return std::bit_cast<double>(uint64_t{high} << 32 | low);
}

bool float_like(uint8_t type) {
  return type == TYPE_FLOAT || type == TYPE_PERCENT || type == TYPE_TIME;
}

// The number of an integer!, char! or float-like cell.
double number_of(const Cell& c) {
  return float_like(cell::type_of(c)) ? get(c) : integer::get_value(c);
}

[[noreturn]] void fire_bad_to_arg(uint8_t type, const Cell& spec) {
  Cell target = cell::make_datatype(type);
  rt::fire_error("script", "bad-to-arg", &target, &spec);
}

// Doubles (or 32-bit floats) ordered as sign-magnitude integers: how many representable values
// apart two finite numbers lie. Infinities are equal only to themselves, though the largest
// finite value lies one unit below them.
template <class Bits, class Real>
bool within_ulps(Real a, Real b) {
  if (a == b) return true;
  if (!std::isfinite(a) || !std::isfinite(b)) return false;
  constexpr Bits kSign = Bits{1} << (sizeof(Bits) * 8 - 1);
  Bits x = std::bit_cast<Bits>(a), y = std::bit_cast<Bits>(b);
  Bits mx = x & ~kSign, my = y & ~kSign;
  Bits distance = (x & kSign) != (y & kSign) ? mx + my : (mx > my ? mx - my : my - mx);
  return distance <= kUlpTolerance;
}

bool almost_equal(double a, double b) {
  if (a == b) return true;
  if (std::isnan(a) || std::isnan(b)) return false;
  if (std::isfinite(a) && std::isfinite(b) && std::fabs(a - b) < kEpsilon) return true;
  return within_ulps<uint64_t>(a, b);
}

// --- Text ------------------------------------------------------------------------------------

int32_t copy_text(char* out, const char* text) {
  std::strcpy(out, text);
  return static_cast<int32_t>(std::strlen(out));
}

void print(double value, TextMode mode, bool retry, char* out) {
  if (mode == kSingleExact) {  // seven digits, or up to nine when needed to read back the same
    const float single = static_cast<float>(value);
    for (int digits = 7; digits <= 9; digits++) {
      std::snprintf(out, kTextSize, "%.*g", digits, value);
      if (std::strtof(out, nullptr) == single) return;
    }
    return;
  }
  if (mode == kTimeSeconds && !retry) {
    std::strcpy(out, dtoa::format_float(value, 6, false));
    return;
  }
  const char* format;
  if (retry) format = mode == kSingle || mode == kTimeSeconds ? "%.5g" : "%.14g";
  else if (mode == kSingle || mode == kSinglePercent) format = "%.7g";
  else format = mode == kPercent ? "%.13g" : "%.16g";
  std::snprintf(out, kTextSize, format, value);
}

// A long text ending in "01" or "99" (before any exponent) shows binary noise: fewer digits
// read better.
bool shows_noise(const char* text) {
  const char* e = std::strchr(text, 'e');
  size_t end;
  if (e) {
    end = static_cast<size_t>(e - text);
    if (end <= 16) return false;
  } else {
    end = std::strlen(text);
    bool leading_zero = text[0] == '0' || (text[0] == '-' && text[1] == '0');
    if (end <= (leading_zero ? 17u : 16u)) return false;
  }
  return (text[end - 2] == '0' && text[end - 1] == '1') ||
         (text[end - 2] == '9' && text[end - 1] == '9');
}

// "1e+020" -> "1e20", "1e-005" -> "1e-5".
void tidy_exponent(char* text) {
  char* e = std::strchr(text, 'e');
  if (!e) return;
  char* to = e + 1;
  const char* from = e + 1;
  if (*from == '-') *to++ = *from++;
  else if (*from == '+') from++;
  while (from[0] == '0' && from[1] != '\0') from++;
  std::memmove(to, from, std::strlen(from) + 1);
}

// --- Action entries --------------------------------------------------------------------------

// The bytes from the head, at most 8, big-endian: fewer fill the low-order end.
double from_binary(const Cell& spec) {
  Cell copy = spec;
  const uint8_t* p = string::head_address(copy);
  const uint8_t* end = string::tail_address(copy);
  uint64_t bits = 0;
  for (int i = 0; i < 8 && p < end; i++) bits = bits << 8 | *p++;
  return std::bit_cast<double>(bits);
}

// [mantissa exponent]: the mantissa's shortest digits are read back with the exponent added, so
// [1.1 2] gives 110.0, not the product 1.1 * 100.0 with its rounding.
double from_mantissa_exponent(const Cell& spec, uint8_t type) {
  alloc::Series* s = cell::series_of(spec);
  uint32_t length = s->length();
  const uint32_t index = cell::series_index(spec);
  if (index >= length || length - index != 2) fire_bad_to_arg(type, spec);
  const Cell mantissa = cell::block_head(spec)[0];
  const Cell exponent = cell::block_head(spec)[1];
  for (const Cell* part : {&mantissa, &exponent}) {
    uint8_t t = cell::type_of(*part);
    if (t != TYPE_INTEGER && t != TYPE_FLOAT) fire_bad_to_arg(type, spec);
  }
  if (cell::type_of(exponent) == TYPE_FLOAT && integer::float_out_of_range(exponent)) {
    fire_bad_to_arg(type, spec);
  }
  int32_t power = static_cast<int32_t>(number_of(exponent));
  const char* digits = dtoa::format_float(number_of(mantissa), 0, false);
  int32_t unconsumed;
  return dtoa::parse_float(digits, digits + std::strlen(digits), power, &unconsumed);
}

// The text from the head to the tail, read by the float scanner (runtime/number_text.h); empty
// text fails.
double from_text(Cell spec, uint8_t type) {
  uint32_t length = string::rest_length(spec);
  int32_t error = 0;
  double value = 0.0;
  if (length > 0) {
    value = number_text::scan_float(string::head_address(spec), length,
                                    cell::series_of(spec)->unit(), error);
  }
  if (length == 0 || error) fire_bad_to_arg(type, spec);
  return value;
}

// The text's first value, an integer!, float! or percent! whose number is taken as it is (so
// "50%" and "0.5" both give 50%).
double percent_from_text(const Cell& spec) {
  const Cell value = cell::scan_first_value(spec);
  uint8_t type = cell::type_of(value);
  if (type != TYPE_INTEGER && type != TYPE_FLOAT && type != TYPE_PERCENT) {
    fire_bad_to_arg(TYPE_PERCENT, spec);
  }
  return number_of(value);
}

// make and to: the result is written over the prototype.
Cell* make(Cell* proto, Cell* spec, uint8_t type) {
  uint8_t spec_type = cell::type_of(*spec);
  double value;
  switch (spec_type) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      value = number_of(*spec);
      break;
    case TYPE_BINARY:
      value = from_binary(*spec);
      break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
      value = from_mantissa_exponent(*spec, type);
      break;
    case TYPE_MONEY:
      value = money::to_float(*spec);
      break;
    default:
      if (!types::any_string(spec_type)) fire_bad_to_arg(type, *spec);
      value = type == TYPE_PERCENT ? percent_from_text(*spec) : from_text(*spec, type);
  }
  *proto = typed(type, value);
  return proto;
}

int32_t append_text(Cell* out, double value, TextMode mode, int32_t part) {
  char text[kTextSize];
  to_text(value, mode, text);
  return part - cell::append_text(out, text);
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  return append_text(out, get(*value), kDouble, part);
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  return part - cell::append_text(out, dtoa::format_float(get(*value), 0, true));
}

int32_t percent_form(Cell* value, Cell* out, Cell*, int32_t part) {
  return append_text(out, get(*value) * 100.0, kPercent, part);
}

int32_t percent_mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  return percent_form(value, out, nullptr, part);
}

void absolute() {
  Cell* value = stack::arg(0);
  cell::set_double(*value, std::fabs(get(*value)));
}

template <integer::Op op>
void math() {
  do_math(op);
}

void negate() {
  Cell* value = stack::arg(0);
  cell::set_double(*value, 0.0 - get(*value));
}

void power() {
  const Cell& exponent = *stack::arg(1);
  uint8_t type = cell::type_of(exponent);
  if (type != TYPE_INTEGER && type != TYPE_FLOAT) cell::fire_expect_arg(exponent, 1);
  Cell* base = stack::arg(0);
  cell::set_double(*base, std::pow(get(*base), number_of(exponent)));
}

// The scaled value rounded to a whole number by the flags.
double round_whole(double v, const action::RoundOptions& f) {
  if (f.down) return std::trunc(v);
  if (f.floor) return std::floor(v);
  if (f.ceiling) return std::ceil(v);
  double a = std::fabs(v);
  double lower = std::floor(a);
  double r;
  if (a > lower + 0.5) r = lower + 1.0;
  else if (a < lower + 0.5) r = lower;
  else if (f.even) r = std::fmod(a, 2.0) >= 1.0 ? lower + 1.0 : lower;
  else if (f.half_down) r = lower;
  else if (f.half_ceiling) return std::ceil(v);
  else r = lower + 1.0;
  return std::copysign(r, v);
}

// value rounded to a multiple of scale (> 0). A scale whose reciprocal would overflow is used
// through its mantissa, the value moved by its binary exponent and moved back after.
double round_to(double value, double scale, const action::RoundOptions& flags) {
  if (scale >= 1.0) {
    double result = round_whole(value / scale, flags) * scale;
    if (std::isinf(result)) rt::fire_error("math", "overflow");
    return result;
  }
  int exponent = 0;
  int binary_exponent;
  double mantissa = std::frexp(scale, &binary_exponent);
  if (binary_exponent < -1021) {
    exponent = binary_exponent;
    value = std::ldexp(value, -exponent);
    scale = mantissa;
  }
  double reciprocal = 1.0 / scale;
  return std::ldexp(round_whole(value * reciprocal, flags) / reciprocal, exponent);
}

void round(Cell* value, Cell* scale_cell, const action::RoundOptions& options) {
  if (scale_cell && cell::type_of(*scale_cell) == TYPE_MONEY) {
    Cell name = upcall::interpreter.call_name();
    rt::fire_error("script", "not-related", &name, datatype::push(TYPE_MONEY));
  }
  uint8_t type = cell::type_of(*value);
  double scale = type == TYPE_PERCENT ? 0.01 : 1.0;
  uint8_t result_type = type;
  if (scale_cell) {
    uint8_t scale_type = cell::type_of(*scale_cell);
    scale = std::fabs(number_of(*scale_cell));
    // A percent! counts a plain number scale in its shown units and stays a percent!:
    // round/to 12.345% 1 is 12%. A percent! scale already holds a fraction.
    if (type != TYPE_PERCENT) result_type = scale_type;
    else if (scale_type != TYPE_PERCENT) scale /= 100.0;
  }
  double x = get(*value);
  double result = x;
  // A zero scale, or one below the value's precision, leaves the value as it is (NaN too).
  if (scale != 0.0 && std::fabs(x) * 0x1p-53 <= scale) {
    result = round_to(x, scale, options);
  }
  if (result_type == TYPE_INTEGER) {
    if (!(result >= -2147483648.0 && result <= 2147483647.0)) rt::fire_error("math", "overflow");
    *value = integer::make(static_cast<int32_t>(result));
    return;
  }
  retype_at(value, result_type, result);
}

// The value truncated toward zero: its parity as a whole number (non-finite values have none).
bool odd_q(Cell* value) {
  double x = get(*value);
  return std::isfinite(x) && std::fmod(std::trunc(x), 2.0) != 0.0;
}

bool even_q(Cell* value) { return std::isfinite(get(*value)) && !odd_q(value); }

// random x: a number between 0 and x of the value's own type (percent! and time! inherit it);
// /seed x restarts the generator from the two halves of the double.
void random(Cell* value, const action::RandomOptions& options) {
  if (options.seed) {
    uint64_t bits = std::bit_cast<uint64_t>(get(*value));
    rng::seed(static_cast<uint32_t>(bits >> 32) ^ static_cast<uint32_t>(bits));
    *value = constants::unset;
    return;
  }
  cell::set_double(*value, random_between_zero_and(get(*value), options.secure));
}

}  // namespace

// --- Cells -----------------------------------------------------------------------------------

Cell* make_at(Cell* c, double value) { return retype_at(c, TYPE_FLOAT, value); }

Cell* push(double value) { return &(*stack::push_new() = make(value)); }

Cell* push_halves(uint32_t high, uint32_t low) { return push(from_halves(high, low)); }

Cell* append_to_block(const Cell* block, uint32_t high, uint32_t low) {
  return &(*cell::append_new_cell(block) = make(from_halves(high, low)));
}

void set_result(double value) { *stack::arg(0) = make(value); }

int32_t to_int_rounded(double value) {
  double r = value + 0.49999999999999994;
  if (std::isnan(r)) return 0;
  if (r <= -2147483648.0) return INT32_MIN;
  if (r >= 2147483647.0) return INT32_MAX;
  return static_cast<int32_t>(r);
}

double random_between_zero_and(double value, bool secure) {
  if (!secure) return value * rng::next_mt() / 2147483647.0;
  const double s1 = rng::secure_int(), s2 = rng::secure_int();
  return value * (s2 + s1 / 2147483647.0) / 2147483648.0;
}

bool nan_q(double value) { return std::isnan(value); }
bool special_q(double value) { return !std::isfinite(value); }
bool nan32_q(float value) { return value != value; }
bool almost_equal32(float a, float b) { return within_ulps<uint32_t>(a, b); }

// --- Text ------------------------------------------------------------------------------------

int32_t to_text(double value, TextMode mode, char* out) {
  if (std::isnan(value)) return copy_text(out, "1.#NaN");
  if (std::isinf(value)) return copy_text(out, value > 0 ? "1.#INF" : "-1.#INF");
  bool percent = mode == kSinglePercent || mode == kPercent;
  const bool pretty = mode != kSingleExact && float_::pretty();
  if (pretty && std::fabs(value) < kEpsilon) return copy_text(out, percent ? "0%" : "0.0");
  print(value, mode, false, out);
  if (pretty && shows_noise(out)) print(value, mode, true, out);
  tidy_exponent(out);
  size_t n = std::strlen(out);
  if (percent) {
    out[n++] = '%';
    out[n] = '\0';
  } else if (mode != kTimeSeconds && !std::strchr(out, '.')) {
    char* e = std::strchr(out, 'e');
    char* at = e ? e : out + n;
    std::memmove(at + 2, at, std::strlen(at) + 1);
    at[0] = '.';
    at[1] = '0';
    n += 2;
  }
  return static_cast<int32_t>(n);
}

namespace {

// Allocates nothing: float text is written where callers may hold series addresses.
Cell* pretty_field() {
  const auto& s = runtime_words::symbols;
  return object::system_field_cell({s.options, s.float_, s.pretty_q});
}

}  // namespace

// The flag is the field, so that a change of it (however made) changes the text at once.
void set_pretty(bool on) {
  pretty_flag = on;
  if (Cell* field = pretty_field()) *field = logic::make(on);
}

bool pretty() {
  const Cell* field = pretty_field();
  return field ? !logic::falsy(*field) : pretty_flag;
}

// --- Shared actions --------------------------------------------------------------------------

double apply(integer::Op op, double x, double y) {
  switch (op) {
    case integer::ADD: return x + y;
    case integer::SUBTRACT: return x - y;
    case integer::MULTIPLY: return x * y;
    case integer::DIVIDE: return x / y;  // IEEE: an infinity or NaN, never an error
    default:
      if (std::isinf(y) && std::isfinite(x)) return x;
      if (std::isnan(y) || !std::isfinite(x)) return std::nan("");
      return std::fmod(x, y);
  }
}

Cell* do_math(integer::Op op) {
  Cell* left = stack::arg(0);
  Cell* right = stack::arg(1);
  uint8_t left_type = cell::type_of(*left);
  uint8_t right_type = cell::type_of(*right);
  if (op > integer::REMAINDER) {
    Cell name = upcall::interpreter.call_name();
    rt::fire_error("script", "cannot-use", &name, datatype::push(TYPE_FLOAT));
  }
  switch (right_type) {
    case TYPE_TUPLE:
    case TYPE_MONEY:
      integer::run_slot(right_type, integer::slot_of(op));
      return stack::arg(0);
    case TYPE_VECTOR:  // the vector's scalar arithmetic takes the vector first
      std::swap(*left, *right);
      integer::run_slot(right_type, integer::slot_of(op));
      return stack::arg(0);
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D:
      if (left_type == TYPE_TIME) break;
      if (op == integer::SUBTRACT || op == integer::DIVIDE) {
        const Cell& word =
            op == integer::SUBTRACT ? runtime_words::words.subtract : runtime_words::words.divide;
        rt::fire_error("script", "not-related", &word, datatype::push(right_type));
      }
      std::swap(*left, *right);
      integer::run_slot(right_type, integer::slot_of(op));
      return stack::arg(0);
    default:
      break;
  }
  bool accepted = float_like(right_type) || right_type == TYPE_INTEGER ||
                  (right_type == TYPE_CHAR && left_type != TYPE_PERCENT && left_type != TYPE_TIME);
  if (!accepted) rt::fire_error("script", "invalid-type", datatype::push(right_type));

  uint8_t result_type;
  if ((left_type == TYPE_TIME) != (right_type == TYPE_TIME)) result_type = TYPE_TIME;
  else if (left_type == TYPE_PERCENT || left_type == TYPE_TIME) result_type = left_type;
  else result_type = TYPE_FLOAT;

  double x = number_of(*left);
  double y = number_of(*right);
  double r = apply(op, x, y);
  if (result_type == TYPE_TIME && !time_::in_range(r)) {
    rt::fire_error("math", op >= integer::DIVIDE && y == 0.0 ? "zero-divide" : "overflow");
  }
  *left = typed(result_type, r);
  return left;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  uint8_t other = cell::type_of(*b);
  bool strict = op == action::STRICT_EQUAL || op == action::SAME || op == action::FIND_EQUAL;
  if (strict && other != cell::type_of(*a)) return 1;
  if (other == TYPE_MONEY) {  // money's comparison, seen from the other side
    int32_t r = money::compare(b, a, op);
    return r == action::kNotComparable ? r : -r;
  }
  if (!float_like(other) && other != TYPE_INTEGER) return action::kNotComparable;
  double x = get(*a);
  double y = number_of(*b);
  switch (op) {
    case action::STRICT_EQUAL:
      return !(x == y);
    case action::SAME:
    case action::FIND_EQUAL:
      return std::bit_cast<uint64_t>(x) != std::bit_cast<uint64_t>(y);
    case action::LESSER:
    case action::LESSER_OR_EQUAL:
    case action::GREATER:
    case action::GREATER_OR_EQUAL:
    case action::SORT_ORDER:
    case action::SORT_CASE_ORDER:
      // With NaN no ordering holds; the sort orders see it as equal to anything.
      if (std::isnan(x) || std::isnan(y)) {
        if (op == action::LESSER || op == action::LESSER_OR_EQUAL) return 1;
        if (op == action::GREATER || op == action::GREATER_OR_EQUAL) return -1;
        return 0;
      }
      return (x > y) - (x < y);
    default:
      return !almost_equal(x, y);
  }
}

}  // namespace float_

namespace percent {

Cell* make_at(Cell* c, double value) { return float_::retype_at(c, TYPE_PERCENT, value); }

Cell* append_to_block(const Cell* block, uint32_t high, uint32_t low) {
  return &(*cell::append_new_cell(block) =
               float_::typed(TYPE_PERCENT, float_::from_halves(high, low)));
}

}  // namespace percent

namespace triple {

namespace {

// "make triple! [1 2 3]"
int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  // Before appends move the value.
  const uint32_t words[] = {first_of(*value), second_of(*value), third_of(*value)};
  part -= cell::append_text(out, "make triple! [");
  for (int i = 0; i < 3; i++) {
    if (i > 0) part -= cell::append_text(out, " ");
    part -= cell::append_text(out, integer::to_decimal_text(static_cast<int32_t>(words[i])));
  }
  return part - cell::append_text(out, "]");
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  return mold(value, out, {}, nullptr, part, 0);
}

}  // namespace

}  // namespace triple

// --- Registration ----------------------------------------------------------------------------

void float_::register_datatypes() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(
      TYPE_FLOAT,
      {act<MAKE>(make), act<RANDOM>(random), act<TO>(make), act<FORM>(form), act<MOLD>(mold),
       act<COMPARE>(compare), act<ABSOLUTE>(absolute), act<ADD>(math<integer::ADD>),
       act<DIVIDE>(math<integer::DIVIDE>), act<MULTIPLY>(math<integer::MULTIPLY>),
       act<NEGATE>(negate), act<POWER>(power), act<REMAINDER>(math<integer::REMAINDER>),
       act<ROUND>(round), act<SUBTRACT>(math<integer::SUBTRACT>), act<EVEN_Q>(even_q),
       act<ODD_Q>(odd_q)});
  datatype::register_type(
      TYPE_PERCENT,
      {inherit<MAKE>(), inherit<RANDOM>(), inherit<TO>(), act<FORM>(percent_form),
       act<MOLD>(percent_mold),
       inherit<COMPARE>(), inherit<ABSOLUTE>(), inherit<ADD>(), inherit<DIVIDE>(),
       inherit<MULTIPLY>(), inherit<NEGATE>(), inherit<POWER>(), inherit<REMAINDER>(),
       inherit<ROUND>(), inherit<SUBTRACT>(), inherit<EVEN_Q>(), inherit<ODD_Q>()});
}

void triple::register_datatype() {
  using namespace action;
  using datatype::act;
  datatype::register_type(TYPE_TRIPLE, {act<FORM>(form), act<MOLD>(mold)});
}
