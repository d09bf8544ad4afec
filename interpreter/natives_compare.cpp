// Comparison natives (equal? ... same?), not and type?: the natives behind the comparison
// operators. Each compares its two arguments through the first one's compare implementation.
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/stack.h"
#include "datatypes/word.h"
#include "interpreter/dispatch.h"
#include "interpreter/natives.h"

namespace natives {

// The comparison natives, one per operator.
void equal_q(const int32_t*) { dispatch::compare_op(action::EQUAL); }
void not_equal_q(const int32_t*) { dispatch::compare_op(action::NOT_EQUAL); }
void strict_equal_q(const int32_t*) { dispatch::compare_op(action::STRICT_EQUAL); }
void lesser_q(const int32_t*) { dispatch::compare_op(action::LESSER); }
void greater_q(const int32_t*) { dispatch::compare_op(action::GREATER); }
void lesser_or_equal_q(const int32_t*) { dispatch::compare_op(action::LESSER_OR_EQUAL); }
void greater_or_equal_q(const int32_t*) { dispatch::compare_op(action::GREATER_OR_EQUAL); }
void same_q(const int32_t*) { dispatch::compare_op(action::SAME); }

void not_(const int32_t*) { stack::set_only_result(logic::make(logic::falsy(*stack::arg(0)))); }

void type_q(const int32_t* refinements) {
  const uint8_t type = cell::type_of(*stack::arg(0));
  if (refinements[0] < 0) return stack::set_only_result(cell::make_datatype(type));
  Cell name = word::from_c_string(datatype::name_of(type));
  stack::set_only_result(name);
}

}  // namespace natives
