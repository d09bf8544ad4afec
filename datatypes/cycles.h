// Cycle detection: every recursive walk over blocks and objects (mold, form, bind, ownership,
// copy) keeps the nodes it is inside on one shared stack, so a container met again is a cycle.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace cycles {

constexpr uint32_t kLimit = 1000;  // a walk nested this deep raises internal/too-deep

void init();
void push(uint32_t node);
void pop();
void pop_n(uint32_t n);
void reset();
bool find(uint32_t node);
uint32_t depth();

// Keeps a node on the stack for the lifetime of a walk's scope, errors included.
struct Entry {
  explicit Entry(uint32_t node) { push(node); }
  ~Entry() { pop(); }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;
};

// Appends the cycle marker of the value ("[...]", "..."...) to the output string when the
// value's container is on the stack; returns whether it did, lowering *part by what it added.
bool detect_and_emit(const Cell& value, Cell* out, int32_t* part, bool mold);

}  // namespace cycles
