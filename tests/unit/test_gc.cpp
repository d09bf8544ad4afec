// Collector: reclaiming, compacting, frame release, rooting, deep data, external resources and
// the heap verifier.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/extres.h"
#include "runtime/gc.h"

namespace {

using alloc::Series;

// A block value over the node, as the block datatype stores it.
Cell block_value(uint32_t node) { return cell::make_series(TYPE_BLOCK, node); }

void append_cell(uint32_t block, const Cell& value) {
  Series* s = alloc::series_of(block);
  ASSERT_LE(s->tail + 16, s->capacity);
  std::memcpy(s->tail_ptr(), &value, sizeof value);
  s->tail += 16;
}

uint32_t string_of(const char* text) {
  uint32_t node = alloc::new_byte_series(uint32_t(std::strlen(text)));
  Series* s = alloc::series_of(node);
  std::memcpy(s->data(), text, std::strlen(text));
  s->tail = uint32_t(std::strlen(text));
  return node;
}

std::string text_of(uint32_t node) {
  Series* s = alloc::series_of(node);
  return std::string(reinterpret_cast<char*>(s->head_ptr()), s->used());
}

int series_frame_count() {
  int n = 0;
  for (auto* f = alloc::memory.first_frame; f; f = f->next) n++;
  return n;
}

class Collector : public testing::Test {
 protected:
  void SetUp() override {
    gc::set_type_marker(TYPE_BLOCK, gc::mark_block_cell);
    gc::set_type_marker(TYPE_STRING, gc::mark_series_cell);
    gc::set_type_marker(TYPE_HANDLE, extres::mark_handle_cell);
    gc::enabled = true;
    gc::collect();
  }
};

TEST_F(Collector, ReclaimsUnreachableSeriesAndKeepsGuardedOnes) {
  uint32_t kept = string_of("kept");
  gc::Guard guard(kept);
  std::vector<uint32_t> garbage;
  for (int i = 0; i < 100; i++) garbage.push_back(string_of("garbage"));
  gc::collect();
  for (uint32_t node : garbage) EXPECT_FALSE(alloc::node_in_use(node));
  EXPECT_TRUE(alloc::node_in_use(kept));
  EXPECT_EQ(text_of(kept), "kept");
  gc::verify();
}

TEST_F(Collector, CompactionSlidesLiveBuffersOverDeadOnes) {
  gc::enabled = false;  // both made before any cycle, the dead one first
  uint32_t dead = string_of("dead buffer in front");
  uint32_t live = string_of("live buffer behind");
  gc::enabled = true;
  gc::Guard guard(live);
  Series* before = alloc::series_of(live);
  Series* dead_at = alloc::series_of(dead);
  ASSERT_LT(dead_at, before);
  gc::collect();
  Series* after = alloc::series_of(live);
  if (gc::stress() == 0) {
    EXPECT_LE(after, dead_at);  // slid down into the dead one's place
  }
  EXPECT_NE(after, before);
  EXPECT_EQ(text_of(live), "live buffer behind");
}

TEST_F(Collector, EmptiedFramesAreReleasedExceptTheLast) {
  size_t total_before = alloc::memory.total;
  gc::enabled = false;  // let the garbage spread over several frames first
  for (int i = 0; i < 40; i++) alloc::new_series(200000, 1);  // about 8 MB of garbage
  EXPECT_GT(series_frame_count(), 3);
  gc::enabled = true;
  gc::collect();
  // Room for what was carved since the last collection stays for the next cycle (a few frames);
  // with nothing carved since, the next collection gives it back.
  if (gc::stress() == 0) EXPECT_GT(series_frame_count(), 2);
  gc::collect();
  EXPECT_LE(series_frame_count(), 2);
  EXPECT_LE(alloc::memory.total, total_before + 0x200000 + 0x10000);
  gc::verify();
}

// A collection that empties frames while much data stays live keeps as much free room as live
// data: releasing it would have the next allocations map new frames (and fault their pages in)
// at once.
TEST_F(Collector, EmptiedFramesStayWhileLiveDataNeedsTheirRoom) {
  if (gc::stress()) GTEST_SKIP() << "the stress mode moves everything at every allocation";
  gc::enabled = false;
  for (int i = 0; i < 20; i++) alloc::new_series(200000, 1);  // 4 MB of garbage first
  uint32_t holder = alloc::new_cell_series(16);
  gc::Guard guard(holder);
  for (int i = 0; i < 15; i++) {  // 3 MB live behind it, slid down over the garbage
    append_cell(holder, cell::make_series(TYPE_STRING, alloc::new_series(200000, 1)));
  }
  for (int i = 0; i < 20; i++) alloc::new_series(200000, 1);  // 4 MB more garbage
  gc::enabled = true;
  gc::collect();
  gc::collect();  // the room kept for what was carved before the first goes back
  size_t used = 0, free = 0;
  for (auto* f = alloc::memory.first_frame; f; f = f->next) {
    free += f->free_bytes();
    used += f->size - f->free_bytes();
  }
  EXPECT_GE(free, used);
  EXPECT_LE(free, used + 2 * size_t(alloc::memory.max_frame_size));  // the rest went back
  const int frames = series_frame_count();
  for (int i = 0; i < 5; i++) alloc::new_series(200000, 1);  // 1 MB fits in the room kept
  EXPECT_EQ(series_frame_count(), frames);
  gc::verify();
}

TEST_F(Collector, NestedBlocksSurviveThroughTheirRoot) {
  uint32_t outer = alloc::new_cell_series(4);
  gc::Guard guard(outer);
  uint32_t inner = alloc::new_cell_series(4);
  append_cell(outer, block_value(inner));
  uint32_t text = string_of("deep text");
  append_cell(inner, cell::make_series(TYPE_STRING, text));
  for (int i = 0; i < 50; i++) string_of("noise");
  gc::collect();
  gc::collect();
  EXPECT_TRUE(alloc::node_in_use(inner));
  EXPECT_EQ(text_of(text), "deep text");
  EXPECT_EQ(alloc::series_of(inner)->length(), 1u);
}

TEST_F(Collector, AGuardedCellKeepsItsSeries) {
  Cell value = cell::make_series(TYPE_STRING, string_of("held by a cell"));
  gc::Guard guard(value);
  gc::collect();
  EXPECT_EQ(text_of(value.w2), "held by a cell");
}

TEST_F(Collector, DeeplyNestedDataIsMarkedWithoutRecursion) {
  // A chain a million blocks deep: recursive marking would exhaust the machine stack.
  uint32_t head = alloc::new_cell_series(1);
  gc::Guard guard(head);
  uint32_t last = head;
  // Under the stress mode every step is a full moving cycle, so the chain stays short there.
  const int depth = gc::stress() ? 3000 : 1000000;
  for (int i = 0; i < depth; i++) {
    uint32_t next = alloc::new_cell_series(1);
    append_cell(last, block_value(next));
    last = next;
  }
  if (gc::stress() == 0) gc::collect();  // stress mode already collected at every step
  int length = 0;
  for (uint32_t node = head; alloc::series_of(node)->used(); length++) {
    node = reinterpret_cast<Cell*>(alloc::series_of(node)->head_ptr())->w2;
    ASSERT_TRUE(alloc::node_in_use(node));
  }
  EXPECT_EQ(length, depth);
}

TEST_F(Collector, DisabledCollectorGrowsInsteadButCollectStillRuns) {
  gc::enabled = false;
  uint64_t cycles = gc::collections();
  for (int i = 0; i < 40; i++) alloc::new_series(200000, 1);
  EXPECT_EQ(gc::collections(), cycles);
  EXPECT_GT(series_frame_count(), 3);
  gc::collect();
  EXPECT_EQ(gc::collections(), cycles + 1);
  gc::collect();  // the room kept for what was carved goes back at the next collection
  EXPECT_LE(series_frame_count(), 2);
  gc::enabled = true;
}

TEST_F(Collector, FullFramesTriggerACollection) {
  uint64_t cycles = gc::collections();
  for (int i = 0; i < 200; i++) alloc::new_series(100000, 1);  // 20 MB of garbage
  EXPECT_GT(gc::collections(), cycles);
  EXPECT_LE(series_frame_count(), 4);
}

// Garbage is collected, not piled up in new frames, and with megabytes live the heap grows so
// that a collection is not run (marking all of them again) for every few kilobytes allocated.
TEST_F(Collector, GarbageIsCollectedAndALargeLiveHeapLeavesRoomToAllocate) {
  // Under the stress mode every allocation collects: there is no policy to see, and 2,000,000
  // full collections would take hours.
  if (gc::stress()) GTEST_SKIP() << "the stress mode collects at every allocation";
  constexpr int kLive = 45000;  // 2.5 MB live with its holder
  uint32_t holder = alloc::new_series(kLive * 16, 16);
  gc::Guard guard(holder);
  for (int i = 0; i < kLive; i++) {
    uint32_t text = alloc::new_series(16, 1);
    alloc::series_of(text)->tail = 16;
    append_cell(holder, cell::make_series(TYPE_STRING, text));
  }
  gc::collect();  // packs the live data: the frames' leftover room is what is left
  uint64_t cycles = gc::collections();
  for (int i = 0; i < 2000000; i++) alloc::new_series(16, 1);  // 80 MB of garbage
  EXPECT_GE(gc::collections() - cycles, 10u);
  EXPECT_LE(gc::collections() - cycles, 40u);
  EXPECT_LE(series_frame_count(), 8);
  EXPECT_EQ(alloc::series_of(holder)->used(), uint32_t(kLive * 16));
}

// Live data held in a big block is marked at every cycle as well: the room left after a
// collection grows with it, so that allocating does not collect after every two megabytes.
TEST_F(Collector, LiveDataInABigBlockLeavesRoomToAllocate) {
  if (gc::stress()) GTEST_SKIP() << "the stress mode collects at every allocation";
  constexpr uint32_t kCells = 600000;  // 9.6 MB of cells in use, far above one frame
  uint32_t holder = alloc::new_series(kCells, 16);
  gc::Guard guard(holder);
  ASSERT_TRUE(alloc::series_of(holder)->flags & alloc::kBig);
  for (uint32_t i = 0; i < kCells; i++) append_cell(holder, Cell{TYPE_INTEGER, 0, i, 0});
  gc::collect();
  uint64_t cycles = gc::collections();
  for (int i = 0; i < 2000000; i++) alloc::new_series(16, 1);  // 80 MB of garbage
  EXPECT_GE(gc::collections() - cycles, 3u);
  EXPECT_LE(gc::collections() - cycles, 12u);
  EXPECT_EQ(alloc::series_of(holder)->used(), kCells * 16);
  EXPECT_EQ(reinterpret_cast<const Cell*>(alloc::series_of(holder)->head_ptr())[kCells - 1].w2,
            kCells - 1);
}

TEST_F(Collector, BigBlocksAreSweptWithTheirOwners) {
  uint32_t kept = alloc::new_series(3 << 20, 1);
  gc::Guard guard(kept);
  alloc::series_of(kept)->data()[12345] = 99;
  alloc::new_series(3 << 20, 1);
  gc::collect();
  int big = 0;
  for (auto* b = alloc::memory.first_big; b; b = b->next) big++;
  EXPECT_EQ(big, 1);
  EXPECT_EQ(alloc::series_of(kept)->data()[12345], 99);
}

int markers_called = 0;
uint32_t marker_root = 0;
void test_marker() {
  markers_called++;
  gc::mark_node(marker_root);
}

TEST_F(Collector, MarkerCallbacksAreRootsUntilRemoved) {
  marker_root = string_of("marker root");
  gc::add_marker(test_marker);
  gc::collect();
  EXPECT_GE(markers_called, 1);
  EXPECT_EQ(text_of(marker_root), "marker root");
  gc::remove_marker(test_marker);
  int calls = markers_called;
  gc::collect();
  EXPECT_EQ(markers_called, calls);
  EXPECT_FALSE(alloc::node_in_use(marker_root));
}

int released = 0;
std::vector<uintptr_t> released_payloads;
void count_release(uintptr_t payload) {
  released++;
  released_payloads.push_back(payload);
}

TEST_F(Collector, ExternalResourcesAreReleasedWithTheirOwners) {
  int kind = extres::register_kind("test-resource", count_release);
  ASSERT_GT(kind, 0);
  released = 0;
  uint32_t owner = alloc::new_cell_series(2);
  auto guard = std::make_unique<gc::Guard>(owner);
  int32_t record = extres::new_record(0xABC, kind);
  append_cell(owner, Cell{TYPE_HANDLE, 0, 0, uint32_t(record)});
  gc::collect();
  EXPECT_EQ(released, 0);
  EXPECT_TRUE(extres::live(record));
  guard.reset();  // the owner becomes garbage
  gc::collect();
  EXPECT_EQ(released, 1);
  EXPECT_EQ(released_payloads.back(), 0xABCu);
  EXPECT_FALSE(extres::live(record));
}

TEST(CollectorDeath, VerifierReportsABrokenBackLink) {
  EXPECT_EXIT(
      {
        uint32_t node = alloc::new_byte_series(16);
        alloc::series_of(node)->node = node + 1;
        gc::verify();
      },
      testing::ExitedWithCode(98), "Heap check failed: node does not point back");
}

}  // namespace
