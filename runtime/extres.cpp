// External resources: a pool of three-field records on the tracked heap, chained into a live
// list and a free list by index, so an index stays valid when the pool grows.
#include "runtime/extres.h"

#include "runtime/heap.h"

namespace extres {

namespace {

constexpr int kMaxKinds = 20;
constexpr uint32_t kKindMask = 0xFF;
constexpr uint32_t kMarked = 0x80000000;
constexpr uint32_t kFreeRecord = 0x40000000;
constexpr uint32_t kInitialRecords = 1000;

struct Kind {
  const char* name;
  Release release;
};

struct Record {
  uint32_t kind;  // kind index in the low byte, mark bit on top; kFreeRecord when free
  uintptr_t payload;
  int32_t next;   // next record of the live or free list, -1 at the end
};

Kind* kinds = nullptr;
int kind_count = 0;
Record* pool = nullptr;
uint32_t pool_records = 0;
int32_t live_head = -1;
int32_t free_head = -1;

void chain_free(uint32_t from, uint32_t to) {
  for (uint32_t i = from; i < to; i++) {
    pool[i] = Record{kFreeRecord, 0, i + 1 < to ? int32_t(i + 1) : -1};
  }
  free_head = int32_t(from);
}

void release(const Record& r) {
  int kind = int(r.kind & kKindMask);
  if (kind >= 1 && kind <= kind_count && kinds[kind - 1].release) kinds[kind - 1].release(r.payload);
}

void unlink_live(int32_t index) {
  int32_t* link = &live_head;
  while (*link != -1 && *link != index) link = &pool[*link].next;
  if (*link == index) *link = pool[index].next;
}

}  // namespace

void init() {
  kinds = static_cast<Kind*>(rt::heap_alloc_zeroed(sizeof(Kind) * kMaxKinds));
  kind_count = 0;
  pool = static_cast<Record*>(rt::heap_alloc(sizeof(Record) * kInitialRecords));
  pool_records = kInitialRecords;
  chain_free(0, pool_records);
  live_head = -1;
}

int register_kind(const char* name, Release release) {
  if (kind_count == kMaxKinds) return 0;
  kinds[kind_count] = Kind{name, release};
  return ++kind_count;
}

int32_t new_record(uintptr_t payload, int kind) {
  if (free_head == -1) {
    uint32_t old = pool_records;
    pool_records *= 2;
    pool = static_cast<Record*>(rt::heap_realloc(pool, sizeof(Record) * pool_records));
    chain_free(old, pool_records);
  }
  int32_t index = free_head;
  free_head = pool[index].next;
  pool[index] = Record{uint32_t(kind) & kKindMask, payload, live_head};
  live_head = index;
  return index;
}

void replace_payload(int32_t index, uintptr_t payload) {
  Record& r = pool[index];
  if (r.payload != payload) release(r);
  r.payload = payload;
}

void free_record(int32_t index, bool release_it) {
  if (release_it) release(pool[index]);
  unlink_live(index);
  pool[index] = Record{kFreeRecord, 0, free_head};
  free_head = index;
}

bool mark_record(int32_t index, uintptr_t new_payload) {
  Record& r = pool[index];
  bool was_unmarked = !(r.kind & kMarked);
  r.kind |= kMarked;
  if (new_payload) r.payload = new_payload;
  return was_unmarked;
}

void for_each_of_kind(int kind, void (*fn)(int kind, uintptr_t payload)) {
  for (int32_t i = live_head; i != -1; i = pool[i].next) {
    if (int(pool[i].kind & kKindMask) == kind) fn(kind, pool[i].payload);
  }
}

void sweep() {
  int32_t* link = &live_head;
  while (*link != -1) {
    int32_t index = *link;
    Record& r = pool[index];
    if (r.kind & kMarked) {
      r.kind &= ~kMarked;
      link = &r.next;
      continue;
    }
    release(r);
    *link = r.next;
    r = Record{kFreeRecord, 0, free_head};
    free_head = index;
  }
}

uintptr_t payload(int32_t index) { return pool[index].payload; }
bool live(int32_t index) { return pool[index].kind != kFreeRecord; }
uint32_t pool_size() { return pool_records; }

void mark_handle_cell(const Cell& value) {
  auto index = cell::resource_record(value);
  if (index >= 0) mark_record(index);
}

}  // namespace extres
