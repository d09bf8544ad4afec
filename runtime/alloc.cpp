// The memory manager: nodes, series frames, big blocks, and the buffers carved from them.
//
// Allocation is a pointer bump in the current series frame. When no frame has room the collector
// runs (runtime/gc.cpp), which slides live buffers down and returns empty frames; buffers of
// 2 MB and more get a mapping of their own. Relies on the platform's virtual memory and on the
// tracked heap for the few buffers that must never move.
#include "runtime/alloc.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/os/platform.h"
#include "runtime/cell.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/heap.h"
#include "runtime/throw.h"

namespace alloc {

uintptr_t* node_table = nullptr;
uint64_t relocations = 0;
Memory memory;

namespace {

NodeFrame node_frames[kMaxNodeFrames];
int32_t node_frames_made = 0;  // records from here on were never used: still all zero

// Only the records a runtime used: the rest of the table is untouched memory.
void reset_node_frames() {
  for (int32_t i = 0; i < node_frames_made; i++) node_frames[i] = NodeFrame{-1, -1, 0, 0, 0, false};
  node_frames_made = 0;
}
// Buffers on the tracked heap (data stack, call stack, root block...): the collector clears
// their marks itself, since compaction never walks them.
std::vector<uint32_t> heap_series;

constexpr size_t kNodeTableBytes = size_t(kMaxNodeFrames) * kNodeStride * sizeof(uintptr_t);

// Inside a collection the heap is half moved and an error value cannot be built: the process
// ends with the out-of-memory fatal error instead.
[[noreturn]] void out_of_memory() {
  if (gc::active()) {
    rt::runtime_error(rt::kFatalOutOfMemory, reinterpret_cast<const void*>(&out_of_memory));
  }
  rt::fire_error("internal", "no-memory");
}

size_t page_size() {
  static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return size;
}
size_t round_to_pages(size_t n) { return align_up(n, page_size()); }
uint32_t align16(uint64_t n) { return static_cast<uint32_t>(align_up(n, 16)); }

inline uintptr_t free_link(uint32_t next) { return (uintptr_t(next) << 1) | 1; }

// Takes an element out of a doubly linked list held by its two ends. The links are pointers
// (series frames, big blocks) or node frame numbers; `none` ends the list and `at` reaches the
// element a link names.
template <class Link, class At>
void unlink(Link prev, Link next, Link& first, Link& last, Link none, At at) {
  if (prev != none) at(prev).next = next;
  else first = next;
  if (next != none) at(next).prev = prev;
  else last = prev;
}
template <class Element>
void unlink(Element* element, Element*& first, Element*& last) {
  unlink<Element*>(element->prev, element->next, first, last, nullptr,
                   [](Element* e) -> Element& { return *e; });
}

// --- Node frames ---------------------------------------------------------------------------------

int32_t make_node_frame() {
  int32_t number = 1;  // frame 0 would own node 0, which means "no node"
  while (number < kMaxNodeFrames && node_frames[number].live) number++;
  if (number == kMaxNodeFrames) out_of_memory();
  uint32_t first = uint32_t(number) * kNodeStride;
  size_t bytes = round_to_pages(kNodesPerFrame * sizeof(uintptr_t));
  if (mprotect(node_table + first, bytes, PROT_READ | PROT_WRITE) != 0) out_of_memory();
  platform::prefault(node_table + first, bytes);  // the free list below writes every slot
  memory.total += bytes;
  for (uint32_t i = 0; i < kNodesPerFrame; i++) {
    node_table[first + i] = free_link(i + 1 < kNodesPerFrame ? first + i + 1 : 0);
  }
  node_frames_made = std::max(node_frames_made, number + 1);
  NodeFrame& f = node_frames[number];
  f = NodeFrame{-1, memory.last_node_frame, kNodesPerFrame, first, 0, true};
  if (memory.last_node_frame >= 0) node_frames[memory.last_node_frame].next = number;
  else memory.first_node_frame = number;
  memory.last_node_frame = number;
  return number;
}

void release_node_frame(int32_t number) {
  NodeFrame& f = node_frames[number];
  unlink(f.prev, f.next, memory.first_node_frame, memory.last_node_frame, -1,
         [](int32_t n) -> NodeFrame& { return node_frames[n]; });
  // Give the pages back and make any stale node index fault at once.
  size_t bytes = round_to_pages(f.capacity * sizeof(uintptr_t));
  uintptr_t* slots = node_table + uint32_t(number) * kNodeStride;
  madvise(slots, bytes, MADV_DONTNEED);
  mprotect(slots, bytes, PROT_NONE);
  memory.total -= bytes;
  f = NodeFrame{-1, -1, 0, 0, 0, false};
  if (memory.current_node_frame == number) memory.current_node_frame = memory.first_node_frame;
}

// --- Series frames -------------------------------------------------------------------------------

void insert_frame_by_address(SeriesFrame* frame) {
  SeriesFrame* after = nullptr;
  for (SeriesFrame* f = memory.first_frame; f && f < frame; f = f->next) after = f;
  frame->prev = after;
  frame->next = after ? after->next : memory.first_frame;
  if (frame->next) frame->next->prev = frame;
  else memory.last_frame = frame;
  if (after) after->next = frame;
  else memory.first_frame = frame;
}

SeriesFrame* find_frame_with_room(uint32_t need) {
  for (SeriesFrame* f = memory.first_frame; f; f = f->next) {
    if (f->free_bytes() >= need) return f;
  }
  return nullptr;
}

// After a collection: the frames' free room is below the live data they hold. Carving on would
// collect again after a small fraction of the live data's size, and each collection marks all of
// it, so a large live heap (the boot image alone is megabytes) would make allocation cost grow
// with it; new frames, up to as much room as live data, keep the marking work per byte
// allocated bounded.
struct Room {
  size_t used = 0, free = 0;
};
Room room_in_frames() {
  Room room;
  for (SeriesFrame* f = memory.first_frame; f; f = f->next) {
    room.free += f->free_bytes();
    room.used += f->size - f->free_bytes();
  }
  // What big blocks hold is marked as well (a large map's entries): it counts as live data too.
  for (BigBlock* b = memory.first_big; b; b = b->next) room.used += b->series()->used();
  return room;
}

bool room_is_scarce() {
  const Room room = room_in_frames();
  return room.free < room.used;
}

// A frame is filled from its start, so its pages are made present a stretch ahead of the
// carving, in one call each, rather than one fault a page; stretches, not the whole frame, so
// that a short run (zel-run -e 1) pays only for what it fills.
constexpr size_t kPresentStretch = 256 * 1024;

}  // namespace

void make_present(SeriesFrame* frame, const uint8_t* start, const uint8_t* until) {
  const auto page = static_cast<uintptr_t>(page_size());
  // Pages below present were made present already, or were touched by data a collection moved
  // there.
  const uintptr_t from = std::max(reinterpret_cast<uintptr_t>(frame->present),
                                  reinterpret_cast<uintptr_t>(start)) & ~(page - 1);
  const uintptr_t to = std::min(align_up(reinterpret_cast<uintptr_t>(until), page) +
                                    kPresentStretch,
                                reinterpret_cast<uintptr_t>(frame) + frame->mapped);
  if (to > from) platform::prefault(reinterpret_cast<void*>(from), to - from);
  frame->present = reinterpret_cast<uint8_t*>(to);
}

namespace {

Series* carve_in_frames(uint32_t need) {
  SeriesFrame* frame = memory.current_frame;
  if (!frame || frame->free_bytes() < need) {
    // Only a frame with useful room is settled on: carving on from a remnant of room, or making
    // a new frame beside one without collecting, would let garbage pile up unbounded.
    uint32_t useful = std::max(need, kUsefulFrameRoom);
    frame = find_frame_with_room(useful);
    bool scarce = false;
    if (!frame) {
      gc::collect_if_enabled();
      frame = find_frame_with_room(useful);
      scarce = room_is_scarce();
      if (scarce) frame = nullptr;
    }
    if (!frame) frame = new_series_frame(need);
    // One frame is at most 2 MB: a live heap larger than that needs several (the maps
    // benchmark's map grows past it). The stress mode collects at every allocation anyway.
    bool paced = gc::enabled && !gc::stress();
    while (scarce && paced && room_is_scarce()) new_series_frame(0);
    memory.current_frame = frame;
  }
  auto* s = reinterpret_cast<Series*>(frame->heap);
  frame->heap += need;
  memory.carved_since_collect += need;
  if (frame->heap > frame->present) [[unlikely]] {
    make_present(frame, frame->heap - need, frame->heap);
  }
  return s;
}

// A big block collects first once big blocks have taken a fair share of the heap since the last
// collection: a buffer that keeps doubling would otherwise mark the whole heap at each step.
void collect_for_big_block(size_t bytes) {
  const size_t share = std::max<size_t>(memory.total / 4, size_t(2) * kBigThreshold);
  if (memory.big_since_collect + bytes >= share) gc::collect_if_enabled();
  memory.big_since_collect += bytes;
}

// A big block is made or grown to be filled, most often at once (a copy, a map or block that
// keeps growing): its pages are made present in one request rather than one fault a page,
// up to a bound, so that a large capacity asked for and never used costs no memory.
constexpr size_t kPresentBigBytes = size_t(32) << 20;
void prefault_bounded(void* start, size_t bytes) {
  platform::prefault(start, std::min(bytes, kPresentBigBytes));
}

Series* carve_big_block(uint32_t need) {
  collect_for_big_block(need);
  size_t mapped;
  auto* block = static_cast<BigBlock*>(virtual_alloc(sizeof(BigBlock) + need, &mapped));
  platform::allow_huge_pages(block, mapped);
  prefault_bounded(block, mapped);
  *block = BigBlock{nullptr, memory.last_big, need, mapped};
  if (memory.last_big) memory.last_big->next = block;
  else memory.first_big = block;
  memory.last_big = block;
  return block->series();
}

void fill_header(Series* s, uint32_t size, uint32_t unit, int64_t head_offset, uint32_t extra) {
  uint32_t head = 0;
  uint32_t flags = unit | kInUse | kMade | extra;
  if (head_offset == -1) {
    head = size / 2;
    flags |= kHeadInMiddle;
  } else if (head_offset > 0) {
    head = static_cast<uint32_t>(std::min<int64_t>(head_offset, size));
  }
  *s = Series{flags, 0, size, head, head, 0};
}

// The carving step: a buffer of align16(count * unit) bytes, with no node yet. May collect.
Series* series_buffer(uint32_t count, uint32_t unit, int64_t head_offset) {
  uint64_t bytes = uint64_t(count) * unit;
  if (bytes > kMaxCapacity) out_of_memory();
  uint32_t size = align16(bytes);
  uint32_t need = size + kBufferOverhead;
  if (gc::stress_due()) gc::collect();
  bool big = need >= kBigThreshold;
  Series* s = big ? carve_big_block(need) : carve_in_frames(need);
  fill_header(s, size, unit, head_offset, big ? uint32_t(kBig) : 0u);
  return s;
}

uint32_t link(Series* s) {
  uint32_t node = new_node();
  node_table[node] = reinterpret_cast<uintptr_t>(s);
  s->node = node;
  return node;
}

// Copies the old buffer's bytes from its head to the new buffer's data start, bounded by the end
// of the old data area and by the new capacity; returns the bytes copied.
uint32_t copy_from_head(Series* from, Series* to) {
  uint32_t n = std::min(from->capacity - from->head, to->capacity);
  std::memcpy(to->data(), from->head_ptr(), n);
  return n;
}


void give_up(Series* old) {
  old->node = 0;
  old->flags &= ~kInUse;
  if (old->flags & kOnHeap) rt::heap_free(old);
}

}  // namespace

// --- Public interface ----------------------------------------------------------------------------

NodeFrame& node_frame(int32_t number) { return node_frames[number]; }

uint32_t new_node() {
  int32_t number = memory.current_node_frame;
  if (number < 0 || node_frames[number].free_head == 0) {
    number = memory.first_node_frame;
    while (number >= 0 && node_frames[number].free_head == 0) number = node_frames[number].next;
    if (number < 0) number = make_node_frame();
    memory.current_node_frame = number;
  }
  NodeFrame& f = node_frames[number];
  uint32_t node = f.free_head;
  f.free_head = static_cast<uint32_t>(node_table[node] >> 1);
  node_table[node] = 0;
  f.in_use++;
  memory.nodes_since_collect++;
  return node;
}

void free_node(uint32_t node) {
  NodeFrame& f = node_frames[node / kNodeStride];
  node_table[node] = free_link(f.free_head);
  f.free_head = node;
  f.in_use--;
}

bool node_in_use(uint32_t node) {
  int32_t number = static_cast<int32_t>(node / kNodeStride);
  if (node == 0 || number >= kMaxNodeFrames || !node_frames[number].live) return false;
  if (node % kNodeStride >= node_frames[number].capacity) return false;
  return (node_table[node] & 1) == 0;
}

uint32_t new_series(uint32_t count, uint32_t unit, int64_t head_offset) {
  return link(series_buffer(count, unit, head_offset));
}

uint32_t new_cell_series(uint32_t count) { return new_series(count, 16, 0); }

uint32_t new_cell_series_unset(uint32_t count) {
  uint32_t node = new_cell_series(count);
  Series* s = series_of(node);
  auto* cells = reinterpret_cast<Cell*>(s->data());
  std::fill(cells, cells + s->capacity / 16, Cell{TYPE_UNSET, 0, 0, 0});
  return node;
}

uint32_t new_byte_series(uint32_t count) { return new_series(count ? count : 16, 1, 0); }

uint32_t new_unit_series(uint32_t count, uint32_t unit) {
  return new_series(count ? count : 16 >> (unit >> 1), unit, 0);
}

uint32_t new_byte_series_filled(uint32_t count, uint8_t byte) {
  uint32_t node = new_series(count, 1, 0);
  Series* s = series_of(node);
  std::memset(s->data(), byte, s->capacity);
  return node;
}

uint32_t new_series_on_heap(uint32_t count, uint32_t unit, int64_t head_offset) {
  uint64_t bytes = uint64_t(count) * unit;
  if (bytes > kMaxCapacity) out_of_memory();
  uint32_t size = align16(bytes);
  auto* s = static_cast<Series*>(rt::heap_alloc(kBufferOverhead + size));
  fill_header(s, size, unit, head_offset, kOnHeap);
  uint32_t node = link(s);
  heap_series.push_back(node);
  return node;
}

void set_series_flags(uint32_t node, uint32_t bits) { series_of(node)->flags |= bits; }

namespace {

// The move shared by move, expand and copy: a new buffer for the node, header carried over.
// Returns {old, new}; the old buffer stays readable until the next allocation.
std::pair<Series*, Series*> relink(uint32_t node, uint32_t new_capacity) {
  Series* old = series_of(node);
  // Doubling an empty buffer gives the smallest one, not nothing.
  uint64_t capacity = new_capacity ? new_capacity : std::max<uint64_t>(old->capacity * 2ull, 16);
  if (capacity > kMaxCapacity) out_of_memory();
  uint32_t unit = old->unit();
  Series* fresh = series_buffer(static_cast<uint32_t>(capacity / unit), unit, 0);
  old = series_of(node);  // carving may have collected and moved it
  bool was_on_heap = old->flags & kOnHeap;
  fresh->flags = (old->flags & ~kLocationBits) | (fresh->flags & kLocationBits);
  fresh->node = node;
  fresh->tail = std::min(old->used(), fresh->capacity);
  node_table[node] = reinterpret_cast<uintptr_t>(fresh);
  relocations++;
  if (was_on_heap) heap_series.erase(std::find(heap_series.begin(), heap_series.end(), node));
  return {old, fresh};
}

}  // namespace

Series* move_series_buffer(uint32_t node, uint32_t new_capacity) {
  auto [old, fresh] = relink(node, new_capacity);
  give_up(old);
  return fresh;
}

namespace {

// A big block's buffer grown where the system can (its mapping remapped, the bytes kept without
// a copy, no page of it touched again): how a block or string appended to without end grows.
// Null when the buffer is not a big block whose data starts at its head: expand_series copies.
Series* grow_big_block(uint32_t node, uint32_t new_capacity) {
  Series* s = series_of(node);
  if (!(s->flags & kBig) || (s->flags & kOnHeap) || s->head != 0) return nullptr;
  const uint64_t capacity = new_capacity ? new_capacity : uint64_t(s->capacity) * 2;
  if (capacity > kMaxCapacity) out_of_memory();
  const uint32_t unit = s->unit();
  const uint32_t size = align16(capacity / unit * unit);
  if (size <= s->capacity) return nullptr;
  const uint32_t growth = size - s->capacity;
  // The allocation's usual chances to collect (a collection may move the block: stress mode).
  if (gc::stress_due()) gc::collect();
  collect_for_big_block(growth);
  s = series_of(node);
  if (!(s->flags & kBig) || s->head != 0) return nullptr;
  auto* block = reinterpret_cast<BigBlock*>(s) - 1;
  const size_t need = size_t(size) + kBufferOverhead;
  const size_t mapped = round_to_pages(sizeof(BigBlock) + need);
  const size_t was_mapped = block->mapped;  // the old address is gone once it moves
  void* grown = nullptr;
  if (rt::catch_codes(rt::kCatchVirtualMemory, [&] {
        grown = platform::virtual_grow(block, was_mapped, mapped);
      })) {
    out_of_memory();
  }
  memory.total += mapped - was_mapped;
  block = static_cast<BigBlock*>(grown);
  platform::allow_huge_pages(block, mapped);
  prefault_bounded(reinterpret_cast<char*>(block) + was_mapped, mapped - was_mapped);
  block->size = need;
  block->mapped = mapped;
  if (block->prev) block->prev->next = block;
  else memory.first_big = block;
  if (block->next) block->next->prev = block;
  else memory.last_big = block;
  s = block->series();
  s->capacity = size;
  node_table[node] = reinterpret_cast<uintptr_t>(s);
  relocations++;
  return s;
}

}  // namespace

Series* expand_series(uint32_t node, uint32_t new_capacity) {
  if (Series* grown = grow_big_block(node, new_capacity)) return grown;
  auto [old, fresh] = relink(node, new_capacity);
  copy_from_head(old, fresh);
  give_up(old);
  return fresh;
}

uint8_t* reserve_bytes(uint32_t node, uint32_t n) {
  Series* s = series_of(node);
  uint64_t needed = uint64_t(s->tail) + n;
  if (needed > s->capacity) {
    uint64_t grown = s->capacity < n ? uint64_t(s->capacity) + 2 * uint64_t(n)
                                     : uint64_t(s->capacity) * 2;
    if (grown < needed) grown = needed;
    if (grown > kMaxCapacity) rt::fire_error("internal", "no-memory");
    s = expand_series(node, static_cast<uint32_t>(grown));
  }
  uint8_t* old_tail = s->tail_ptr();
  s->tail += n;
  return old_tail;
}

Series* expand_series_filled(uint32_t node, uint32_t new_capacity, uint8_t byte) {
  auto [old, fresh] = relink(node, new_capacity);
  uint32_t copied = copy_from_head(old, fresh);
  std::memset(fresh->data() + copied, byte, fresh->capacity - copied);
  give_up(old);
  return fresh;
}

uint32_t copy_series(uint32_t node) {
  uint32_t capacity = series_of(node)->capacity;
  uint32_t copy = new_series(capacity, 1, 0);
  Series* from = series_of(node);
  Series* to = series_of(copy);
  carry_flags(to, from);
  to->tail = from->used();
  copy_from_head(from, to);
  return copy;
}

// --- Virtual memory ------------------------------------------------------------------------------

void* virtual_alloc(size_t size, size_t* mapped) {
  size_t bytes = round_to_pages(size);
  void* block = nullptr;
  if (rt::catch_codes(rt::kCatchVirtualMemory,
                      [&] { block = platform::virtual_alloc(bytes, false); })) {
    out_of_memory();
  }
  memory.total += bytes;
  *mapped = bytes;
  return block;
}

void virtual_free(void* block, size_t mapped) {
  memory.total -= mapped;
  if (rt::catch_codes(rt::kCatchVirtualMemory,
                      [&] { platform::virtual_free(block, mapped); })) {
    rt::fire_error("internal", "wrong-mem");
  }
}

SeriesFrame* new_series_frame(size_t need) {
  if (need >= memory.next_frame_size) memory.next_frame_size = memory.max_frame_size;
  size_t size = memory.next_frame_size;
  if (memory.next_frame_size < memory.max_frame_size) {
    memory.next_frame_size = std::min(memory.next_frame_size * 2, memory.max_frame_size);
  }
  size_t mapped;
  auto* frame = static_cast<SeriesFrame*>(virtual_alloc(sizeof(SeriesFrame) + size, &mapped));
  frame->size = size;
  frame->heap = frame->area();
  frame->end = frame->area() + size;
  frame->mapped = mapped;
  frame->present = frame->area();  // the stretches come as carving reaches them
  insert_frame_by_address(frame);
  return frame;
}

void unlink_series_frame(SeriesFrame* frame) {
  unlink(frame, memory.first_frame, memory.last_frame);
  if (memory.current_frame == frame) memory.current_frame = memory.first_frame;
}

void release_series_frame(SeriesFrame* frame) {
  unlink_series_frame(frame);
  virtual_free(frame, frame->mapped);
}

void release_emptied_frames(const std::vector<SeriesFrame*>& emptied) {
  Room room = room_in_frames();
  // Free room is kept up to the live data and up to what the program carved since the last
  // collection (a few frames at most): a program that makes and drops the same amount at each
  // cycle would otherwise give frames back and map them again, a fault for every page, at every
  // collection. After a burst the room goes back at the next collection.
  const size_t carved = std::min(memory.carved_since_collect, 4 * size_t(memory.max_frame_size));
  const size_t keep = std::max(room.used, carved);
  for (SeriesFrame* frame : emptied) {
    if (room.free - frame->free_bytes() < keep) continue;  // kept, its pages still present
    room.free -= frame->free_bytes();
    release_series_frame(frame);
  }
}

void release_big_block(BigBlock* block) {
  unlink(block, memory.first_big, memory.last_big);
  virtual_free(block, block->mapped);
}

void release_empty_node_frames() {
  // Empty frames are kept up to the count of frames in use, and up to the frames the nodes made
  // since the last collection fill (16 at most): a program that makes and drops many values
  // between collections needs as many again before the next one, and making a frame writes its
  // whole free list (a fault for every page).
  uint32_t in_use = 0;
  for (int32_t n = memory.first_node_frame; n >= 0; n = node_frames[n].next) {
    if (node_frames[n].in_use > 0) in_use++;
  }
  const uint32_t made = (memory.nodes_since_collect + kNodesPerFrame - 1) / kNodesPerFrame;
  const uint32_t keep = std::max(in_use, std::min(made, 16u));
  uint32_t kept = 0;
  int32_t number = memory.first_node_frame;
  while (number >= 0) {
    int32_t next = node_frames[number].next;
    if (node_frames[number].in_use == 0 && kept++ >= keep) release_node_frame(number);
    number = next;
  }
  number = memory.first_node_frame;
  while (number >= 0 && node_frames[number].free_head == 0) number = node_frames[number].next;
  memory.current_node_frame = number >= 0 ? number : memory.first_node_frame;
}

void for_each_heap_series(void (*fn)(Series* s)) {
  for (uint32_t node : heap_series) fn(series_of(node));
}

void init() {
  // A runtime started again in a forked child inherits the former heap's frame records: the new
  // table knows none of them, so a stale node must read as not in use rather than fault.
  heap_series.clear();  // the former runtime's tracked buffers are left to the process
  reset_node_frames();
  memory = Memory{};
  memory.first_node_frame = memory.last_node_frame = memory.current_node_frame = -1;
  memory.first_frame_size = kFirstFrameSize;
  memory.next_frame_size = kFirstFrameSize;
  memory.max_frame_size = kBigThreshold;
  void* table = mmap(nullptr, kNodeTableBytes, PROT_NONE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (table == MAP_FAILED) out_of_memory();
  node_table = static_cast<uintptr_t*>(table);
  memory.current_node_frame = make_node_frame();
  memory.current_frame = new_series_frame(0);
}

void free_all() {
  while (memory.first_big) release_big_block(memory.first_big);
  while (memory.first_frame) release_series_frame(memory.first_frame);
  for (uint32_t node : heap_series) rt::heap_free(series_of(node));
  heap_series.clear();
  if (node_table) munmap(node_table, kNodeTableBytes);
  node_table = nullptr;
  reset_node_frames();
  memory = Memory{};
}

}  // namespace alloc
