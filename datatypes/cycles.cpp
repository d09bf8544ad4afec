// The shared cycle stack of recursive walks. Entries are series nodes (an object's context
// node), which never move, so the collector only has to keep them alive.
#include "datatypes/cycles.h"

#include "datatypes/cell_ops.h"
#include "datatypes/object.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace cycles {

namespace {
uint32_t entries[kLimit];
uint32_t count = 0;

void mark_entries() {
  // Entries are blocks and context records: their cells must be walked too, since a later root
  // reaching an already-marked buffer does not walk it again.
  for (uint32_t i = 0; i < count; i++) gc::mark_block(entries[i]);
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

bool detect_and_emit(const Cell& value, Cell* out, int32_t* part, bool mold) {
  uint8_t type = cell::type_of(value);
  uint32_t node = type == TYPE_OBJECT || type == TYPE_ERROR ? object::context_of(value)
                                                            : cell::series_node(value);
  if (!find(node)) return false;
  const char* marker = "...";
  if (mold) {
    switch (type) {
      case TYPE_BLOCK: case TYPE_HASH: marker = "[...]"; break;
      case TYPE_PAREN: marker = "(...)"; break;
      case TYPE_MAP: marker = "#[...]"; break;
      case TYPE_OBJECT: marker = "make object! [...]"; break;
      default: break;
    }
  }
  *part -= cell::append_text(out, marker);
  return true;
}

}  // namespace cycles
