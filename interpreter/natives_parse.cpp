// The parse native: checks its arguments and runs the dialect engine (interpreter/parse.h).
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "interpreter/eval.h"
#include "interpreter/natives.h"
#include "interpreter/parse.h"

namespace natives {

// Refinements: /case, /part length, /trace callback.
void parse_(const int32_t* refinements) {
  const Cell input = *stack::arg(0);
  const Cell rules = *stack::arg(1);
  int64_t limit = parse::kNoLimit;
  if (refinements[1] >= 0) {
    const int32_t count = series::part_count(input, *stack::arg(refinements[1]));
    if (count <= 0) {
      Cell rest = input;
      return stack::set_only_result(logic::make(series::rest_length(rest, false) == 0));
    }
    limit = int64_t(cell::series_index(input)) + count;
  }
  const Cell* callback = refinements[2] >= 0 ? stack::arg(refinements[2]) : nullptr;
  const Cell result = parse::run(input, rules, refinements[0] >= 0, limit, callback);
  if (interp::pending) return;
  stack::set_only_result(result);
}

}  // namespace natives
