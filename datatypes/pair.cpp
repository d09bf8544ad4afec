// pair!: its action entries (make and to, text, the path step and pick, comparison, arithmetic
// with its turn into point2D!, absolute, negate, round, reverse), and what the compound values
// share: the value of a text (its first value) and the coordinate words. Operands live
// in the current frame's cells (rooted); a pair holds no series.
#include "datatypes/pair.h"

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/point.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/rng.h"
#include "runtime/throw.h"

namespace pair {

namespace {

[[noreturn]] void fire_bad_to_arg(const Cell& spec) {
  rt::fire_error("script", "bad-to-arg", datatype::push(TYPE_PAIR), &spec);
}

// A float truncated toward zero for a coordinate; NaN, the infinities and values beyond the
// 32-bit range cannot be one.
bool truncated(const Cell& number, int32_t& out) {
  if (cell::type_of(number) == TYPE_INTEGER) {
    out = integer::get_value(number);
    return true;
  }
  if (integer::float_out_of_range(number)) return false;
  out = static_cast<int32_t>(std::trunc(cell::get_double(number)));
  return true;
}

// --- make and to ---------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint8_t) {
  int32_t x, y;
  switch (cell::type_of(*spec)) {
    case TYPE_BLOCK: {
      if (block::rest_length(*spec) < 2) rt::fire_error("syntax", "malconstruct", spec);
      const Cell first = *block::cell_at(*spec, cell::series_index_signed(*spec));
      const Cell second = *block::cell_at(*spec, cell::series_index_signed(*spec) + 1);
      for (const Cell* c : {&first, &second}) {
        uint8_t t = cell::type_of(*c);
        if (t != TYPE_INTEGER && t != TYPE_FLOAT) rt::fire_error("syntax", "malconstruct", spec);
      }
      if (!truncated(first, x) || !truncated(second, y)) fire_bad_to_arg(*spec);
      break;
    }
    case TYPE_STRING:
      return compound::load_from_text(proto, *spec, TYPE_PAIR);
    case TYPE_PAIR:
      x = x_of(*spec);
      y = y_of(*spec);
      break;
    case TYPE_INTEGER:
    case TYPE_FLOAT:
      if (!truncated(*spec, x)) fire_bad_to_arg(*spec);
      y = x;
      break;
    case TYPE_POINT2D: {
      Cell px = float_::make(point::coordinate(*spec, 1));
      Cell py = float_::make(point::coordinate(*spec, 2));
      if (!truncated(px, x) || !truncated(py, y)) fire_bad_to_arg(*spec);
      break;
    }
    default:
      fire_bad_to_arg(*spec);
  }
  *proto = pair::make(x, y);
  return proto;
}

// random x * y: each coordinate 1..itself (as random on an integer!); /seed restarts the
// generator from x xor y.
void random(Cell* value, const action::RandomOptions& options) {
  if (options.seed) {
    rng::seed(static_cast<uint32_t>(x_of(*value) ^ y_of(*value)));
    *value = constants::unset;
    return;
  }
  set_x(*value, rng::int_range(options.secure, x_of(*value)));
  set_y(*value, rng::int_range(options.secure, y_of(*value)));
}

// --- Text ----------------------------------------------------------------------------------------

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  const int32_t y = y_of(*value);  // before the appends move anything
  part -= cell::append_text(out, integer::to_decimal_text(x_of(*value)));
  part -= cell::append_text(out, "x");
  return part - cell::append_text(out, integer::to_decimal_text(y));
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  return form(value, out, nullptr, part);
}

// --- Path step and pick ----------------------------------------------------------------------------

// 1 for x, 2 for y (the integer or the word), else 0.
int32_t axis_of(const Cell& element) {
  int32_t axis = cell::type_of(element) == TYPE_INTEGER ? integer::get_value(element)
                                                         : compound::axis_of_word(element);
  return axis == 1 || axis == 2 ? axis : 0;
}

// A field set changes the step's parent, which path evaluation stores where the pair lives.
Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  int32_t axis = axis_of(*element);
  if (!axis) rt::fire_error("script", "invalid-path", step.path ? step.path : parent, element);
  if (!step.value) {
    *parent = integer::make(axis == 1 ? x_of(*parent) : y_of(*parent));
    return parent;
  }
  if (cell::type_of(*step.value) != TYPE_INTEGER) {
    rt::fire_error("script", "invalid-type", datatype::push(cell::type_of(*step.value)));
  }
  if (axis == 1) {
    set_x(*parent, integer::get_value(*step.value));
  } else {
    set_y(*parent, integer::get_value(*step.value));
  }
  return step.value;
}

Cell* pick(Cell* value, int32_t, Cell* index_value) {
  int32_t axis = axis_of(*index_value);
  if (!axis) rt::fire_error("script", "out-of-range", index_value);
  *value = integer::make(axis == 1 ? x_of(*value) : y_of(*value));
  return value;
}

// --- Comparison ----------------------------------------------------------------------------------

// By x, then y; a point2D! other is compared by the point type, the pair taken as a point.
int32_t compare(Cell* a, Cell* b, int32_t op) {
  switch (cell::type_of(*b)) {
    case TYPE_PAIR:
      break;
    case TYPE_POINT2D: {
      if (op == action::STRICT_EQUAL || op == action::SAME || op == action::FIND_EQUAL) return 1;
      Cell as_point = *a;
      point::make_at(&as_point, TYPE_POINT2D, x_of(*a), y_of(*a));
      return datatype::lookup<action::COMPARE>(TYPE_POINT2D)(&as_point, b, op);
    }
    default:
      return action::kNotComparable;
  }
  auto order = [](int32_t p, int32_t q) { return (p > q) - (p < q); };
  int32_t r = order(x_of(*a), x_of(*b));
  return r ? r : order(y_of(*a), y_of(*b));
}

// --- Arithmetic ----------------------------------------------------------------------------------

// The whole operation again in point2D! arithmetic, from the pair's exact coordinates.
Cell* as_point_math(integer::Op op) {
  Cell* left = stack::arg(0);
  const double coordinates[] = {double(x_of(*left)), double(y_of(*left)), 0.0};
  *left = point::combine(op, TYPE_POINT2D, coordinates, *stack::arg(1));
  return left;
}

template <integer::Op op>
void math() {
  do_math(op);
}

void absolute() {
  Cell* v = stack::arg(0);
  *v = pair::make(integer::abs_checked(x_of(*v)), integer::abs_checked(y_of(*v)));
}

// The most negative coordinate has no opposite in 32 bits.
void negate() {
  Cell* v = stack::arg(0);
  if (x_of(*v) == INT32_MIN || y_of(*v) == INT32_MIN) rt::fire_error("math", "overflow");
  *v = pair::make(-x_of(*v), -y_of(*v));
}

// Each coordinate as integer! round does it; a pair! scale rounds x by its x and y by its y. A
// coordinate that comes back a float! (a float! scale) is truncated toward zero, and one beyond
// the 32-bit range overflows.
void round(Cell* value, Cell* scale, const action::RoundOptions& options) {
  auto integer_round = datatype::implemented<action::ROUND>(TYPE_INTEGER);
  Cell scales[2] = {};
  if (scale) {
    scales[0] = scales[1] = *scale;
    if (cell::type_of(*scale) == TYPE_PAIR) {
      scales[0] = integer::make(x_of(*scale));
      scales[1] = integer::make(y_of(*scale));
    }
  }
  int32_t result[2];
  for (int i = 0; i < 2; i++) {
    Cell c = integer::make(i == 0 ? x_of(*value) : y_of(*value));
    integer_round(&c, scale ? &scales[i] : nullptr, options);
    if (!truncated(c, result[i])) rt::fire_error("math", "overflow");
  }
  *value = pair::make(result[0], result[1]);
}

void reverse(Cell* value, Cell*, Cell*) {
  const int32_t x = x_of(*value);
  set_x(*value, y_of(*value));
  set_y(*value, x);
}

}  // namespace

Cell* make_at(Cell* cell, int32_t x, int32_t y) {
  cell::set_type(*cell, TYPE_PAIR);
  cell::clear_word1(*cell);
  set_x(*cell, x);
  set_y(*cell, y);
  return cell;
}

// Coordinate by coordinate in the integer core: a result that leaves the integers (overflow,
// inexact quotient) redoes the whole operation in point2D!. A float! or percent! factor or
// divisor makes a point2D! at once; with the other operations it is truncated to an integer.
Cell* do_math(integer::Op op) {
  Cell* left = stack::arg(0);
  Cell* right = stack::arg(1);
  int32_t rx, ry;
  switch (uint8_t type = cell::type_of(*right)) {
    case TYPE_PAIR:
      rx = x_of(*right);
      ry = y_of(*right);
      break;
    case TYPE_INTEGER:
      rx = ry = integer::get_value(*right);
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
      if (!std::isfinite(cell::get_double(*right))) {
        rt::fire_error("script", "invalid-arg", right);
      }
      if (op == integer::MULTIPLY || op == integer::DIVIDE) return as_point_math(op);
      if (!truncated(*right, rx)) rt::fire_error("script", "invalid-arg", right);
      ry = rx;
      *right = integer::make(rx);  // what a redo in point2D! must see
      break;
    case TYPE_POINT2D:
      return as_point_math(op);
    default:
      rt::fire_error("script", "invalid-type", datatype::push(type));
  }
  Cell x = integer::make(0), y = integer::make(0);
  integer::do_math(x_of(*left), rx, op, &x);
  integer::do_math(y_of(*left), ry, op, &y);
  if (cell::type_of(x) != TYPE_INTEGER || cell::type_of(y) != TYPE_INTEGER) {
    return as_point_math(op);
  }
  return make_at(left, integer::get_value(x), integer::get_value(y));
}

void register_datatype() {
  using namespace action;
  using datatype::act;
  datatype::register_type(
      TYPE_PAIR,
      {act<MAKE>(make), act<RANDOM>(random), act<TO>(make), act<FORM>(form), act<MOLD>(mold),
       act<EVAL_PATH>(eval_path), act<COMPARE>(compare), act<ABSOLUTE>(absolute),
       act<ADD>(math<integer::ADD>), act<DIVIDE>(math<integer::DIVIDE>),
       act<MULTIPLY>(math<integer::MULTIPLY>), act<NEGATE>(negate),
       act<REMAINDER>(math<integer::REMAINDER>), act<ROUND>(round),
       act<SUBTRACT>(math<integer::SUBTRACT>), act<AND_T>(math<integer::AND>),
       act<OR_T>(math<integer::OR>), act<XOR_T>(math<integer::XOR>), act<PICK>(pick),
       act<REVERSE>(reverse)});
}

}  // namespace pair

// --- Services of the compound values -------------------------------------------------------------

namespace compound {

Cell* load_from_text(Cell* result, const Cell& text, uint8_t type) {
  const Cell source = text;
  const Cell value = cell::scan_first_value(source);
  if (cell::type_of(value) != type) rt::fire_error("script", "bad-to-arg", datatype::push(type), &source);
  *result = value;
  return result;
}

int32_t axis_of_word(const Cell& element) {
  if (cell::type_of(element) != TYPE_WORD) return 0;
  static const uint32_t axes[] = {symbol::resolve_alias(symbol::intern_c_string("x")),
                                  symbol::resolve_alias(symbol::intern_c_string("y")),
                                  symbol::resolve_alias(symbol::intern_c_string("z"))};
  uint32_t name = symbol::resolve_alias(word::symbol_of(element));
  for (int32_t i = 0; i < 3; i++) {
    if (axes[i] == name) return i + 1;
  }
  return 0;
}

}  // namespace compound
