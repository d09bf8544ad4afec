// Running routine! values through the table of bodies the library sets at start-up.
#include "interpreter/routine.h"

#include "datatypes/cell_ops.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "interpreter/eval.h"

namespace routine {

namespace {

std::span<const Body> table;

}  // namespace

void set_bodies(std::span<const Body> bodies) { table = bodies; }

void run(const Cell& value) {
  const Cell entry = cell::cells_of(function::internals_of(value))[function::kCodeEntry];
  const int32_t index = cell::type_of(entry) == TYPE_INTEGER ? integer::get_value(entry) : 0;
  // A routine! made with a code entry the library's table does not have: the defined answer.
  if (index < 1 || size_t(index) > table.size()) cell::fire_not_done();
  // A body that calls back into the language may see its exits thrown.
  interp::absorb_exits(table[index - 1]);
}

}  // namespace routine
