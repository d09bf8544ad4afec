// The routine table (routines.h).
#include "interpreter/routines.h"

#include <vector>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/stack.h"
#include "runtime/fatal.h"

namespace routines {

namespace {
std::vector<Routine> table;
}  // namespace

void add(std::span<const Routine> routines) {
  for (const Routine& routine : routines) {
    if (find(routine.name) || !routine.entry) {
      rt::runtime_error(rt::kFatalAssertion, reinterpret_cast<const void*>(&add));
    }
    table.push_back(routine);
  }
}

uint32_t find(std::string_view name) {
  for (uint32_t i = 0; i < table.size(); i++) {
    if (name == table[i].name) return i + 1;
  }
  return 0;
}

const Routine& at(uint32_t index) { return table[index - 1]; }

void call(const Cell& routine) {
  const Cell entry = cell::cells_of(function::internals_of(routine))[function::kCodeEntry];
  const Routine& r = at(uint32_t(integer::get_value(entry)));
  const int32_t result = r.entry();
  switch (r.result) {
    case kLogic: stack::set_only_result(logic::make(result != 0)); break;
    case kInteger: stack::set_only_result(integer::make(result)); break;
    case kOnStack: break;
  }
}

}  // namespace routines
