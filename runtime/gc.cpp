// The garbage collector: marks from the registered roots and the live guards, then compacts the
// series frames, sweeps big blocks and external resources, and returns freed nodes and empty
// frames. See gc.h for the rooting rule every caller relies on.
//
// Invariant: nothing inside a cycle allocates series, so buffer addresses are stable from the
// start of marking to the start of compaction. Marking never recurses: blocks wait on an
// explicit mark stack, so deeply nested data cannot exhaust the machine stack.
#include "runtime/gc.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/extres.h"
#include "runtime/fatal.h"
#include "runtime/present.h"

namespace gc {

bool enabled = false;

namespace {

OwnerPass owner_pass{};
constexpr int kMaxSweepHooks = 8;
SweepHook sweep_hooks[kMaxSweepHooks];
int sweep_hook_count = 0;
bool forgetting = false;  // the side tables are being emptied: no node lives on

using alloc::Series;
using alloc::SeriesFrame;

constexpr int kMaxMarkers = 100;
constexpr uint8_t kPoison = 0xDB;
constexpr size_t kQuarantineBytes = size_t(256) << 20;

bool collecting = false;
uint64_t cycles = 0;
Marker markers[kMaxMarkers];
int marker_count = 0;
TypeMarker type_markers[256];
Guard* guards = nullptr;
rt::PresentVector<uint32_t> mark_stack;   // block nodes whose cells are still to be marked
rt::PresentVector<uint32_t> freed_nodes;  // nodes of dead buffers, returned after compaction
std::vector<uint64_t> freed_bits;   // free_collected_nodes' bitmap
uint32_t stress_every = 0;
uint32_t stress_count = 0;
bool verifying = false;  // check every node met while marking

struct Quarantined {
  void* block;
  size_t mapped;
};
std::deque<Quarantined> quarantine;  // protected old copies from stress cycles
size_t quarantined_bytes = 0;

[[noreturn]] void heap_fault(const char* what, uintptr_t where) {
  std::fprintf(stderr, "*** Heap check failed: %s (at %#lx)\n", what, (unsigned long)where);
  rt::runtime_error(rt::kFatalAssertion, reinterpret_cast<const void*>(&heap_fault));
}

inline uint32_t occupied(const Series* s) { return s->capacity + alloc::kBufferOverhead; }

void drain_mark_stack() {
  while (!mark_stack.empty()) {
    Series* s = alloc::series_of(mark_stack.back());
    mark_stack.pop_back();
    auto* first = reinterpret_cast<const Cell*>(s->head_ptr());
    auto* end = reinterpret_cast<const Cell*>(s->tail_ptr());
    mark_values(first, end);
  }
}

// Marks a series found through a root that does not know its type: cells are marked when the
// buffer holds cells.
void mark_untyped_series(uint32_t node) {
  if (node && mark_node(node) && alloc::series_of(node)->unit() == sizeof(Cell)) {
    mark_stack.push_back(node);
  }
}

// --- Compaction ----------------------------------------------------------------------------------

void relocate(Series* s, uint8_t* to) {
  std::memmove(to, s, occupied(s));
  alloc::node_table[reinterpret_cast<Series*>(to)->node] = reinterpret_cast<uintptr_t>(to);
  alloc::relocations++;
}

// Frames compaction left empty (but the last), for alloc::release_emptied_frames.
std::vector<SeriesFrame*> emptied_frames;

// Slides every live buffer down, first into the free end of the previous frame while it has
// room, then within its own frame; dead buffers' nodes are collected; a frame left empty (but
// the last) goes to emptied_frames.
void compact_frames() {
  SeriesFrame* previous = nullptr;
  SeriesFrame* frame = alloc::memory.first_frame;
  while (frame) {
    SeriesFrame* next = frame->next;
    bool fill_previous = previous && previous->free_bytes() >= alloc::kUsefulFrameRoom;
    uint8_t* dest = nullptr;  // first hole of this frame
    uint8_t* p = frame->area();
    while (p < frame->heap) {
      auto* s = reinterpret_cast<Series*>(p);
      uint32_t size = occupied(s);
      if (!(s->flags & alloc::kMark)) {
        if (s->node) freed_nodes.push_back(s->node);
        if (!dest) dest = p;
      } else {
        s->flags &= ~alloc::kMark;
        if (fill_previous && previous->free_bytes() >= size) {
          if (previous->heap + size > previous->present) {
            alloc::make_present(previous, previous->heap, previous->heap + size);
          }
          relocate(s, previous->heap);
          previous->heap += size;
          fill_previous = previous->free_bytes() >= alloc::kUsefulFrameRoom;
          if (!dest) dest = p;
        } else if (dest) {
          relocate(s, dest);
          dest += size;
        }
      }
      p += size;
    }
    if (dest) frame->heap = dest;
    if (frame->heap == frame->area() && frame != alloc::memory.last_frame) {
      emptied_frames.push_back(frame);
    } else {
      previous = frame;
    }
    frame = next;
  }
}

// Only the bytes that were handed out are poisoned: nothing can point past them, and touching
// the rest of the mapping would fault in pages that were never used.
void protect_old_copy(void* block, size_t used, size_t mapped) {
  std::memset(block, kPoison, used);
  mprotect(block, mapped, PROT_NONE);
  alloc::memory.total -= mapped;
  quarantine.push_back({block, mapped});
  quarantined_bytes += mapped;
  while (quarantined_bytes > kQuarantineBytes) {
    munmap(quarantine.front().block, quarantine.front().mapped);
    quarantined_bytes -= quarantine.front().mapped;
    quarantine.pop_front();
  }
}

// Stress variant of compaction: every live buffer moves to fresh frames and every live big block
// to a fresh mapping; the old memory is poisoned and protected, so a stale address faults.
void compact_by_moving_everything() {
  SeriesFrame* old = alloc::memory.first_frame;
  alloc::memory.first_frame = alloc::memory.last_frame = alloc::memory.current_frame = nullptr;
  for (SeriesFrame* frame = old; frame;) {
    SeriesFrame* next = frame->next;
    for (uint8_t* p = frame->area(); p < frame->heap;) {
      auto* s = reinterpret_cast<Series*>(p);
      uint32_t size = occupied(s);
      if (!(s->flags & alloc::kMark)) {
        if (s->node) freed_nodes.push_back(s->node);
      } else {
        s->flags &= ~alloc::kMark;
        SeriesFrame* to = alloc::memory.current_frame;
        if (!to || to->free_bytes() < size) to = alloc::memory.current_frame = alloc::new_series_frame(size);
        relocate(s, to->heap);
        to->heap += size;
      }
      p += size;
    }
    protect_old_copy(frame, size_t(frame->heap - reinterpret_cast<uint8_t*>(frame)), frame->mapped);
    frame = next;
  }
  if (!alloc::memory.first_frame) alloc::memory.current_frame = alloc::new_series_frame(0);

  alloc::BigBlock* block = alloc::memory.first_big;
  while (block) {
    alloc::BigBlock* next = block->next;
    Series* s = block->series();
    if (s->flags & alloc::kMark) {
      size_t mapped;
      auto* fresh = static_cast<alloc::BigBlock*>(alloc::virtual_alloc(block->mapped, &mapped));
      std::memcpy(fresh, block, sizeof(alloc::BigBlock) + block->size);
      fresh->mapped = mapped;
      if (fresh->prev) fresh->prev->next = fresh;
      else alloc::memory.first_big = fresh;
      if (fresh->next) fresh->next->prev = fresh;
      else alloc::memory.last_big = fresh;
      alloc::node_table[s->node] = reinterpret_cast<uintptr_t>(fresh->series());
      alloc::relocations++;
      protect_old_copy(block, sizeof(alloc::BigBlock) + block->size, block->mapped);
    }
    block = next;
  }
}

void sweep_big_blocks() {
  alloc::BigBlock* block = alloc::memory.first_big;
  while (block) {
    alloc::BigBlock* next = block->next;
    Series* s = block->series();
    if (s->flags & alloc::kMark) {
      s->flags &= ~alloc::kMark;
    } else {
      if (s->node) freed_nodes.push_back(s->node);
      alloc::release_big_block(block);
    }
    block = next;
  }
}

// Returned highest first, so each frame's free chain ends up in ascending order. The nodes of one
// cycle's dead buffers mostly lie close together: a bitmap over their span orders them in linear
// time (a few far apart are sorted instead).
void free_collected_nodes() {
  if (freed_nodes.empty()) return;
  auto [low, high] = std::minmax_element(freed_nodes.begin(), freed_nodes.end());
  uint32_t base = *low & ~63u;
  size_t words = (*high - base) / 64 + 1;
  if (words > freed_nodes.size() * 4) {
    std::sort(freed_nodes.begin(), freed_nodes.end());
    for (auto it = freed_nodes.rbegin(); it != freed_nodes.rend(); ++it) alloc::free_node(*it);
    freed_nodes.clear();
    return;
  }
  freed_bits.assign(words, 0);
  for (uint32_t node : freed_nodes) {
    freed_bits[(node - base) / 64] |= uint64_t(1) << ((node - base) % 64);
  }
  for (size_t w = words; w-- > 0;) {
    for (uint64_t bits = freed_bits[w]; bits;) {
      int bit = 63 - __builtin_clzll(bits);
      alloc::free_node(base + static_cast<uint32_t>(w * 64) + static_cast<uint32_t>(bit));
      bits &= ~(uint64_t(1) << bit);
    }
  }
  freed_nodes.clear();
}

void choose_current_frame() {
  SeriesFrame* choice = alloc::memory.last_frame;
  for (SeriesFrame* f = alloc::memory.first_frame; f; f = f->next) {
    if (f->free_bytes() >= alloc::kUsefulFrameRoom) {
      choice = f;
      break;
    }
  }
  alloc::memory.current_frame = choice;
}

// --- Verification --------------------------------------------------------------------------------

void verify_buffer(Series* s) {
  auto where = reinterpret_cast<uintptr_t>(s);
  if (s->capacity % 16) heap_fault("capacity not a multiple of 16", where);
  if (s->flags & alloc::kMark) heap_fault("mark bit left set", where);
  if (!(s->flags & alloc::kInUse)) {
    if (s->node) heap_fault("given-up buffer still names a node", where);
    return;
  }
  if (s->unit() == 0) heap_fault("unit size 0", where);
  if (s->head > s->tail || s->tail > s->capacity) heap_fault("head/tail outside capacity", where);
  if (s->node && alloc::node_table[s->node] != where) heap_fault("node does not point back", where);
}

void verify_series_frames() {
  SeriesFrame* prev = nullptr;
  for (SeriesFrame* f = alloc::memory.first_frame; f; prev = f, f = f->next) {
    auto where = reinterpret_cast<uintptr_t>(f);
    if (f->prev != prev) heap_fault("series frame list broken", where);
    if (prev && prev >= f) heap_fault("series frames out of address order", where);
    if (f->heap < f->area() || f->heap > f->end) heap_fault("frame heap outside its area", where);
    uint8_t* p = f->area();
    while (p < f->heap) {
      auto* s = reinterpret_cast<Series*>(p);
      verify_buffer(s);
      p += occupied(s);
    }
    if (p != f->heap) heap_fault("buffers overrun the frame heap", where);
  }
  if (prev != alloc::memory.last_frame) heap_fault("last series frame wrong", 0);
  for (alloc::BigBlock* b = alloc::memory.first_big; b; b = b->next) verify_buffer(b->series());
}

void verify_node_frames() {
  for (int32_t n = alloc::memory.first_node_frame; n >= 0; n = alloc::node_frame(n).next) {
    alloc::NodeFrame& f = alloc::node_frame(n);
    uint32_t first = uint32_t(n) * alloc::kNodeStride;
    uint32_t free_count = 0;
    for (uint32_t node = f.free_head; node; node = uint32_t(alloc::node_table[node] >> 1)) {
      if (node < first || node >= first + f.capacity) heap_fault("free chain leaves its frame", node);
      if (!(alloc::node_table[node] & 1)) heap_fault("node in use on the free chain", node);
      if (++free_count > f.capacity) heap_fault("free chain loops", node);
    }
    if (free_count + f.in_use != f.capacity) heap_fault("node frame count in use wrong", n);
    for (uint32_t node = first; node < first + f.capacity; node++) {
      uintptr_t slot = alloc::node_table[node];
      if (slot & 1 || slot == 0) continue;
      auto* s = reinterpret_cast<Series*>(slot);
      if (s->node != node || !(s->flags & alloc::kInUse)) heap_fault("node's buffer not its own", node);
    }
  }
}

}  // namespace

// --- Marking -------------------------------------------------------------------------------------

bool mark_node(uint32_t node) {
  if (verifying && (!alloc::node_in_use(node) || alloc::node_table[node] == 0 ||
                    alloc::series_of(node)->node != node)) {
    heap_fault("a reachable node is not alive", node);
  }
  Series* s = alloc::series_of(node);
  if (s->flags & alloc::kMark) return false;
  s->flags |= alloc::kMark;
  return true;
}

void mark_block(uint32_t node) {
  if (node && mark_node(node)) mark_stack.push_back(node);
}

void mark_value(const Cell& value) {
  TypeMarker fn = type_markers[cell::type_of(value)];
  if (fn) fn(value);
}

void mark_values(const Cell* first, const Cell* end) {
  for (const Cell* c = first; c < end; c++) mark_value(*c);
}

TypeMarker set_type_marker(uint8_t type, TypeMarker fn) {
  TypeMarker previous = type_markers[type];
  type_markers[type] = fn;
  return previous;
}

void mark_series_cell(const Cell& value) {
  if (cell::series_node(value)) mark_node(cell::series_node(value));
  if (cell::series_extra(value)) mark_node(cell::series_extra(value));
}

void mark_block_cell(const Cell& value) { mark_block(cell::series_node(value)); }

void mark_guards() {
  for (Guard* g = guards; g; g = g->prev_) {
    if (g->node_) mark_untyped_series(*g->node_);
    if (g->value_) mark_value(*g->value_);
  }
}

Guard::Guard(const uint32_t& node) : node_(&node), value_(nullptr), prev_(guards) { guards = this; }
Guard::Guard(const Cell& value) : node_(nullptr), value_(&value), prev_(guards) { guards = this; }
Guard::~Guard() { guards = prev_; }

// --- Cycle ---------------------------------------------------------------------------------------

void add_marker(Marker fn) {
  for (int i = 0; i < marker_count; i++) {
    if (!markers[i]) {
      markers[i] = fn;  // a removed entry's place
      return;
    }
  }
  // A root that cannot be registered would be silently freed: that is a programming error.
  if (marker_count == kMaxMarkers) {
    rt::runtime_error(rt::kFatalAssertion, reinterpret_cast<const void*>(&add_marker));
  }
  markers[marker_count++] = fn;
}

void remove_marker(Marker fn) {
  for (int i = 0; i < marker_count; i++) {
    if (markers[i] == fn) markers[i] = nullptr;
  }
}

void set_owner_pass(OwnerPass pass) { owner_pass = pass; }

void add_sweep_hook(SweepHook fn) {
  for (int i = 0; i < sweep_hook_count; i++) {
    if (sweep_hooks[i] == fn) return;  // brought up again (tests)
  }
  if (sweep_hook_count == kMaxSweepHooks) {
    rt::runtime_error(rt::kFatalAssertion, reinterpret_cast<const void*>(&add_sweep_hook));
  }
  sweep_hooks[sweep_hook_count++] = fn;
}

bool is_marked(uint32_t node) {
  return !forgetting && alloc::node_in_use(node) && (alloc::series_of(node)->flags & alloc::kMark);
}

bool active() { return collecting; }
uint64_t collections() { return cycles; }

void collect() {
  if (collecting) return;
  collecting = true;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  verifying = stress_every != 0;

  mark_guards();
  drain_mark_stack();
  for (int i = 0; i < marker_count; i++) {
    if (markers[i]) markers[i]();
    drain_mark_stack();
  }
  // An owner lives while a series it owns does, so owners are marked to a fixpoint.
  if (owner_pass.mark) {
    while (owner_pass.mark()) drain_mark_stack();
  }

  extres::sweep();
  if (owner_pass.sweep) owner_pass.sweep();
  for (int i = 0; i < sweep_hook_count; i++) sweep_hooks[i]();
  if (stress_every) compact_by_moving_everything();
  else compact_frames();
  sweep_big_blocks();
  alloc::release_emptied_frames(emptied_frames);  // the big blocks left count as live data
  emptied_frames.clear();
  free_collected_nodes();
  alloc::release_empty_node_frames();
  choose_current_frame();
  alloc::for_each_heap_series([](Series* s) { s->flags &= ~alloc::kMark; });

  cycles++;
  alloc::memory.big_since_collect = 0;
  alloc::memory.carved_since_collect = 0;
  alloc::memory.nodes_since_collect = 0;
  verifying = false;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  collecting = false;
  if (stress_every) verify();
}

void collect_if_enabled() {
  if (enabled) collect();
}

void set_stress(uint32_t every) {
  stress_every = every;
  stress_count = 0;
}

uint32_t stress() { return stress_every; }

bool stress_due() {
  if (!stress_every || !enabled || collecting) return false;
  if (++stress_count < stress_every) return false;
  stress_count = 0;
  return true;
}

void verify() {
  verify_series_frames();
  verify_node_frames();
}

void init() {
  cycles = 0;
  const char* stress_env = std::getenv("ZEL_GC_STRESS");
  set_stress(stress_env ? static_cast<uint32_t>(std::strtoul(stress_env, nullptr, 10)) : 0);
  // A runtime started again in this process: the side tables still name the last one's nodes,
  // which the new node table knows nothing of.
  forgetting = true;
  for (int i = 0; i < sweep_hook_count; i++) sweep_hooks[i]();
  forgetting = false;
}

}  // namespace gc
