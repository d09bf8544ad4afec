// Comparison natives (equal? ... same?), not and type?: the natives behind the comparison
// operators. Each compares its two arguments through the first one's compare implementation.
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/stack.h"
#include "datatypes/word.h"
#include "interpreter/dispatch.h"
#include "interpreter/natives.h"

namespace natives {

namespace {

template <int32_t Op>
void compare(const int32_t*) {
  dispatch::compare_op(Op);
}

void not_(const int32_t*) { stack::set_only_result(logic_value(falsy(*stack::arg(0)))); }

void type_q(const int32_t* refinements) {
  const uint8_t type = cell::type_of(*stack::arg(0));
  if (refinements[0] < 0) return stack::set_only_result(Cell{TYPE_DATATYPE, type, 0, 0});
  Cell name = word::from_c_string(datatype::name_of(type));
  stack::set_only_result(name);
}

}  // namespace

void register_compare() {
  set_entry(EQUAL_Q, compare<action::EQUAL>);
  set_entry(NOT_EQUAL_Q, compare<action::NOT_EQUAL>);
  set_entry(STRICT_EQUAL_Q, compare<action::STRICT_EQUAL>);
  set_entry(LESSER_Q, compare<action::LESSER>);
  set_entry(GREATER_Q, compare<action::GREATER>);
  set_entry(LESSER_OR_EQUAL_Q, compare<action::LESSER_OR_EQUAL>);
  set_entry(GREATER_OR_EQUAL_Q, compare<action::GREATER_OR_EQUAL>);
  set_entry(SAME_Q, compare<action::SAME>);
  set_entry(NOT, not_);
  set_entry(TYPE_Q, type_q);
}

}  // namespace natives
