// Helpers every datatype uses on value cells: appending to a block's buffer, typeset membership,
// integer arguments, text output for form and mold, and reading and writing words' values from
// the data stack. The cell layout itself is runtime/cell.h.
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime/alloc.h"
#include "runtime/cell.h"
#include "runtime/throw.h"

namespace cell {

inline void clear_new_line_flag(uint32_t& header) { header &= ~kNewLine; }

// A new cell at the block's tail, header unset!, payload left to the caller; the buffer grows
// (doubling) when full. The address is valid until the next allocation.
Cell* append_new_cell(const Cell* block);
Cell* buffer_append_new_cell(uint32_t node);

// Series cells.
inline alloc::Series* series_of(const Cell& value) {
  return alloc::series_of(cell::series_node(value));
}
inline Cell* block_head(const Cell& block) {  // valid until the next allocation
  return reinterpret_cast<Cell*>(series_of(block)->data()) + cell::series_index(block);
}
inline Cell* block_tail(const Cell& block) {
  return reinterpret_cast<Cell*>(series_of(block)->tail_ptr());
}

// Whether the typeset! holds the datatype.
inline bool typeset_has(const Cell& typeset, uint8_t type) {
  uint8_t map[12];
  std::memcpy(map, &typeset.w1, sizeof map);
  return map[type >> 3] & (0x80 >> (type & 7));
}

// The 32-bit integer of an integer!, or of a float! truncated toward zero; out of range or NaN
// raises script/out-of-range.
int32_t get_integer_arg(const Cell& value);

// Appends four spaces per depth to the output string; returns part less what it appended.
int32_t mold_indent(Cell* out, int32_t depth, int32_t part);

// Fills count units from start by repeating the first unit; returns the end address.
uint8_t* replicate_bytes(uint8_t* start, uint32_t unit, uint32_t count);

// Words and contexts from the data stack (datatypes/cell_words.cpp).
Cell* set_word_from_stack(const Cell& word);
Cell* set_word_from_stack_reset(const Cell& word);
Cell* set_context_value_from_stack(uint32_t context, uint32_t index);
Cell* set_context_value_from_stack_reset(uint32_t context, uint32_t index);
Cell* set_context_value_unchecked(uint32_t context, uint32_t index);
Cell* get_word_checked(const Cell& word);
Cell* get_context_value_cell(uint32_t context, uint32_t index);
void set_refinement_args(const Cell& refinement, Cell* first_arg, uint32_t count);

}  // namespace cell

namespace cell {
// Appends ASCII text to an output string; returns its length, for the part limit of form/mold.
int32_t append_text(Cell* out, const char* text);
// The same, returning the part limit less what it appended.
inline int32_t append_text(Cell* out, const char* text, int32_t part) {
  return part - append_text(out, text);
}

// The first value that the whole text (any string type) loads into, new-line flag cleared, for
// make and to from text: none! when the text has a syntax error (which is not raised), unset!
// when it holds no value. May allocate.
Cell scan_first_value(const Cell& text);
// The same when the text loads into exactly one value; none! when it holds more.
Cell scan_only_value(const Cell& text);
}  // namespace cell

namespace cell {
// internal/not-done: an action or refinement this type does not implement (yet).
[[noreturn]] inline void fire_not_done() { rt::fire_error("internal", "not-done"); }

// script/expect-arg for the value given as the innermost callee's argument number `ordinal`:
// names the callee, the value's datatype and the parameter's spec word.
[[noreturn]] void fire_expect_arg(const Cell& value, int ordinal);
}  // namespace cell
