// Number natives beside the comparisons: the sign and zero tests, max and min, shift, the
// trigonometric and logarithmic functions, NaN?, and the constructors as-pair, as-point2D,
// as-point3D and as-money. They read their arguments' payloads directly (datatypes/pair.h,
// point.h, tuple.h, money.h), follow the native protocol of interpreter/natives.h and leave the
// result in stack::arg(0). Nothing here allocates except through the errors raised.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/stack.h"
#include "datatypes/tuple.h"
#include "interpreter/dispatch.h"
#include "interpreter/natives.h"
#include "runtime/fatal.h"
#include "runtime/throw.h"

namespace natives {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kEpsilon = 2.220446049250313e-16;  // results of sine and cosine below are 0.0
constexpr double kInfinity = std::numeric_limits<double>::infinity();

bool is_float(uint8_t type) {
  return type == TYPE_FLOAT || type == TYPE_PERCENT || type == TYPE_TIME;
}
bool is_number(uint8_t type) {
  return type == TYPE_INTEGER || type == TYPE_FLOAT || type == TYPE_PERCENT;
}

// The double of an integer!, float!, percent! or time!.
double double_of(const Cell& value) {
  return cell::type_of(value) == TYPE_INTEGER ? double(integer::get_value(value))
                                              : cell::get_double(value);
}

bool is_nan(const Cell& value) { return is_float(cell::type_of(value)) && std::isnan(double_of(value)); }

void float_result(double value) { stack::set_only_result(float_::make(value)); }

// --- Sign and zero tests -------------------------------------------------------------------------

// -1, 0 or 1; a NaN is neither negative nor positive, and its sign? is 0.
int32_t sign_of(const Cell& value) {
  switch (cell::type_of(value)) {
    case TYPE_MONEY: return money::sign(value);
    case TYPE_INTEGER: {
      int32_t n = integer::get_value(value);
      return (n > 0) - (n < 0);
    }
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: {
      double x = cell::get_double(value);
      return (x > 0.0) - (x < 0.0);
    }
    default: cell::fire_expect_arg(value, 0);
  }
}

}  // namespace

void negative_q(const int32_t*) {
  stack::set_only_result(logic::make(sign_of(*stack::arg(0)) < 0));
}
void positive_q(const int32_t*) {
  stack::set_only_result(logic::make(sign_of(*stack::arg(0)) > 0));
}
void sign_q(const int32_t*) { stack::set_only_result(integer::make(sign_of(*stack::arg(0)))); }

namespace {

bool is_zero(const Cell& value) {
  uint8_t type = cell::type_of(value);
  switch (type) {
    case TYPE_MONEY: return money::zero_q(value);
    case TYPE_CHAR: case TYPE_INTEGER: return integer::get_value(value) == 0;
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME: return cell::get_double(value) == 0.0;
    case TYPE_PAIR: return pair::x_of(value) == 0 && pair::y_of(value) == 0;
    case TYPE_POINT2D: case TYPE_POINT3D:
      for (int axis = 1; axis <= point::count_of(type); axis++) {
        if (point::coordinate(value, axis) != 0.0f) return false;
      }
      return true;
    case TYPE_TUPLE: return tuple::zero_q(value);
    default: return false;
  }
}

}  // namespace

void zero_q(const int32_t*) { stack::set_only_result(logic::make(is_zero(*stack::arg(0)))); }

// --- max and min ---------------------------------------------------------------------------------

namespace {

// A float! truncated toward zero to a 32-bit integer; false when it is not finite or out of range.
bool truncated(double x, int32_t* out) {
  double t = std::trunc(x);
  if (!(t >= -2147483648.0 && t <= 2147483647.0)) return false;
  *out = int32_t(t);
  return true;
}

// Of a coordinate and the other's: the other when it is larger (max) or smaller (min), or NaN.
double extreme(double mine, double other, bool max) {
  return std::isnan(other) || (max ? other > mine : other < mine) ? other : mine;
}

// A point's coordinates against a number, a pair! (point2D! only) or a point of its own type;
// false when the other is none of those.
bool point_extremum(Cell* first, const Cell& second, bool max) {
  const uint8_t type = cell::type_of(*first), other = cell::type_of(second);
  const int count = point::count_of(type);
  double mine[3] = {0.0, 0.0, 0.0}, theirs[3];
  for (int axis = 1; axis <= count; axis++) mine[axis - 1] = point::coordinate(*first, axis);
  if (is_number(other)) {
    std::fill(theirs, theirs + 3, double_of(second));
  } else if (other == TYPE_PAIR && type == TYPE_POINT2D) {
    theirs[0] = pair::x_of(second);
    theirs[1] = pair::y_of(second);
  } else if (other == type) {
    for (int axis = 1; axis <= count; axis++) theirs[axis - 1] = point::coordinate(second, axis);
  } else {
    return false;
  }
  for (int i = 0; i < count; i++) mine[i] = extreme(mine[i], theirs[i], max);
  point::make_at(first, type, mine[0], mine[1], mine[2]);
  return true;
}

// A pair's coordinates against a number (made an integer, or a point2D! when it cannot be one),
// a pair!, or a point2D! (the pair then becoming one).
bool pair_extremum(Cell* first, const Cell& second, bool max) {
  const uint8_t other = cell::type_of(second);
  const int32_t x = pair::x_of(*first), y = pair::y_of(*first);
  int32_t theirs_x, theirs_y;
  if (other == TYPE_PAIR) {
    theirs_x = pair::x_of(second);
    theirs_y = pair::y_of(second);
  } else if (other == TYPE_INTEGER) {
    theirs_x = theirs_y = integer::get_value(second);
  } else if (is_number(other) && truncated(double_of(second), &theirs_x)) {
    theirs_y = theirs_x;
  } else if (is_number(other) || other == TYPE_POINT2D) {
    point::make_at(first, TYPE_POINT2D, x, y);
    return point_extremum(first, second, max);
  } else {
    return false;
  }
  pair::make_at(first, max ? std::max(x, theirs_x) : std::min(x, theirs_x),
                max ? std::max(y, theirs_y) : std::min(y, theirs_y));
  return true;
}

// A tuple's bytes against a number (made an integer and clamped to a byte) or a tuple of as
// many bytes.
bool tuple_extremum(Cell* first, const Cell& second, bool max) {
  const uint8_t other = cell::type_of(second);
  const uint32_t count = tuple::count_of(*first);
  uint8_t mine[tuple::kMaxBytes], theirs[tuple::kMaxBytes];
  tuple::get_bytes(*first, mine);
  if (is_number(other)) {
    int32_t n = integer::get_value(second);
    if (other != TYPE_INTEGER && !truncated(double_of(second), &n)) {
      Cell type = cell::make_datatype(TYPE_INTEGER);
      rt::fire_error("script", "type-limit", &type);
    }
    std::fill(theirs, theirs + sizeof theirs, uint8_t(std::clamp(n, 0, 255)));
  } else if (other == TYPE_TUPLE && tuple::count_of(second) == count) {
    tuple::get_bytes(second, theirs);
  } else {
    return false;
  }
  for (uint32_t i = 0; i < count; i++) {
    mine[i] = max ? std::max(mine[i], theirs[i]) : std::min(mine[i], theirs[i]);
  }
  tuple::make_at(first, count, mine);
  return true;
}

bool is_compound(uint8_t type) {
  return type == TYPE_PAIR || type == TYPE_POINT2D || type == TYPE_POINT3D || type == TYPE_TUPLE;
}

// max value1 value2, min value1 value2: a NaN number wins; compound values (pairs, points and
// tuples) are taken coordinate by coordinate, a number standing for every coordinate; any other
// values by lesser?, a tie keeping value1 for max and giving value2 for min.
template <bool Max>
void extremum(const int32_t*) {
  Cell* first = stack::arg(0);
  Cell* second = stack::arg(1);
  const uint8_t ta = cell::type_of(*first), tb = cell::type_of(*second);
  if (is_number(ta) && is_number(tb) && (is_nan(*first) || is_nan(*second))) {
    return stack::set_only_result(is_nan(*first) ? *first : *second);
  }
  if (is_compound(tb) && (ta == TYPE_INTEGER || ta == TYPE_FLOAT)) std::swap(*first, *second);
  bool done = false;
  switch (cell::type_of(*first)) {
    case TYPE_PAIR: done = pair_extremum(first, *second, Max); break;
    case TYPE_POINT2D: case TYPE_POINT3D: done = point_extremum(first, *second, Max); break;
    case TYPE_TUPLE: done = tuple_extremum(first, *second, Max); break;
    default: break;
  }
  if (!done && datatype::compare(first, second, action::LESSER) == Max) *first = *second;
  stack::set_only_result(*first);
}

}  // namespace

// --- shift ---------------------------------------------------------------------------------------

// shift data bits /left /logical: a negative count is 0; counts past 31 leave 0 (or -1 for a
// negative value shifted arithmetically).
void shift(const int32_t* refinements) {
  const int32_t data = integer::get_value(*stack::arg(0));
  const int32_t bits = std::max(integer::get_value(*stack::arg(1)), 0);
  const auto pattern = static_cast<uint32_t>(data);
  int32_t result;
  if (refinements[0] >= 0) {
    result = bits > 31 ? 0 : static_cast<int32_t>(pattern << bits);
  } else if (refinements[1] >= 0) {
    result = bits > 31 ? 0 : static_cast<int32_t>(pattern >> bits);
  } else {
    result = bits > 31 ? (data < 0 ? -1 : 0) : data >> bits;
  }
  stack::set_only_result(integer::make(result));
}

// --- Trigonometry, logarithms and roots ----------------------------------------------------------

namespace {

enum AngleMode { kTangent = 0, kCosine = 1, kSine = 2 };  // the degree reduction's modes

// sine, cosine, tangent angle /radians: degrees reduced into the function's principal range.
template <AngleMode Mode>
void trigonometric(const int32_t* refinements) {
  double x = double_of(*stack::arg(0));
  if (refinements[0] < 0) x = degrees_to_radians(x, Mode);
  double result;
  if (Mode == kTangent) {
    // The poles, which tan itself misses by a rounding.
    result = x == kPi / 2 ? kInfinity : x == -kPi / 2 ? -kInfinity : std::tan(x);
  } else {
    result = Mode == kSine ? std::sin(x) : std::cos(x);
    if (std::fabs(result) < kEpsilon) result = 0.0;
  }
  float_result(result);
}

double in_degrees(double radians, const int32_t* refinements) {
  return refinements[0] >= 0 ? radians : radians * 180.0 / kPi;
}

// arcsine, arccosine, arctangent value /radians
template <double (*Fn)(double)>
void inverse_trigonometric(const int32_t* refinements) {
  float_result(in_degrees(Fn(double_of(*stack::arg(0))), refinements));
}

}  // namespace

// arctangent2 y x /radians
void arctangent2(const int32_t* refinements) {
  float_result(in_degrees(std::atan2(double_of(*stack::arg(0)), double_of(*stack::arg(1))),
                          refinements));
}

namespace {

double log2_of(double x) { return std::log(x) / 0.6931471805599453; }
double exp_of(double x) { return std::pow(2.718281828459045, x); }
double log10_of(double x) { return std::log10(x); }
double ln_of(double x) { return std::log(x); }
double sqrt_of(double x) { return std::sqrt(x); }
double asin_of(double x) { return std::asin(x); }
double acos_of(double x) { return std::acos(x); }
double atan_of(double x) { return std::atan(x); }

// log-2, log-10, log-e, exp, square-root value: outside the domain, the NaN or infinity itself.
template <double (*Fn)(double)>
void function_of(const int32_t*) {
  float_result(Fn(double_of(*stack::arg(0))));
}

}  // namespace

void nan_q(const int32_t*) { stack::set_only_result(logic::make(is_nan(*stack::arg(0)))); }

// --- Constructors --------------------------------------------------------------------------------

namespace {

// A pair coordinate: an integer! as it is, a float! truncated toward zero; a float that is not a
// finite 32-bit value raises script/invalid-arg.
int32_t pair_coordinate(const Cell& value) {
  if (cell::type_of(value) == TYPE_INTEGER) return integer::get_value(value);
  int32_t n;
  if (!truncated(cell::get_double(value), &n)) rt::fire_error("script", "invalid-arg", &value);
  return n;
}

}  // namespace

void as_pair(const int32_t*) {
  Cell made{};
  pair::make_at(&made, pair_coordinate(*stack::arg(0)), pair_coordinate(*stack::arg(1)));
  stack::set_only_result(made);
}

namespace {

template <uint8_t Type>
void as_point(const int32_t*) {
  Cell made{};
  point::make_at(&made, Type, double_of(*stack::arg(0)), double_of(*stack::arg(1)),
                 Type == TYPE_POINT3D ? double_of(*stack::arg(2)) : 0.0);
  stack::set_only_result(made);
}

}  // namespace

double degrees_to_radians(double degrees, int mode) {
  double x = std::fmod(degrees, 360.0);
  if (x > 180 || x < -180) x += x >= 0 ? -360 : 360;
  if (x > 90 || x < -90) {
    if (mode == 0)
      x += x >= 0 ? -180 : 180;
    else if (mode == 2)
      x = (x >= 0 ? 180 : -180) - x;
  }
  return x * 3.141592653589793 / 180;
}

// as-money currency amount
void as_money(const int32_t*) {
  stack::set_only_result(money::in_currency(*stack::arg(0), *stack::arg(1)));
}

// The natives made from the templates above.
void max(const int32_t* refinements) { extremum<true>(refinements); }
void min(const int32_t* refinements) { extremum<false>(refinements); }
void sine(const int32_t* refinements) { trigonometric<kSine>(refinements); }
void cosine(const int32_t* refinements) { trigonometric<kCosine>(refinements); }
void tangent(const int32_t* refinements) { trigonometric<kTangent>(refinements); }
void arcsine(const int32_t* refinements) { inverse_trigonometric<asin_of>(refinements); }
void arccosine(const int32_t* refinements) { inverse_trigonometric<acos_of>(refinements); }
void arctangent(const int32_t* refinements) { inverse_trigonometric<atan_of>(refinements); }
void log_2(const int32_t* refinements) { function_of<log2_of>(refinements); }
void log_10(const int32_t* refinements) { function_of<log10_of>(refinements); }
void log_e(const int32_t* refinements) { function_of<ln_of>(refinements); }
void exp_(const int32_t* refinements) { function_of<exp_of>(refinements); }
void square_root(const int32_t* refinements) { function_of<sqrt_of>(refinements); }
void as_point2d(const int32_t* refinements) { as_point<TYPE_POINT2D>(refinements); }
void as_point3d(const int32_t* refinements) { as_point<TYPE_POINT3D>(refinements); }

}  // namespace natives
