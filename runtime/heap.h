// The tracked heap: low-level memory that is not series memory (tables, argument vectors, hook
// lists, scratch buffers). Every block is linked into one list so that all of it can be released
// in one call at exit. A failing system allocation is fatal (kFatalOutOfMemory).
#pragma once
#include <cstddef>

namespace rt {

// Header in front of every block; 32 bytes, so the caller's memory stays 16-aligned.
struct HeapBlock {
  HeapBlock* prev;
  HeapBlock* next;
  size_t size;  // bytes asked for, without the header
  size_t unused;

  void* data() { return this + 1; }
};
static_assert(sizeof(HeapBlock) == 32);

struct HeapList {
  HeapBlock* first;  // both null when the list is empty
  HeapBlock* last;
};
extern HeapList heap;

inline HeapBlock* heap_block_of(void* p) { return static_cast<HeapBlock*>(p) - 1; }

void* heap_alloc(size_t size);  // not cleared
void* heap_alloc_zeroed(size_t size);
// p null: as heap_alloc; size 0: frees p and returns null; else resizes (the block may move)
// keeping the contents up to the smaller size. p must come from this heap.
void* heap_realloc(void* p, size_t size);
void heap_free(void* p);  // a pointer that is not in the list is ignored
void heap_free_all();

}  // namespace rt
