// The tracked heap over malloc/realloc/free: a doubly linked list of blocks with a header each.
// Freeing searches the list, so the layer suits long-lived or few blocks.
#include "runtime/heap.h"

#include <cstdint>
#include <cstdlib>

#include "runtime/fatal.h"

namespace rt {

HeapList heap{nullptr, nullptr};

namespace {

void append(HeapBlock* block) {
  block->prev = heap.last;
  block->next = nullptr;
  (heap.last ? heap.last->next : heap.first) = block;
  heap.last = block;
}

void unlink(HeapBlock* block) {
  (block->prev ? block->prev->next : heap.first) = block->next;
  (block->next ? block->next->prev : heap.last) = block->prev;
}

// Sizes so large that the header cannot be added count as a failed allocation.
size_t gross_size(size_t size, const void* site) {
  if (size > SIZE_MAX - sizeof(HeapBlock)) runtime_error(kFatalOutOfMemory, site);
  return size + sizeof(HeapBlock);
}

// site: the caller's call site, reported by the out-of-memory error. A zeroed block comes from
// calloc, whose large blocks are fresh zero pages: start-up's sparse tables then touch only the
// pages they write.
void* allocate(size_t size, const void* site, bool zeroed = false) {
  const size_t gross = gross_size(size, site);
  auto* block = static_cast<HeapBlock*>(zeroed ? std::calloc(1, gross) : std::malloc(gross));
  if (!block) runtime_error(kFatalOutOfMemory, site);
  block->size = size;
  block->unused = 0;
  append(block);
  return block->data();
}

}  // namespace

void* heap_alloc(size_t size) { return allocate(size, __builtin_return_address(0)); }

void* heap_alloc_zeroed(size_t size) { return allocate(size, __builtin_return_address(0), true); }

void* heap_realloc(void* p, size_t size) {
  const void* site = __builtin_return_address(0);
  if (!p) return allocate(size, site);
  if (size == 0) {
    heap_free(p);
    return nullptr;
  }
  HeapBlock* old_block = heap_block_of(p);
  auto* block = static_cast<HeapBlock*>(std::realloc(old_block, gross_size(size, site)));
  if (!block) runtime_error(kFatalOutOfMemory, site);
  block->size = size;
  // The neighbours still name the old place: point them (or the list's ends) at the new one.
  (block->prev ? block->prev->next : heap.first) = block;
  (block->next ? block->next->prev : heap.last) = block;
  return block->data();
}

void heap_free(void* p) {
  if (!p) return;
  HeapBlock* target = heap_block_of(p);
  for (HeapBlock* block = heap.first; block; block = block->next) {
    if (block == target) {
      unlink(block);
      std::free(block);
      return;
    }
  }
}

void heap_free_all() {
  HeapBlock* block = heap.first;
  while (block) {
    HeapBlock* next = block->next;
    std::free(block);
    block = next;
  }
  heap = HeapList{nullptr, nullptr};
}

}  // namespace rt
