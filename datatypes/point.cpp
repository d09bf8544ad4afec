// point2D! and point3D!: one set of action entries for both types (the coordinate count comes
// from the value's type): make and to, text, the path step and pick, comparison under the 32-bit
// near-equality, arithmetic through the float! core in doubles, absolute, negate, round and
// reverse. Points hold no series: nothing here can lose a value to the collector; operands live
// in the current frame's cells.
#include "datatypes/point.h"

#include <bit>
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/hashtable.h"
#include "datatypes/pair.h"
#include "datatypes/stack.h"
#include "datatypes/upcall.h"
#include "runtime/rng.h"
#include "runtime/throw.h"

namespace point {

namespace {

constexpr int kMaxCount = 3;

// The smallest double that single rounding takes to infinity: the largest single plus half its
// unit in the last place.
constexpr double kSingleOverflow = 0x1.ffffffp+127;

void coordinates(const Cell& point, double* out) {
  for (int axis = 1; axis <= count_of(cell::type_of(point)); axis++) {
    out[axis - 1] = coordinate(point, axis);
  }
}

[[noreturn]] void fire_bad_to_arg(uint8_t type, const Cell& spec) {
  rt::fire_error("script", "bad-to-arg", datatype::push(type), &spec);
}

// The call's name and the point's type: the operation has no meaning for points.
[[noreturn]] void fire_cannot_use(uint8_t type) {
  Cell name = upcall::interpreter.call_name();
  rt::fire_error("script", "cannot-use", stack::push_copy(name), datatype::push(type));
}

double number_of(const Cell& value) {
  return cell::type_of(value) == TYPE_INTEGER ? integer::get_value(value)
                                              : cell::get_double(value);
}

// The coordinates that the operand gives a point of the type, or false for an operand of
// another type.
bool operand_coordinates(uint8_t type, const Cell& operand, double* out) {
  uint8_t other = cell::type_of(operand);
  if (types::number(other)) {
    for (int i = 0; i < kMaxCount; i++) out[i] = number_of(operand);
  } else if (other == TYPE_PAIR && type == TYPE_POINT2D) {
    out[0] = pair::x_of(operand);
    out[1] = pair::y_of(operand);
  } else if (other == type) {
    coordinates(operand, out);
  } else {
    return false;
  }
  return true;
}

// --- make and to ---------------------------------------------------------------------------------

// The first values of the block, integer! or float!, one per coordinate.
Cell from_block(uint8_t type, const Cell& spec) {
  const int count = count_of(type);
  if (block::rest_length(spec) < count) rt::fire_error("syntax", "malconstruct", &spec);
  double v[kMaxCount] = {};
  for (int i = 0; i < count; i++) {
    const Cell& value = *block::cell_at(spec, cell::series_index_signed(spec) + i);
    uint8_t t = cell::type_of(value);
    if (t != TYPE_INTEGER && t != TYPE_FLOAT) rt::fire_error("syntax", "malconstruct", &spec);
    v[i] = number_of(value);
  }
  Cell made{};
  return *make_at(&made, type, v[0], v[1], v[2]);
}

Cell* make(Cell* proto, Cell* spec, uint8_t type) {
  uint8_t spec_type = cell::type_of(*spec);
  Cell made{};
  switch (spec_type) {
    case TYPE_BLOCK:
      made = from_block(type, *spec);
      break;
    case TYPE_STRING:
      return compound::load_from_text(proto, *spec, type);
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
      double n = number_of(*spec);
      make_at(&made, type, n, n, n);
      break;
    }
    case TYPE_PAIR:
      if (type != TYPE_POINT2D) fire_bad_to_arg(type, *spec);
      make_at(&made, type, pair::x_of(*spec), pair::y_of(*spec));
      break;
    default:
      if (spec_type != type) fire_bad_to_arg(type, *spec);
      made = *spec;
      cell::clear_new_line_flag(made.header);
  }
  *proto = made;
  return proto;
}

// --- Text ----------------------------------------------------------------------------------------

// "(x, y)" or "(x, y, z)", each coordinate in the single-precision float text of the mode.
int32_t write(const Cell& point, Cell* out, int32_t part, float_::TextMode mode) {
  part -= cell::append_text(out, "(");
  for (int axis = 1; axis <= count_of(cell::type_of(point)); axis++) {
    char text[float_::kTextSize];
    float_::to_text(coordinate(point, axis), mode, text);
    if (axis > 1) part -= cell::append_text(out, ", ");
    part -= cell::append_text(out, text);
  }
  return part - cell::append_text(out, ")");
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  return write(*value, out, part, float_::kSingle);  // a copy: the appends may move the value
}

// Mold keeps every coordinate exactly, so that loading the text gives the same point back (the
// pretty text shows tiny coordinates as 0.0).
int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  return write(*value, out, part, float_::kSingleExact);
}

// --- Path step and pick ----------------------------------------------------------------------------

// The axis an element names: the word x, y or z, or the integer 1, 2 or 3, within the type's
// coordinates; 0 for any other element.
int axis_of(uint8_t type, const Cell& element) {
  int axis = cell::type_of(element) == TYPE_INTEGER ? integer::get_value(element)
                                                     : compound::axis_of_word(element);
  return axis >= 1 && axis <= count_of(type) ? axis : 0;
}

// A coordinate set changes the step's parent, which path evaluation stores where the point
// lives.
Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  uint8_t type = cell::type_of(*parent);
  int axis = axis_of(type, *element);
  if (!axis) rt::fire_error("script", "invalid-path", step.path ? step.path : parent, element);
  if (!step.value) {
    *parent = float_::make(coordinate(*parent, axis));
    return parent;
  }
  uint8_t value_type = cell::type_of(*step.value);
  if (value_type != TYPE_INTEGER && value_type != TYPE_FLOAT) {
    rt::fire_error("script", "invalid-type", datatype::push(value_type));
  }
  set_bits(*parent, axis, std::bit_cast<uint32_t>(to_single(number_of(*step.value))));
  return step.value;
}

Cell* pick(Cell* value, int32_t, Cell* index_value) {
  int axis = axis_of(cell::type_of(*value), *index_value);
  if (!axis) rt::fire_error("script", "out-of-range", index_value);
  *value = float_::make(coordinate(*value, axis));
  return value;
}

// --- Comparison ----------------------------------------------------------------------------------

// Under the equality operators 0 means equal. Orderings go by x, then y (then z), a coordinate
// deciding only when it is not near-equal to the other's; with NaN there no ordering holds, as
// for float!.
int32_t compare(Cell* a, Cell* b, int32_t op) {
  const uint8_t type = cell::type_of(*a);
  Cell other = *b;
  if (cell::type_of(other) == TYPE_PAIR && type == TYPE_POINT2D) {
    if (op == action::STRICT_EQUAL || op == action::SAME || op == action::FIND_EQUAL) return 1;
    make_at(&other, type, pair::x_of(other), pair::y_of(other));
  }
  if (cell::type_of(other) != type) return action::kNotComparable;
  const int count = count_of(type);
  for (int axis = 1; axis <= count; axis++) {
    float x = coordinate(*a, axis), y = coordinate(other, axis);
    switch (op) {
      case action::STRICT_EQUAL:
        if (std::bit_cast<uint32_t>(x) != std::bit_cast<uint32_t>(y)) return 1;
        break;
      case action::SAME:
      case action::FIND_EQUAL:
        if (bits_of(*a, axis) != bits_of(other, axis)) return 1;
        break;
      case action::EQUAL:
      case action::NOT_EQUAL:
        if (!float_::almost_equal32(x, y)) return 1;
        break;
      default:
        if (float_::almost_equal32(x, y)) break;
        if (std::isnan(x) || std::isnan(y)) {
          if (op == action::LESSER || op == action::LESSER_OR_EQUAL) return 1;
          if (op == action::GREATER || op == action::GREATER_OR_EQUAL) return -1;
          return 0;
        }
        return x < y ? -1 : 1;
    }
  }
  return 0;
}

// --- Arithmetic and the other actions --------------------------------------------------------------

template <integer::Op op>
void math() {
  Cell* left = stack::arg(0);
  double v[kMaxCount];
  coordinates(*left, v);
  *left = combine(op, cell::type_of(*left), v, *stack::arg(1));
}

template <class Fn>
void each_coordinate(Cell* value, Fn fn) {
  double v[kMaxCount] = {};
  coordinates(*value, v);
  for (double& c : v) c = fn(c);
  make_at(value, cell::type_of(*value), v[0], v[1], v[2]);
}

void absolute() {
  each_coordinate(stack::arg(0), [](double c) { return std::fabs(c); });
}

void negate() {
  each_coordinate(stack::arg(0), [](double c) { return -c; });
}

// Each coordinate through float! round in double precision. The scale goes in as a float!, so
// that an integer! scale rounds without leaving the float range (float! round would make its
// result an integer! and refuse what does not fit).
void round(Cell* value, Cell* scale, const action::RoundOptions& options) {
  const uint8_t type = cell::type_of(*value);
  double scales[kMaxCount] = {1.0, 1.0, 1.0};
  if (scale) {
    uint8_t scale_type = cell::type_of(*scale);
    if (scale_type == TYPE_MONEY) {
      Cell name = upcall::interpreter.call_name();
      rt::fire_error("script", "not-related", stack::push_copy(name), datatype::push(TYPE_MONEY));
    }
    if (!operand_coordinates(type, *scale, scales)) {
      rt::fire_error("script", "invalid-type", datatype::push(scale_type));
    }
  }
  auto float_round = datatype::implemented<action::ROUND>(TYPE_FLOAT);
  double v[kMaxCount] = {};
  coordinates(*value, v);
  for (int i = 0; i < count_of(type); i++) {
    Cell c = float_::make(v[i]);
    Cell s = float_::make(scales[i]);
    float_round(&c, scale ? &s : nullptr, options);
    v[i] = float_::get(c);
  }
  make_at(value, type, v[0], v[1], v[2]);
}

// random point: each coordinate between 0 and itself, by the float! rule; /seed restarts the
// generator from the hash of the coordinates' bytes.
void random(Cell* value, const action::RandomOptions& options) {
  const uint8_t type = cell::type_of(*value);
  if (options.seed) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value->w1);
    rng::seed(hashtable::murmur3(bytes, uint32_t(count_of(type)) * sizeof(uint32_t)));
    *value = constants::unset;
    return;
  }
  double v[kMaxCount] = {};
  coordinates(*value, v);
  for (int i = 0; i < count_of(type); i++) {
    v[i] = float_::random_between_zero_and(v[i], options.secure);
  }
  make_at(value, type, v[0], v[1], v[2]);
}

// x and y swap places on a point2D!, x and z on a point3D!.
void reverse(Cell* value, Cell*, Cell*) {
  Cell& p = *value;
  const int last = cell::type_of(p) == TYPE_POINT3D ? 3 : 2;
  const uint32_t x = bits_of(p, 1);
  set_bits(p, 1, bits_of(p, last));
  set_bits(p, last, x);
}

}  // namespace

// --- Cells ---------------------------------------------------------------------------------------

float to_single(double value) {
  if (std::fabs(value) >= kSingleOverflow) {
    return std::signbit(value) ? -HUGE_VALF : HUGE_VALF;
  }
  return static_cast<float>(value);
}

Cell* make_at(Cell* cell, uint8_t type, double x, double y, double z) {
  cell::set_type(*cell, type);
  set_bits(*cell, 1, std::bit_cast<uint32_t>(to_single(x)));
  set_bits(*cell, 2, std::bit_cast<uint32_t>(to_single(y)));
  set_bits(*cell, 3, type == TYPE_POINT3D ? std::bit_cast<uint32_t>(to_single(z)) : 0);
  return cell;
}

float coordinate(const Cell& point, int axis) {
  return std::bit_cast<float>(bits_of(point, axis));
}

Cell combine(integer::Op op, uint8_t type, const double* left, const Cell& right) {
  if (op > integer::REMAINDER) fire_cannot_use(type);
  double r[kMaxCount] = {};
  if (!operand_coordinates(type, right, r)) {
    rt::fire_error("script", "invalid-type", datatype::push(cell::type_of(right)));
  }
  for (int i = 0; i < count_of(type); i++) r[i] = float_::apply(op, left[i], r[i]);
  Cell result{};
  return *make_at(&result, type, r[0], r[1], r[2]);
}

void register_datatypes() {
  using namespace action;
  using datatype::act;
  for (uint8_t type : {TYPE_POINT2D, TYPE_POINT3D}) {
    datatype::register_type(
        type,
        {act<MAKE>(make), act<RANDOM>(random), act<TO>(make), act<FORM>(form),
         act<MOLD>(mold), act<EVAL_PATH>(eval_path), act<COMPARE>(compare),
         act<ABSOLUTE>(absolute),
         act<ADD>(math<integer::ADD>), act<DIVIDE>(math<integer::DIVIDE>),
         act<MULTIPLY>(math<integer::MULTIPLY>), act<NEGATE>(negate),
         act<REMAINDER>(math<integer::REMAINDER>), act<ROUND>(round),
         act<SUBTRACT>(math<integer::SUBTRACT>), act<PICK>(pick), act<REVERSE>(reverse)});
  }
}

}  // namespace point
