// The shared cycle stack of recursive walks. Entries are series nodes (an object's context
// node), which never move, so the collector only has to keep them alive.
#include "datatypes/cycles.h"

#include "runtime/gc.h"
#include "runtime/throw.h"

namespace cycles {

namespace {
uint32_t entries[kLimit];
uint32_t count = 0;

void mark_entries() {
  for (uint32_t i = 0; i < count; i++) gc::mark_node(entries[i]);
}
}  // namespace

void init() {
  count = 0;
  gc::add_marker(mark_entries);
}

void push(uint32_t node) {
  entries[count++] = node;
  if (count == kLimit) {
    count = 0;
    rt::fire_error("internal", "too-deep");
  }
}

void pop() {
  if (count) count--;
}

void pop_n(uint32_t n) { count = n > count ? 0 : count - n; }
void reset() { count = 0; }
uint32_t depth() { return count; }

bool find(uint32_t node) {
  for (uint32_t i = 0; i < count; i++) {
    if (entries[i] == node) return true;
  }
  return false;
}

}  // namespace cycles
