// native!, action! and op!: the values that call a native of the native table, an action
// dispatcher, or (op!) another callable written infix. Here they are made from their specs,
// printed, compared and reflected; calling them is the evaluator's. Relies on datatypes/context.h
// for the context of refinement names and on the rooting rule of runtime/gc.h.
#pragma once
#include <cstdint>

#include "datatypes/datatype.h"
#include "runtime/cell.h"

namespace native {

// native! and action! cell: word 1 the 1-based index in the native table or the action
// dispatcher table, word 2 the spec block's node, word 3 the node of the 2-cell internal block.
// op! cell: the wrapped callable's payload, header op! with the wrapped type in bits 16-23.
// Slots of the native table (the action slots are action::kSlotCount).
constexpr int32_t kNativeSlots = 120;
constexpr uint32_t kWrappedShift = 16;

// Cells of the internal block. The argument context's cell is a copy of the context record's
// context! cell whose word 3 (0 in the record) holds the record's node, so that refinement words
// can be bound to that context.
enum InternalCell : uint32_t { kArgContext = 0, kArgCache = 1 };

// The payload of native!, action! and op! (see above).
inline uint32_t index_of(const Cell& native) { return native.w1; }
inline uint32_t spec_of(const Cell& native) { return native.w2; }
inline uint32_t internals_of(const Cell& native) { return native.w3; }
inline void set_index(Cell& native, uint32_t index) { native.w1 = index; }
inline void set_spec(Cell& native, uint32_t node) { native.w2 = node; }
inline void set_internals(Cell& native, uint32_t node) { native.w3 = node; }

inline uint8_t wrapped_type(const Cell& op) {
  return static_cast<uint8_t>((op.header >> kWrappedShift) & 0xFF);
}
// The callable an op! wraps, as the evaluator calls it: the op's cell retyped to the wrapped
// type, the wrapped value's own header flags kept.
Cell unwrap_op(const Cell& op);
// The record node of a native's or action's context of argument and refinement names.
uint32_t arg_context(const Cell& value);

// Whether the spec, read from its buffer's start, describes exactly two arguments, as an
// operator's must: lit-word and get-word arguments only after a plain word, a set-word (return:)
// or /local or /extern ends the list, any other refinement refuses the spec.
bool check_op_spec(uint32_t spec_node);

// The ordering compare of the callables by one payload word: -1, 0 or 1 under the equality,
// sort and same operators, action::kNotComparable otherwise.
int32_t compare_words(int32_t op, uint32_t a, uint32_t b);

// --- Actions -------------------------------------------------------------------------------------

// native! and action! from [spec-block index]: a new stack cell.
Cell* make(Cell* proto, Cell* spec, uint8_t type);
// op! from a native!, action!, function! or routine! (the spec): the prototype cell becomes it.
Cell* make_op(Cell* proto, Cell* spec, uint8_t type);
void reflect(Cell* value, uint32_t field_symbol);
int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);

// Registers native!, then its children action! and op!, and their collector marking.
void register_datatypes();

}  // namespace native
