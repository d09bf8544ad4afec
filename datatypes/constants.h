// unset!, none! and logic!: the shared constant cells, the helpers that make these values on the
// stack or in blocks, and the truth tests of conditionals.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace constants {
extern const Cell unset;
extern const Cell none;
extern const Cell true_value;
extern const Cell false_value;
}  // namespace constants

namespace unset {
void init();
void set_result();
Cell* push();
Cell* append_to_block(const Cell* block);
}  // namespace unset

namespace none {
void init();
void set_result();
Cell* push();
Cell* append_to_block(const Cell* block);
}  // namespace none

namespace logic {
void init();
void set_result(bool value);
Cell* push(bool value);
Cell* append_to_block(const Cell* block, bool value);
inline uint32_t value_of(const Cell& value) { return value.w1; }
// 0 for none! and false, else 1; with unset_is_error an unset! raises script/no-value with word.
bool true_q(const Cell& value, bool unset_is_error, const Cell* word);
bool last_truthy();  // arg(0); unset! raises script/no-return
bool last_falsy();
bool top_falsy();
bool top_true();
}  // namespace logic
