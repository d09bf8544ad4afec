// Growable arrays of 32-bit words: growth through the node, search by byte offset, removal.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/alloc.h"
#include "runtime/array.h"
#include "runtime/gc.h"

namespace {

std::vector<int32_t> contents(uint32_t node) {
  std::vector<int32_t> out;
  for (uint32_t i = 1; i <= array::length(node); i++) out.push_back(array::pick_int(node, i));
  return out;
}

uint32_t array_of(std::initializer_list<int32_t> values) {
  uint32_t node = alloc::new_series(4, sizeof(int32_t));
  gc::Guard guard(node);
  for (int32_t v : values) array::append_int(node, v);
  return node;
}

TEST(Array, FindOnAnEmptyArrayGivesMinusOneAndClearKeepsTheCapacity) {
  uint32_t node = alloc::new_series(8, sizeof(int32_t));
  gc::Guard guard(node);
  EXPECT_EQ(array::find_int(node, 0), -1);
  for (int32_t v : {5, 6, 7}) array::append_int(node, v);
  uint32_t capacity = alloc::series_of(node)->capacity;
  array::clear(node);
  EXPECT_EQ(array::length(node), 0u);
  EXPECT_EQ(alloc::series_of(node)->capacity, capacity);
  EXPECT_EQ(array::find_int(node, 5), -1);
}

TEST(Array, AppendingPastTheCapacityMovesTheBufferAndKeepsTheElements) {
  uint32_t node = alloc::new_series(4, sizeof(int32_t));  // 16 bytes: four elements
  gc::Guard guard(node);
  std::vector<int32_t> expected;
  for (int32_t v = 1; v <= 4; v++) {
    array::append_int(node, v * 11);
    expected.push_back(v * 11);
  }
  alloc::Series* before = alloc::series_of(node);
  EXPECT_EQ(before->capacity, 16u);
  int32_t* fifth = array::append_int(node, -5);
  expected.push_back(-5);
  alloc::Series* after = alloc::series_of(node);
  EXPECT_NE(after, before);
  EXPECT_GT(after->capacity, 16u);
  EXPECT_EQ(*fifth, -5);
  EXPECT_EQ(contents(node), expected);
  for (int32_t v = 0; v < 1000; v++) {
    array::append_int(node, v);
    expected.push_back(v);
  }
  EXPECT_EQ(contents(node), expected);
}

TEST(Array, FindReportsTheByteOffsetOfTheFirstEqualElement) {
  uint32_t node = array_of({4, -1, 9, -1, 9});
  gc::Guard guard(node);
  struct Case {
    int32_t value;
    int32_t offset;
  };
  for (const Case& c : std::vector<Case>{{4, 0}, {-1, 4}, {9, 8}, {7, -1}}) {
    EXPECT_EQ(array::find_int(node, c.value), c.offset) << c.value;
  }
}

TEST(Array, RemovingBytesMovesTheRestDown) {
  struct Case {
    uint32_t offset, count;
    std::vector<int32_t> left;
  };
  const std::vector<Case> cases = {
      {16, 4, {1, 2, 3, 4}},  // the last element: only the tail moves
      {0, 4, {2, 3, 4, 5}},
      {4, 8, {1, 4, 5}},
      {0, 20, {}},
  };
  for (const Case& c : cases) {
    uint32_t node = array_of({1, 2, 3, 4, 5});
    gc::Guard guard(node);
    alloc::Series* s = alloc::series_of(node);
    uint32_t tail = s->tail;
    array::remove_bytes(node, c.offset, c.count);
    EXPECT_EQ(contents(node), c.left) << c.offset << "+" << c.count;
    EXPECT_EQ(alloc::series_of(node)->tail, tail - c.count);
  }
}

TEST(Array, PickAndPokeCountFromOne) {
  uint32_t node = array_of({10, 20, 30});
  gc::Guard guard(node);
  array::poke_int(node, 1, -10);
  array::poke_int(node, 3, 33);
  EXPECT_EQ(contents(node), (std::vector<int32_t>{-10, 20, 33}));
  EXPECT_EQ(array::pick_int(node, 2), 20);
}

}  // namespace
