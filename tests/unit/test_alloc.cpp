// Memory manager: size boundaries, frame growth, moves, copies and refused requests. Each test
// rebuilds the memory manager, so it runs in a child process (child_process.h).
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "child_process.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace {

using alloc::Series;

// Each test runs in a child process on a fresh memory manager with the collector off, so frame
// counts and sizes are those of a new process, and the runtime the other suites share is left
// alone.
template <class Body>
void on_fresh_memory(Body body) {
  child_process::expect_passes([&] {
    gc::enabled = false;
    rt::set_error_raiser(nullptr);  // errors by name: an error value needs the runtime
    alloc::free_all();
    alloc::init();
    body();
  });
}

int frame_count() {
  int n = 0;
  for (auto* f = alloc::memory.first_frame; f; f = f->next) n++;
  return n;
}

TEST(Alloc, CapacityBoundaryBetweenFramesAndBigBlocks) {
  on_fresh_memory([] {
    struct Case {
      uint32_t capacity;
      bool big;
    };
    const Case cases[] = {
        {alloc::kBigThreshold - 16, true},   // capacity + header = 2 MB + 8
        {alloc::kBigThreshold - 32, false},  // capacity + header = 2 MB - 8
        {alloc::kBigThreshold, true},
        {4096, false},
    };
    for (const Case& c : cases) {
      uint32_t node = alloc::new_series(c.capacity, 1);
      Series* s = alloc::series_of(node);
      EXPECT_EQ(s->capacity, c.capacity);
      EXPECT_EQ(bool(s->flags & alloc::kBig), c.big) << c.capacity;
      bool in_big_list = false;
      for (auto* b = alloc::memory.first_big; b; b = b->next) in_big_list |= b->series() == s;
      EXPECT_EQ(in_big_list, c.big) << c.capacity;
    }
  });
}

TEST(Alloc, SmallRequestSizes) {
  on_fresh_memory([] {
    struct Case {
      uint32_t node;
      uint32_t capacity;
      uint32_t unit;
    };
    const Case cases[] = {
        {alloc::new_byte_series(0), 16, 1},
        {alloc::new_unit_series(0, 4), 16, 4},
        {alloc::new_unit_series(0, 2), 16, 2},
        {alloc::new_series(1, 16), 16, 16},
        {alloc::new_series(3, 4), 16, 4},
        {alloc::new_series(17, 1), 32, 1},
    };
    for (const Case& c : cases) {
      Series* s = alloc::series_of(c.node);
      EXPECT_EQ(s->capacity, c.capacity);
      EXPECT_EQ(s->unit(), c.unit);
      EXPECT_EQ(s->node, c.node);
      EXPECT_TRUE(s->flags & alloc::kInUse);
      EXPECT_TRUE(s->flags & alloc::kMade);
      EXPECT_EQ(s->used(), 0u);
    }
  });
}

TEST(Alloc, HeadOffsetMinusOnePutsTheHeadInTheMiddle) {
  on_fresh_memory([] {
    Series* s = alloc::series_of(alloc::new_series(64, 1, -1));
    EXPECT_EQ(s->capacity, 64u);
    EXPECT_EQ(s->head, 32u);
    EXPECT_EQ(s->tail, 32u);
    EXPECT_TRUE(s->flags & alloc::kHeadInMiddle);
  });
}

TEST(Alloc, FramesGrowOneTwoTwoMegabytes) {
  on_fresh_memory([] {
    std::vector<size_t> sizes;
    for (auto* f = alloc::memory.first_frame; f; f = f->next) sizes.push_back(f->size);
    ASSERT_EQ(sizes, std::vector<size_t>{0x100000});
    // Fill until three frames exist; each request is far below the big threshold.
    while (frame_count() < 3) alloc::new_series(400000, 1);
    sizes.clear();
    for (auto* f = alloc::memory.first_frame; f; f = f->next) sizes.push_back(f->size);
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<size_t>{0x100000, 0x200000, 0x200000}));
  });
}

TEST(Alloc, RequestLargerThanTheNextFrameSizeGetsAMaximalFrame) {
  on_fresh_memory([] {
    alloc::memory.next_frame_size = 0x100000;
    alloc::memory.current_frame->heap = alloc::memory.current_frame->end;  // first frame full
    uint32_t node = alloc::new_series(1536 * 1024, 1);
    EXPECT_FALSE(alloc::series_of(node)->flags & alloc::kBig);
    EXPECT_EQ(alloc::memory.current_frame->size, 0x200000u);
    EXPECT_EQ(frame_count(), 2);
  });
}

TEST(Alloc, ExpandKeepsContentsAndGivesUpTheOldBuffer) {
  on_fresh_memory([] {
    uint32_t node = alloc::new_series(100, 1);
    Series* old = alloc::series_of(node);
    for (int i = 0; i < 100; i++) old->data()[i] = uint8_t(i * 7);
    old->tail = 100;
    uint32_t old_capacity = old->capacity;

    Series* fresh = alloc::expand_series(node);
    EXPECT_EQ(alloc::series_of(node), fresh);
    EXPECT_NE(fresh, old);
    EXPECT_EQ(fresh->capacity, old_capacity * 2);
    EXPECT_EQ(fresh->node, node);
    EXPECT_EQ(fresh->used(), 100u);
    for (int i = 0; i < 100; i++) ASSERT_EQ(fresh->head_ptr()[i], uint8_t(i * 7));
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & alloc::kInUse);
    gc::verify();
  });
}

TEST(Alloc, ExpandOfAHeadInTheMiddleBufferMovesItsElementsToTheStart) {
  on_fresh_memory([] {
    uint32_t node = alloc::new_series(64, 1, -1);
    Series* s = alloc::series_of(node);
    std::memcpy(s->head_ptr(), "abcdef", 6);
    s->tail = s->head + 6;
    Series* fresh = alloc::expand_series(node, 256);
    EXPECT_EQ(fresh->head, 0u);
    EXPECT_EQ(fresh->used(), 6u);
    EXPECT_EQ(std::memcmp(fresh->head_ptr(), "abcdef", 6), 0);
    EXPECT_FALSE(fresh->flags & alloc::kHeadInMiddle);
  });
}

TEST(Alloc, ExpandFilledFillsOnlyTheAddedSpace) {
  on_fresh_memory([] {
    uint32_t node = alloc::new_byte_series_filled(16, 0xAA);
    Series* fresh = alloc::expand_series_filled(node, 64, 0x55);
    for (int i = 0; i < 16; i++) ASSERT_EQ(fresh->data()[i], 0xAA) << i;
    for (int i = 16; i < 64; i++) ASSERT_EQ(fresh->data()[i], 0x55) << i;
  });
}

TEST(Alloc, CopyIsIndependentWithTheSameShape) {
  on_fresh_memory([] {
    uint32_t node = alloc::new_series(8, 4);
    Series* s = alloc::series_of(node);
    std::memcpy(s->data(), "0123456789abcdef", 16);
    s->tail = 16;
    uint32_t copy = alloc::copy_series(node);
    Series* c = alloc::series_of(copy);
    EXPECT_NE(copy, node);
    EXPECT_EQ(c->unit(), 4u);
    EXPECT_EQ(c->capacity, 32u);
    EXPECT_EQ(c->length(), 4u);
    EXPECT_EQ(std::memcmp(c->head_ptr(), "0123456789abcdef", 16), 0);
    c->data()[0] = 'X';
    EXPECT_EQ(alloc::series_of(node)->data()[0], '0');
  });
}

TEST(Alloc, HeapSeriesStayOutsideTheFramesAndMoveIntoThemWhenExpanded) {
  on_fresh_memory([] {
    uint32_t node = alloc::new_series_on_heap(4, 16);
    Series* s = alloc::series_of(node);
    EXPECT_TRUE(s->flags & alloc::kOnHeap);
    for (auto* f = alloc::memory.first_frame; f; f = f->next) {
      EXPECT_FALSE(reinterpret_cast<uint8_t*>(s) >= f->area() &&
                   reinterpret_cast<uint8_t*>(s) < f->end);
    }
    s->tail = 16;
    s->data()[0] = 42;
    Series* moved = alloc::expand_series(node);
    EXPECT_FALSE(moved->flags & alloc::kOnHeap);
    EXPECT_EQ(moved->data()[0], 42);
    EXPECT_EQ(moved->used(), 16u);
  });
}

TEST(Alloc, RequestsTooLargeRaiseNoMemoryInsteadOfWrapping) {
  on_fresh_memory([] {
    struct Case {
      uint32_t count;
      uint32_t unit;
    };
    const Case cases[] = {
        {0x80000000u, 1},   // above the largest capacity
        {0x40000000u, 16},  // count * unit wraps to 0 in 32 bits
        {0x10000001u, 16},  // wraps to 16 in 32 bits
        {0xFFFFFFFFu, 4},
    };
    for (const Case& c : cases) {
      rt::raised = {};
      uint32_t code = rt::catch_codes(rt::kThrowError, [&] { alloc::new_series(c.count, c.unit); });
      EXPECT_EQ(code, rt::kThrowError) << c.count << "x" << c.unit;
      ASSERT_NE(rt::raised.id, nullptr);
      EXPECT_STREQ(rt::raised.category, "internal");
      EXPECT_STREQ(rt::raised.id, "no-memory");
    }
    uint32_t node = alloc::new_byte_series(16);
    rt::raised = {};
    EXPECT_EQ(rt::catch_codes(rt::kThrowError, [&] { alloc::expand_series(node, 0xFFFFFFF0u); }),
              rt::kThrowError);
    EXPECT_STREQ(rt::raised.id, "no-memory");
  });
}

TEST(Alloc, NodesAreReusedAfterBeingFreed) {
  on_fresh_memory([] {
    uint32_t a = alloc::new_node();
    uint32_t b = alloc::new_node();
    EXPECT_NE(a, 0u);
    EXPECT_NE(a, b);
    EXPECT_TRUE(alloc::node_in_use(a));
    alloc::free_node(b);
    EXPECT_FALSE(alloc::node_in_use(b));
    EXPECT_EQ(alloc::new_node(), b);
    EXPECT_FALSE(alloc::node_in_use(0));
  });
}

TEST(Alloc, MoreNodesThanOneFrameHoldOpenASecondFrame) {
  on_fresh_memory([] {
    std::vector<uint32_t> nodes;
    for (uint32_t i = 0; i < alloc::kNodesPerFrame + 10; i++) nodes.push_back(alloc::new_node());
    std::sort(nodes.begin(), nodes.end());
    EXPECT_EQ(std::unique(nodes.begin(), nodes.end()), nodes.end());
    EXPECT_NE(alloc::memory.first_node_frame, alloc::memory.last_node_frame);
  });
}

size_t page_bytes() { return size_t(sysconf(_SC_PAGESIZE)); }

// The whole pages inside [start, start + bytes): their first address and their count.
struct Pages {
  uintptr_t from;
  size_t count;
};
Pages pages_inside(const uint8_t* start, size_t bytes) {
  const size_t page = page_bytes();
  const auto from = (reinterpret_cast<uintptr_t>(start) + page - 1) & ~(page - 1);
  const auto to = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(page - 1);
  return {from, to > from ? (to - from) / page : 0};
}
size_t inner_pages(const uint8_t* start, size_t bytes) { return pages_inside(start, bytes).count; }
// The resident ones among them, by mincore.
size_t resident_pages(const uint8_t* start, size_t bytes) {
  const Pages pages = pages_inside(start, bytes);
  if (pages.count == 0) return 0;
  std::vector<unsigned char> in_core(pages.count);
  if (mincore(reinterpret_cast<void*>(pages.from), pages.count * page_bytes(), in_core.data())) {
    return 0;
  }
  return size_t(
      std::count_if(in_core.begin(), in_core.end(), [](unsigned char c) { return c & 1; }));
}

// Whether this kernel makes pages present on request; an older one leaves them to fault.
bool kernel_makes_present() {
  const size_t page = page_bytes();
  void* p = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  const bool made = p != MAP_FAILED && madvise(p, page, MADV_POPULATE_WRITE) == 0;
  if (p != MAP_FAILED) munmap(p, page);
  return made;
}

// A buffer is filled as soon as it is made: its pages are made present with it, in one request,
// rather than one fault at a time; a very large capacity only up to a bound (32 MB), so that room
// asked for and never used costs no memory.
TEST(Alloc, PagesOfANewOrGrownBufferArePresent) {
  if (!kernel_makes_present()) GTEST_SKIP() << "the kernel leaves pages to fault";
  on_fresh_memory([] {
    constexpr uint32_t kMB = 1u << 20;
    struct Case {
      uint32_t bytes;
      uint32_t present;  // bytes from the data's start
    };
    const Case cases[] = {
        {1 * kMB, 1 * kMB},    // in a frame
        {3 * kMB, 3 * kMB},    // a big block
        {96 * kMB, 32 * kMB},  // a big block past the bound
    };
    for (const Case& c : cases) {
      const uint8_t* data = alloc::series_of(alloc::new_series(c.bytes, 1))->data();
      EXPECT_EQ(resident_pages(data, c.present - 64), inner_pages(data, c.present - 64)) << c.bytes;
      // Beyond the bound (and any huge page across it), nothing.
      if (c.present < c.bytes) {
        EXPECT_EQ(resident_pages(data + 40 * kMB, kMB), 0u) << c.bytes;
      }
    }
    // A big block grown in place: the added pages as well.
    const uint32_t node = alloc::new_series(3 * kMB, 1);
    alloc::series_of(node)->tail = 3 * kMB;
    Series* grown = alloc::expand_series(node, 12 * kMB);
    ASSERT_GE(grown->capacity, 12 * kMB);
    EXPECT_EQ(resident_pages(grown->data() + 4 * kMB, 8 * kMB),
              inner_pages(grown->data() + 4 * kMB, 8 * kMB));
  });
}

// Values made and dropped between collections need their nodes again before the next one: a
// node frame left empty is kept while as many frames are in use, or as the nodes made since the
// last collection filled, and released past that.
TEST(Alloc, EmptyNodeFramesAreKeptUpToTheFramesInUse) {
  on_fresh_memory([] {
    auto frames = [] {
      int n = 0;
      for (int32_t f = alloc::memory.first_node_frame; f >= 0; f = alloc::node_frame(f).next) n++;
      return n;
    };
    // Three frames' worth of nodes; then all but one node of the first frame freed.
    std::vector<uint32_t> nodes;
    for (uint32_t i = 0; i < 3 * alloc::kNodesPerFrame; i++) nodes.push_back(alloc::new_node());
    ASSERT_EQ(frames(), 3);
    const uint32_t kept_node = nodes[0];
    for (uint32_t node : nodes) {
      if (node != kept_node) alloc::free_node(node);
    }
    // The nodes made since the last collection filled three frames: all are kept for the next
    // cycle.
    alloc::release_empty_node_frames();
    EXPECT_EQ(frames(), 3);
    // A cycle later, with none made: one frame in use, two empty; one empty frame is kept.
    alloc::memory.nodes_since_collect = 0;
    alloc::release_empty_node_frames();
    EXPECT_EQ(frames(), 2);
    EXPECT_TRUE(alloc::node_in_use(kept_node));
    // None in use: none kept.
    alloc::free_node(kept_node);
    alloc::release_empty_node_frames();
    EXPECT_EQ(frames(), 0);
  });
}

TEST(Alloc, AlignUpRoundsToAPowerOfTwo) {
  struct {
    size_t value, alignment, expected;
  } cases[] = {{17, 16, 32}, {32, 16, 32}, {0, 16, 0}, {1, 4096, 4096}, {4097, 4096, 8192}};
  for (const auto& c : cases) EXPECT_EQ(alloc::align_up(c.value, c.alignment), c.expected);
}

}  // namespace
