// The value slot pool: a block of cells whose free slots are chained through their integer
// payloads, rooted by its own marker. It grows by doubling, which moves it (see slot_pool.h).
#include "runtime/slot_pool.h"

#include "runtime/alloc.h"
#include "runtime/gc.h"

namespace slot_pool {

namespace {

constexpr uint32_t kInitialSlots = 100;
constexpr int32_t kNoFreeSlot = -1;

uint32_t pool = 0;
uint32_t slots = 0;
int32_t free_head = kNoFreeSlot;

Cell* cells() { return reinterpret_cast<Cell*>(alloc::series_of(pool)->head_ptr()); }

// Links slots [first, slots) as free, in order, ending the list.
void link_free(uint32_t first) {
  Cell* c = cells();
  for (uint32_t i = first; i < slots; i++) {
    c[i] = Cell{TYPE_INTEGER, 0, i + 1 < slots ? i + 1 : uint32_t(kNoFreeSlot), 0};
  }
  alloc::Series* s = alloc::series_of(pool);
  s->tail = s->head + slots * sizeof(Cell);
  free_head = int32_t(first);
}

void mark_pool() { gc::mark_block(pool); }

}  // namespace

void init() {
  slots = kInitialSlots;
  pool = alloc::new_cell_series(slots);
  link_free(0);
  gc::add_marker(mark_pool);
}

uint32_t alloc(const Cell& value) {
  Cell v = value;
  if (free_head == kNoFreeSlot) {
    gc::Guard guard(v);
    uint32_t old = slots;
    alloc::expand_series(pool, old * 2 * sizeof(Cell));
    slots = old * 2;
    link_free(old);
  }
  uint32_t index = uint32_t(free_head);
  Cell* slot = &cells()[index];
  free_head = int32_t(cell::value_word(*slot));
  *slot = v;
  return index + 1;
}

Cell* slot_at(uint32_t index) { return &cells()[index - 1]; }

void free(uint32_t index) {
  if (index == 0 || index > slots) return;
  cells()[index - 1] = Cell{TYPE_INTEGER, 0, uint32_t(free_head), 0};
  free_head = int32_t(index - 1);
}

uint32_t capacity() { return slots; }

}  // namespace slot_pool
