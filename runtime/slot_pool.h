// The value slot pool: parks values that only a 1-based integer kept outside the runtime names
// (a handle held by foreign code), and keeps them alive while they are parked. Relies on the
// memory manager and the rooting rule of runtime/gc.h: the pool is a collector root.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace slot_pool {

void init();  // 100 free slots, and the pool's root marker
// Parks a copy of the value; returns its slot's 1-based index. May allocate (doubles the pool).
uint32_t alloc(const Cell& value);
// The slot's cell; valid until the next allocation.
Cell* slot_at(uint32_t index);
// Gives the slot back; 0 (and an index past the pool) is ignored.
void free(uint32_t index);
uint32_t capacity();

}  // namespace slot_pool
