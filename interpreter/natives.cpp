// The native table: each family of natives registers its entries by index at start-up; the
// evaluator calls a native!'s entry through its index.
#include "interpreter/natives.h"

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

}  // namespace natives
