// unset!: the value of nothing (a word without value, a function that returned nothing).
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/stack.h"

namespace unset {

namespace {

Cell* make(Cell*, Cell*, uint8_t) {
  *stack::arg(0) = constants::unset;
  return stack::arg(0);
}

int32_t form(Cell*, Cell*, Cell*, int32_t part) { return part; }

int32_t mold(Cell*, Cell* out, action::MoldOptions options, Cell*, int32_t part, int32_t) {
  return part - cell::append_text(out, options.all ? "#(unset)" : "unset");
}

int32_t compare(Cell*, Cell* other, int32_t op) {
  if (cell::type_of(*other) != TYPE_UNSET) return action::kNotComparable;
  switch (op) {
    case action::EQUAL: case action::NOT_EQUAL: case action::STRICT_EQUAL: case action::SAME:
    case action::FIND_EQUAL: case action::SORT_ORDER: case action::SORT_CASE_ORDER:
      return 0;
    default:
      return action::kNotComparable;
  }
}

}  // namespace

void init() {
  using namespace action;
  datatype::register_type(TYPE_UNSET,
                          {datatype::act<MAKE>(make), datatype::act<TO>(make),
                           datatype::act<FORM>(form), datatype::act<MOLD>(mold),
                           datatype::act<COMPARE>(compare)});
}

}  // namespace unset
