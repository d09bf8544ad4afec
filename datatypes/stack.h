// The data stack: the calling convention of every action, native and function.
//
// Values travel on the data stack; a callee's cells run from the arguments base (args) to top,
// and cell 0 (arg(0)) is both its first argument and its result slot. The stack lives on the
// tracked heap and never moves, so Cell* into it stay valid while the cells are live. The frames
// that save and restore args (calls, loops, try...) are the interpreter's (interpreter/frames.h);
// this layer only moves the positions.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace stack {

constexpr uint32_t kDataCells = 20000;

// Positions. Invariant: bottom <= args <= top < end.
extern Cell* bottom;
extern Cell* top;
extern Cell* args;
extern Cell* end;

void init();  // makes the stack (on the tracked heap) and roots its cells

inline Cell* arg(int i) { return args + i; }
inline uint32_t cell_index(const Cell* c) { return static_cast<uint32_t>(c - bottom); }

// The slow end of push_new: a full data stack raises stack-overflow.
[[noreturn]] void overflow();

[[gnu::always_inline]] inline Cell* push_new() {  // the cell at top (contents left to the caller)
  Cell* c = top++;
  if (top >= end) [[unlikely]] overflow();
  return c;
}
[[gnu::always_inline]] inline Cell* push_copy(const Cell& value) {
  Cell copy = value;  // the value may be the cell at top
  Cell* c = push_new();
  *c = copy;
  return c;
}
void pop_cells(uint32_t n);
inline Cell* top_cell() { return top > bottom ? top - 1 : bottom; }  // bottom when empty
uint8_t top_type();
void set_result(const Cell& value);  // into arg(0)
// top = args + 1, then the value into arg(0).
[[gnu::always_inline]] inline void set_only_result(const Cell& value) {
  Cell copy = value;
  top = args + 1;
  *args = copy;
}
// An expression's value placed as its caller asks: pushed as a new cell, or as the current
// frame's only result.
inline void deliver(const Cell& value, bool push) {
  if (push) {
    push_copy(value);
  } else {
    set_only_result(value);
  }
}
inline Cell* reset() { return top = args; }
Cell* keep();  // top = args + 1
void keep_try_result();

}  // namespace stack
