// none!: the empty value, false in conditions; the series actions that find nothing accept it.
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/stack.h"

namespace none {

namespace {

Cell* make(Cell*, Cell*, uint8_t) {
  *stack::arg(0) = constants::none;
  return stack::arg(0);
}

int32_t form(Cell*, Cell* out, Cell*, int32_t part) {
  return part - cell::append_text(out, "none");
}

int32_t mold(Cell*, Cell* out, action::MoldOptions options, Cell*, int32_t part, int32_t) {
  return part - cell::append_text(out, options.all ? "#(none)" : "none");
}

int32_t compare(Cell*, Cell* other, int32_t op) {
  if (cell::type_of(*other) != TYPE_NONE) return action::kNotComparable;
  switch (op) {
    case action::EQUAL: case action::NOT_EQUAL: case action::STRICT_EQUAL:
    case action::SORT_ORDER: case action::SORT_CASE_ORDER: case action::SAME:
    case action::FIND_EQUAL:
      return 0;
    default:
      return action::kNotComparable;
  }
}

// clear, find, remove, select and take of none answer none.
void clear(Cell*) { *stack::arg(0) = constants::none; }
Cell* find(Cell*, Cell*, const action::FindOptions&) {
  return const_cast<Cell*>(&constants::none);
}
int32_t length(Cell*) { return -1; }
void remove(Cell*, Cell*, Cell*) { *stack::arg(0) = constants::none; }
Cell* select(Cell*, Cell*, const action::FindOptions&) {
  return const_cast<Cell*>(&constants::none);
}
Cell* take(Cell*, Cell*, bool, bool) { return const_cast<Cell*>(&constants::none); }

}  // namespace

void init() {
  using namespace action;
  using datatype::act;
  datatype::register_type(TYPE_NONE,
                          {act<MAKE>(make), act<TO>(make), act<FORM>(form), act<MOLD>(mold),
                           act<COMPARE>(compare), act<CLEAR>(clear), act<FIND>(find),
                           act<LENGTH_Q>(length), act<REMOVE>(remove), act<SELECT>(select),
                           act<TAKE>(take)});
}

}  // namespace none
