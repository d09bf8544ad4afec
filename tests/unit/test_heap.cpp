// The tracked heap: list order and ends, resizing, freeing, alignment and the out-of-memory
// path. The runtime itself keeps blocks on this heap, so in-process checks look at the blocks a
// test makes; emptying the whole heap happens only in child processes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/heap.h"

namespace {

using rt::heap;
using rt::HeapBlock;

// The list walked both ways; fails the test when the two walks disagree.
std::vector<HeapBlock*> walk() {
  std::vector<HeapBlock*> forward, backward;
  for (HeapBlock* b = heap.first; b; b = b->next) forward.push_back(b);
  for (HeapBlock* b = heap.last; b; b = b->prev) backward.insert(backward.begin(), b);
  EXPECT_EQ(forward, backward);
  if (!forward.empty()) {
    EXPECT_EQ(forward.front()->prev, nullptr);
    EXPECT_EQ(forward.back()->next, nullptr);
  }
  return forward;
}

bool in_list(void* p) {
  for (HeapBlock* b = heap.first; b; b = b->next)
    if (b->data() == p) return true;
  return false;
}

TEST(Heap, NewBlocksAreAppendedInOrder) {
  void* a = rt::heap_alloc(10);
  void* b = rt::heap_alloc(20);
  void* c = rt::heap_alloc(0);
  EXPECT_EQ(heap.last, rt::heap_block_of(c));
  EXPECT_EQ(rt::heap_block_of(c)->prev, rt::heap_block_of(b));
  EXPECT_EQ(rt::heap_block_of(b)->prev, rt::heap_block_of(a));
  EXPECT_EQ(rt::heap_block_of(a)->size, 10u);
  EXPECT_EQ(rt::heap_block_of(b)->size, 20u);
  walk();
  rt::heap_free(b);
  rt::heap_free(a);
  rt::heap_free(c);
}

TEST(Heap, FreeingMovesTheEndsAndRelinksNeighbours) {
  void* a = rt::heap_alloc(8);
  void* b = rt::heap_alloc(8);
  void* c = rt::heap_alloc(8);
  HeapBlock* before = rt::heap_block_of(a)->prev;

  rt::heap_free(c);  // the last block: the end moves back
  EXPECT_EQ(heap.last, rt::heap_block_of(b));
  EXPECT_EQ(rt::heap_block_of(b)->next, nullptr);

  rt::heap_free(a);  // a middle block: its neighbours meet
  EXPECT_EQ(rt::heap_block_of(b)->prev, before);
  EXPECT_EQ(before ? before->next : heap.first, rt::heap_block_of(b));
  EXPECT_FALSE(in_list(a));
  EXPECT_FALSE(in_list(c));
  walk();
  rt::heap_free(b);
  EXPECT_FALSE(in_list(b));
}

TEST(Heap, UserMemoryIsSixteenAligned) {
  for (size_t size : {0, 1, 15, 16, 17, 100, 4096, 100000}) {
    void* p = rt::heap_alloc(size);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
    rt::heap_free(p);
  }
}

TEST(Heap, ZeroedAllocationClearsReusedMemory) {
  for (int round = 0; round < 4; ++round) {
    void* dirty = rt::heap_alloc(200);
    std::memset(dirty, 0xAB, 200);
    rt::heap_free(dirty);
    auto* p = static_cast<unsigned char*>(rt::heap_alloc_zeroed(200));
    for (int i = 0; i < 200; ++i) ASSERT_EQ(p[i], 0) << i;
    rt::heap_free(p);
  }
}

TEST(Heap, ReallocOfNullAllocatesAndToZeroFrees) {
  void* p = rt::heap_realloc(nullptr, 32);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(heap.last, rt::heap_block_of(p));
  EXPECT_EQ(rt::heap_block_of(p)->size, 32u);
  EXPECT_EQ(rt::heap_realloc(p, 0), nullptr);
  EXPECT_FALSE(in_list(p));
  walk();
}

TEST(Heap, MovedBlockKeepsItsPlaceAndContents) {
  void* a = rt::heap_alloc(16);
  void* b = rt::heap_alloc(16);
  void* c = rt::heap_alloc(16);
  std::memcpy(b, "fifteen letters", 16);
  // Growing a small block to several megabytes moves it.
  void* moved = rt::heap_realloc(b, 8 << 20);
  ASSERT_NE(moved, b);
  EXPECT_STREQ(static_cast<char*>(moved), "fifteen letters");
  EXPECT_EQ(rt::heap_block_of(moved)->size, size_t{8} << 20);
  EXPECT_EQ(rt::heap_block_of(a)->next, rt::heap_block_of(moved));
  EXPECT_EQ(rt::heap_block_of(c)->prev, rt::heap_block_of(moved));
  walk();

  // As the last block, the list's end follows it.
  rt::heap_free(c);
  void* last = rt::heap_realloc(moved, 16);
  last = rt::heap_realloc(last, 16 << 20);
  EXPECT_EQ(heap.last, rt::heap_block_of(last));
  EXPECT_STREQ(static_cast<char*>(last), "fifteen letters");
  walk();
  rt::heap_free(last);
  rt::heap_free(a);
}

TEST(Heap, FreeOfUnknownPointersIsIgnored) {
  size_t blocks = walk().size();
  alignas(16) char outside[64];
  void* p = rt::heap_alloc(8);
  rt::heap_free(outside + 32);
  rt::heap_free(nullptr);
  rt::heap_free(p);
  rt::heap_free(p);  // already gone: no longer in the list
  EXPECT_EQ(walk().size(), blocks);
}

// Ends a child process with status 0 when the condition holds.
void exit_with(bool ok) { std::_Exit(ok ? 0 : 1); }

TEST(HeapDeathTest, FreeAllEmptiesTheListAndANewOneStartsFresh) {
  EXPECT_EXIT(
      {
        rt::heap_free_all();
        bool empty = heap.first == nullptr && heap.last == nullptr;
        void* p = rt::heap_alloc(5);
        HeapBlock* b = rt::heap_block_of(p);
        bool fresh = heap.first == b && heap.last == b && !b->prev && !b->next;
        rt::heap_free(p);  // the only block: both ends null again
        exit_with(empty && fresh && heap.first == nullptr && heap.last == nullptr);
      },
      testing::ExitedWithCode(0), "");
}

// Not anchored at the start: the sanitizer's allocator may warn first.
const char* const kOutOfMemory =
    "\\*\\*\\* Runtime Error 94: out of memory\n\\*\\*\\* at: [0-9A-F]{8}h\n$";

TEST(HeapDeathTest, FailedAllocationIsFatal94) {
  // The sanitizer's allocator must return null like the system's instead of stopping.
  const char* old = std::getenv("ASAN_OPTIONS");
  std::string saved = old ? old : "";
  setenv("ASAN_OPTIONS", (saved + ":allocator_may_return_null=1").c_str(), 1);
  constexpr size_t kHuge = size_t{1} << 46;
  EXPECT_EXIT(rt::heap_alloc(kHuge), testing::ExitedWithCode(94), kOutOfMemory);
  EXPECT_EXIT(rt::heap_alloc_zeroed(kHuge), testing::ExitedWithCode(94), kOutOfMemory);
  EXPECT_EXIT(rt::heap_realloc(rt::heap_alloc(8), kHuge), testing::ExitedWithCode(94),
              kOutOfMemory);
  // Sizes that leave no room for the header fail the same way instead of wrapping around.
  EXPECT_EXIT(rt::heap_alloc(SIZE_MAX - 8), testing::ExitedWithCode(94), kOutOfMemory);
  EXPECT_EXIT(rt::heap_realloc(rt::heap_alloc(8), SIZE_MAX), testing::ExitedWithCode(94),
              kOutOfMemory);
  if (old)
    setenv("ASAN_OPTIONS", saved.c_str(), 1);
  else
    unsetenv("ASAN_OPTIONS");
}

}  // namespace
