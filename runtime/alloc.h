// The memory manager: series buffers carved from series frames (or big blocks of their own),
// reached through nodes.
//
// Buffers move (compaction, expansion); nodes never do. A node is a slot of the node table that
// holds its buffer's current address, and a buffer's header names its node back. So a value
// keeps a node index, and code keeps a node index across any call that can allocate and
// re-derives the address afterwards (alloc::series_of). See runtime/gc.h for the rooting rule.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace alloc {

// value rounded up to a multiple of alignment, a power of two.
constexpr size_t align_up(size_t value, size_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

// Series buffer header; the data follows it. head and tail are byte offsets into the data, so a
// moved buffer needs no fixing up.
struct Series {
  uint32_t flags;     // unit size in bits 0-4, then the flag bits below
  uint32_t node;      // the node that points here; 0 once the buffer is given up
  uint32_t capacity;  // data bytes, a multiple of 16
  uint32_t head;      // offset of the first element
  uint32_t tail;      // offset just past the last element
  uint32_t spare;

  uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
  uint8_t* head_ptr() { return data() + head; }
  uint8_t* tail_ptr() { return data() + tail; }
  uint32_t unit() const { return flags & kUnitMask; }
  uint32_t used() const { return tail - head; }  // bytes between head and tail
  uint32_t length() const { return used() / unit(); }

  static constexpr uint32_t kUnitMask = 0x1F;
};
static_assert(sizeof(Series) == 24);

enum SeriesFlag : uint32_t {
  kOwned = 0x00020000,        // owned by an object (series ownership)
  kOnHeap = 0x00100000,       // on the tracked heap, outside every frame; never moves
  kBig = 0x01000000,          // a big block of its own
  kMark = 0x08000000,         // collector mark
  kHeadInMiddle = 0x10000000,
  kMade = 0x20000000,         // set on every buffer
  kInUse = 0x80000000,        // cleared when the buffer is given up
};
// Flags that describe where a buffer lives, not what it holds: a moved or copied buffer keeps
// its own.
constexpr uint32_t kLocationBits = kBig | kOnHeap | kMark | kHeadInMiddle;

// The flags of a buffer made from another (a copy): the same unit and contents flags, its own
// location, and no owner (ownership is given, never inherited).
inline void carry_flags(Series* to, const Series* from) {
  to->flags = (from->flags & ~(kLocationBits | kOwned)) | (to->flags & kLocationBits);
}

constexpr uint32_t kBufferOverhead = sizeof(Series);  // header bytes in front of the data
constexpr uint32_t kBigThreshold = 0x200000;          // 2 MB: need at or above -> big block
constexpr uint32_t kFirstFrameSize = 0x100000;        // 1 MB
constexpr uint32_t kNodesPerFrame = 10000;
constexpr uint32_t kMaxCapacity = 0x7FFFFFF0;         // larger requests raise no-memory
// A series frame with less room left than this (a fifth of 256 KB) counts as full: new buffers
// are not carved from it, and compaction stops moving buffers into it.
constexpr uint32_t kUsefulFrameRoom = 52429;

// --- Nodes -----------------------------------------------------------------------------------

// The node table: one reserved virtual range; slot i holds the address of node i's buffer, or
// (next free << 1 | 1) while free. Node 0 is never used: it means "no node".
extern uintptr_t* node_table;
// Counts the relocations of buffers (a series moved or grown, the collector's compaction): an
// address into a live series whose head stays put is valid while the count stays the same.
extern uint64_t relocations;

inline Series* series_of(uint32_t node) { return reinterpret_cast<Series*>(node_table[node]); }

uint32_t new_node();
void free_node(uint32_t node);
bool node_in_use(uint32_t node);  // a taken node (valid index of a live frame, not free)

// --- Series ------------------------------------------------------------------------------------

// One allocation entry: a new buffer of capacity align16(count * unit) bytes with its node.
// head_offset is in bytes from the data start; -1 puts the head in the middle.
uint32_t new_series(uint32_t count, uint32_t unit, int64_t head_offset = 0);
uint32_t new_cell_series(uint32_t count);
uint32_t new_cell_series_unset(uint32_t count);  // every cell of the capacity set to unset!
uint32_t new_byte_series(uint32_t count);        // count 0 is taken as 16
uint32_t new_unit_series(uint32_t count, uint32_t unit);  // count 0 is 16 bytes' worth
uint32_t new_byte_series_filled(uint32_t count, uint8_t byte);
uint32_t new_series_on_heap(uint32_t count, uint32_t unit, int64_t head_offset = 0);
void set_series_flags(uint32_t node, uint32_t bits);

// Moves the node's buffer to a new one of the given capacity (0: twice the old); the contents
// are not copied. Returns the new buffer. May collect.
Series* move_series_buffer(uint32_t node, uint32_t new_capacity = 0);
// As move_series_buffer, with the elements kept (from the new buffer's data start).
Series* expand_series(uint32_t node, uint32_t new_capacity = 0);
Series* expand_series_filled(uint32_t node, uint32_t new_capacity, uint8_t byte);
// Advances the tail by n bytes, growing the buffer when needed (doubling; beyond kMaxCapacity
// raises internal/no-memory); returns the old tail address, valid until the next allocation.
// May collect.
uint8_t* reserve_bytes(uint32_t node, uint32_t n);
// A new buffer with the same flags, unit, capacity and elements.
uint32_t copy_series(uint32_t node);

// --- Frames and statistics -----------------------------------------------------------------

struct SeriesFrame {
  SeriesFrame* next;  // next higher address
  SeriesFrame* prev;
  size_t size;        // bytes of the carving area
  uint8_t* heap;      // first free byte
  uint8_t* end;       // first byte past the area
  size_t mapped;      // bytes of the whole mapping
  uint8_t* present;   // the area's pages below it were made present (a hint: the stress mode's
                      // collection moves data above it, whose pages then fault as usual)

  uint8_t* area() { return reinterpret_cast<uint8_t*>(this + 1); }
  size_t free_bytes() const { return static_cast<size_t>(end - heap); }
};

// Makes the frame's pages from start to a stretch past until present, in one request: the
// caller is about to fill them.
void make_present(SeriesFrame* frame, const uint8_t* start, const uint8_t* until);

struct BigBlock {
  BigBlock* next;
  BigBlock* prev;
  size_t size;    // requested bytes (header and data of the buffer)
  size_t mapped;  // bytes of the whole mapping
  Series* series() { return reinterpret_cast<Series*>(this + 1); }
};

// Node frame k owns the node indexes [k * kNodeStride, k * kNodeStride + capacity).
struct NodeFrame {
  int32_t next;        // frame number of the next frame in the list, -1 at the end
  int32_t prev;
  uint32_t capacity;   // nodes
  uint32_t free_head;  // first free node, 0 when full
  uint32_t in_use;
  bool live;
};

struct Memory {
  size_t total;  // bytes of virtual memory held
  int32_t first_node_frame, last_node_frame, current_node_frame;
  SeriesFrame* first_frame;
  SeriesFrame* current_frame;
  SeriesFrame* last_frame;
  uint32_t first_frame_size;
  uint32_t next_frame_size;
  uint32_t max_frame_size;
  BigBlock* first_big;
  BigBlock* last_big;
  size_t big_since_collect;  // bytes of big blocks made or grown since the last collection
  // Bytes carved in frames and nodes made since the last collection: what the program will most
  // likely need again before the next one, so the collection keeps room for it.
  size_t carved_since_collect;
  uint32_t nodes_since_collect;
};
extern Memory memory;

constexpr uint32_t kNodeStride = 16384;
constexpr int32_t kMaxNodeFrames = 4096;
NodeFrame& node_frame(int32_t number);

void init();      // the memory record, the first node frame and the first series frame
void free_all();  // at exit: every frame and big block back to the system

// Virtual memory for frames and big blocks: page-rounded, counted in memory.total. A refusal by
// the system raises internal/no-memory (or internal/wrong-mem when releasing).
void* virtual_alloc(size_t size, size_t* mapped);
void virtual_free(void* block, size_t mapped);

// The collector's hooks into the frame structures (runtime/gc.cpp).
SeriesFrame* new_series_frame(size_t need);
void unlink_series_frame(SeriesFrame* frame);
void release_series_frame(SeriesFrame* frame);
// Releases the frames a collection left empty, but keeps those without which the free room would
// fall below the live data: the next allocations would map as many new frames at once.
void release_emptied_frames(const std::vector<SeriesFrame*>& emptied);
void release_big_block(BigBlock* block);
void release_empty_node_frames();
void for_each_heap_series(void (*fn)(Series* s));

}  // namespace alloc
