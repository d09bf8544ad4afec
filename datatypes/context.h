// Contexts: a context maps words to value cells. A context record is a node whose buffer holds
// two cells: the context! cell (word 1 the word table's node, word 2 the values: a block node, or
// for a stack-held function context the data-stack index of the call's first argument) and the
// owner value (the object or function that owns the context).
#pragma once
#include <cstdint>

#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace context {

constexpr uint32_t kStackHeld = 0x400000;  // values live on the data stack
constexpr uint32_t kHasSelf = 0x1000000;
constexpr uint32_t kKindShift = 11;
constexpr uint32_t kKindMask = 0x1800;
enum Kind : uint32_t { kGlobal = 0, kFunction = 1, kObject = 2 };

// The record's cells; valid until the next allocation.
inline Cell* context_cell(uint32_t node) {
  return reinterpret_cast<Cell*>(alloc::series_of(node)->head_ptr());
}
inline Cell* owner_cell(uint32_t node) { return context_cell(node) + 1; }
inline bool stack_held(uint32_t node) { return context_cell(node)->header & kStackHeld; }
inline Kind kind_of(uint32_t node) {
  return Kind((context_cell(node)->header & kKindMask) >> kKindShift);
}
// The values position: a block node, or a data-stack index for a stack-held context.
inline uint32_t values_position(uint32_t node) { return context_cell(node)->w2; }
inline void set_values_position(uint32_t node, uint32_t position) {
  context_cell(node)->w2 = position;
}

}  // namespace context
