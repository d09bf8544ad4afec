// unset!, none! and logic!: the shared constant cells, the logic! cell of a truth, and the truth
// tests of conditionals.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace constants {
inline constexpr Cell unset{TYPE_UNSET, 0, 0, 0};
inline constexpr Cell none{TYPE_NONE, 0, 0, 0};
inline constexpr Cell true_value{TYPE_LOGIC, 1, 0, 0};
inline constexpr Cell false_value{TYPE_LOGIC, 0, 0, 0};
}  // namespace constants

namespace unset {
void init();
}  // namespace unset

namespace none {
void init();
}  // namespace none

namespace logic {
void init();
inline Cell make(bool value) { return Cell{TYPE_LOGIC, value ? 1u : 0u, 0, 0}; }
void set_result(bool value);  // arg(0) becomes the logic!
inline uint32_t value_of(const Cell& value) { return value.w1; }
inline void set_value(Cell& value, uint32_t truth) { value.w1 = truth; }
// The truth tests of conditionals: none! and false are falsy, anything else is true; the strict
// test raises script/no-return for unset!.
inline bool falsy(const Cell& value) {
  uint8_t type = cell::type_of(value);
  return type == TYPE_NONE || (type == TYPE_LOGIC && value_of(value) == 0);
}
bool strict_true(const Cell& value);
}  // namespace logic
