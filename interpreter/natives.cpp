// The native table: each family of natives registers its entries by index at start-up; the
// evaluator calls a native!'s entry through its index. Also the two truth tests that the control
// natives share.
#include "interpreter/natives.h"

#include "runtime/fatal.h"
#include "runtime/throw.h"

namespace natives {

Native table[kTableSize];

void set_entry(int32_t index, Native native) { table[index - 1] = native; }

void init() {
  register_control();
  register_flow();
  register_compare();
  register_math();
  register_words();
  register_objects();
  register_print();
  register_text();
  register_system();
}

bool falsy(const Cell& value) {
  uint8_t type = cell::type_of(value);
  return type == TYPE_NONE || (type == TYPE_LOGIC && value.w1 == 0);
}

bool strict_true(const Cell& value) {
  if (cell::type_of(value) == TYPE_UNSET) rt::fire_error("script", "no-return");
  return !falsy(value);
}

}  // namespace natives
