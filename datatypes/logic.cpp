// logic!: true and false, and the strict truth test of conditionals and loops.
#include <functional>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/stack.h"
#include "runtime/rng.h"
#include "runtime/throw.h"

namespace logic {

namespace {

Cell* result(bool value) {
  *stack::arg(0) = logic::make(value);
  return stack::arg(0);
}

Cell* to(Cell*, Cell* spec, uint8_t) {
  uint8_t t = cell::type_of(*spec);
  if (t == TYPE_LOGIC) return result(value_of(*spec) != 0);
  return result(t != TYPE_NONE);
}

Cell* make(Cell* proto, Cell* spec, uint8_t type) {
  switch (cell::type_of(*spec)) {
    case TYPE_INTEGER:
      return result(integer::get_value(*spec) != 0);
    case TYPE_FLOAT:
    case TYPE_PERCENT:
      return result(!(cell::get_double(*spec) == 0.0));  // NaN is true
    default:
      return to(proto, spec, type);
  }
}

// random true: true or false, each half of the draws; /seed restarts the generator from 0 or 1.
void random(Cell* value, const action::RandomOptions& options) {
  if (options.seed) {
    rng::seed(value_of(*value));
    *value = constants::unset;
    return;
  }
  *value = logic::make(rng::draw(options.secure) > 0x3FFFFFFF);
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  return part - cell::append_text(out, value_of(*value) ? "true" : "false");
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell*, int32_t part, int32_t) {
  if (!options.all) return form(value, out, nullptr, part);
  return part - cell::append_text(out, value_of(*value) ? "#(true)" : "#(false)");
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_LOGIC) return action::kNotComparable;
  switch (op) {
    case action::EQUAL: case action::NOT_EQUAL: case action::STRICT_EQUAL:
    case action::SORT_ORDER: case action::SORT_CASE_ORDER: case action::SAME:
    case action::FIND_EQUAL:
      return int32_t(value_of(*a)) - int32_t(value_of(*b));
    default:
      return action::kNotComparable;
  }
}

Cell* complement(Cell* value) {
  set_value(*value, value_of(*value) ^ 1);
  return value;
}

// and~, or~, xor~ on the frame's cells: the second operand must be a logic! too.
template <class Op>
void bitwise() {
  Cell* second = stack::arg(1);
  if (cell::type_of(*second) != TYPE_LOGIC) cell::fire_expect_arg(*second, 1);
  set_value(*stack::arg(0), Op{}(value_of(*stack::arg(0)), value_of(*second)) & 1);
}

}  // namespace

void set_result(bool value) {
  Cell* c = stack::arg(0);
  c->header = TYPE_LOGIC;
  set_value(*c, value);
}

bool strict_true(const Cell& value) {
  if (cell::type_of(value) == TYPE_UNSET) rt::fire_error("script", "no-return");
  return !falsy(value);
}

void init() {
  using namespace action;
  using datatype::act;
  datatype::register_type(
      TYPE_LOGIC,
      {act<MAKE>(make), act<RANDOM>(random), act<TO>(to), act<FORM>(form), act<MOLD>(mold),
       act<COMPARE>(compare), act<AND_T>(bitwise<std::bit_and<uint32_t>>),
       act<COMPLEMENT>(complement), act<OR_T>(bitwise<std::bit_or<uint32_t>>),
       act<XOR_T>(bitwise<std::bit_xor<uint32_t>>)});
}

}  // namespace logic
