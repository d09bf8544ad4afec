// Growable arrays of 32-bit words in unit-4 series buffers (see array.h). Growth goes through
// the memory manager's byte reservation, so an array grows like every other buffer.
#include "runtime/array.h"

#include <cstring>


namespace array {

namespace {
inline int32_t* elements(alloc::Series* s) { return reinterpret_cast<int32_t*>(s->head_ptr()); }
}  // namespace

uint32_t length(uint32_t node) { return alloc::series_of(node)->used() / sizeof(int32_t); }

alloc::Series* clear(uint32_t node) {
  alloc::Series* s = alloc::series_of(node);
  s->tail = s->head;
  return s;
}

int32_t* append_int(uint32_t node, int32_t value) {
  auto* slot = reinterpret_cast<int32_t*>(alloc::reserve_bytes(node, sizeof(int32_t)));
  *slot = value;
  return slot;
}

int32_t pick_int(uint32_t node, uint32_t position) {
  return elements(alloc::series_of(node))[position - 1];
}

void poke_int(uint32_t node, uint32_t position, int32_t value) {
  elements(alloc::series_of(node))[position - 1] = value;
}

int32_t find_int(uint32_t node, int32_t value) {
  alloc::Series* s = alloc::series_of(node);
  const int32_t* first = elements(s);
  uint32_t n = s->used() / sizeof(int32_t);
  for (uint32_t i = 0; i < n; i++) {
    if (first[i] == value) return static_cast<int32_t>(i * sizeof(int32_t));
  }
  return -1;
}

alloc::Series* remove_bytes(uint32_t node, uint32_t offset, uint32_t count) {
  alloc::Series* s = alloc::series_of(node);
  uint8_t* at = s->head_ptr() + offset;
  std::memmove(at, at + count, s->used() - offset - count);
  s->tail -= count;
  return s;
}

}  // namespace array
