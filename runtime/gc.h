// The garbage collector: stop-the-world mark, sweep and compact over the memory manager.
//
// Rooting rule. Roots are precise: the collector marks only what marker callbacks (the data
// stack, the symbol table, the global context... each module registers its own with add_marker)
// and live Guards name, and what is reachable from those. Nothing scans the C++ stack. So a node
// index held only by a C++ local is not a root: a series made and not yet stored anywhere
// reachable must be held by a Guard (or pushed on the data stack) across any call that can
// allocate. Buffer addresses (Series*, Cell* into a series) go stale at every allocation; keep
// the node and re-derive the address afterwards.
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace gc {

void init();
void collect();             // one full cycle
void collect_if_enabled();  // what allocation calls when no frame has room
bool active();              // true while a cycle runs

extern bool enabled;        // allocation-triggered collections run only while set
uint64_t collections();     // cycles done

// Stress mode (ZEL_GC_STRESS=N): every Nth allocation that may collect first runs a full cycle
// that moves every live buffer and poisons and protects the old copies; the heap is verified
// after each such cycle. 0 = off.
void set_stress(uint32_t every);
uint32_t stress();
bool stress_due();          // counts one allocation; true when this one must collect

// Root callbacks, called at every cycle in registration order (100 at most).
using Marker = void (*)();
void add_marker(Marker fn);
void remove_marker(Marker fn);

// The pass over a table that keeps nothing alive by itself but whose entries live while their
// key does (series ownership, datatypes/ownership.h). Within a cycle, after every root is
// marked: mark() is called until it returns false (true: it marked something new), the mark
// stack drained after each call; sweep() runs before compaction. One such pass; null entries are
// skipped.
struct OwnerPass {
  bool (*mark)();
  void (*sweep)();
};
void set_owner_pass(OwnerPass pass);

// Side tables of C++ data keyed by node (the evaluator's caches) drop the entries of dead nodes
// here: called after marking, while is_marked answers, before any node is freed (8 at most).
using SweepHook = void (*)();
void add_sweep_hook(SweepHook fn);
bool is_marked(uint32_t node);  // during a sweep hook: the node lives on
// For a sweep hook: keeps the nodes of the list that live on and hands each dead one to drop.
template <class Drop>
void keep_marked(std::vector<uint32_t>& nodes, Drop drop) {
  size_t kept = 0;
  for (uint32_t node : nodes) {
    if (is_marked(node)) {
      nodes[kept++] = node;
    } else {
      drop(node);
    }
  }
  nodes.resize(kept);
}

// Marking, for markers and the per-type table.
bool mark_node(uint32_t node);                      // the buffer only; true if newly marked
void mark_block(uint32_t node);                     // the buffer and the cells it holds
void mark_values(const Cell* first, const Cell* end);
void mark_value(const Cell& value);

// Per-datatype marking: one entry per type id, called for each cell of that type met while
// marking. A datatype that refers to series or resources registers its entry when it comes up.
using TypeMarker = void (*)(const Cell& value);
TypeMarker set_type_marker(uint8_t type, TypeMarker fn);  // returns the entry it replaces
void mark_series_cell(const Cell& value);  // node in word 2 (and a cache node in word 3)
void mark_block_cell(const Cell& value);   // block node in word 2, with its cells

// Keeps a series (by the node variable it watches) or a value cell alive while it is in scope.
// A guarded series holding cells (unit 16) has its cells marked too. Guards nest: they are
// released in the reverse order of their making, as scopes end.
class Guard {
 public:
  explicit Guard(const uint32_t& node);
  explicit Guard(const Cell& value);
  // A guard keeps the address of what it watches: a temporary (an accessor's result) would
  // leave it watching a dead stack slot. Guard a named variable.
  Guard(const uint32_t&&) = delete;
  Guard(const Cell&&) = delete;
  ~Guard();
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  friend void mark_guards();
  const uint32_t* node_;
  const Cell* value_;
  Guard* prev_;
};

// Checks the whole heap (frames, buffers, nodes, free chains); on a fault reports it and ends
// the process with fatal error kFatalAssertion. Run after each stress cycle; tests may call it
// too.
void verify();

}  // namespace gc
