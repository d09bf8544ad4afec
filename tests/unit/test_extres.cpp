// External resource registry: pool growth, release on sweep, payload replacement.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/extres.h"

namespace {

std::vector<uintptr_t> released;
void record_release(uintptr_t payload) { released.push_back(payload); }

class Extres : public testing::Test {
 protected:
  void SetUp() override {
    released.clear();
    kind_ = extres::register_kind("test", record_release);
    ASSERT_GT(kind_, 0);
  }
  int kind_ = 0;
};

TEST_F(Extres, PoolDoublesAndKeepsEveryIndexValid) {
  uint32_t start = extres::pool_size();
  std::vector<int32_t> indexes;
  for (uint32_t i = 0; i <= start; i++) indexes.push_back(extres::new_record(1000 + i, kind_));
  EXPECT_EQ(extres::pool_size(), start * 2);
  for (uint32_t i = 0; i < indexes.size(); i++) {
    ASSERT_TRUE(extres::live(indexes[i]));
    ASSERT_EQ(extres::payload(indexes[i]), 1000 + i);
  }
  for (int32_t index : indexes) extres::free_record(index, false);
  EXPECT_TRUE(released.empty());
}

TEST_F(Extres, ARecordMarkedOnceIsReleasedByTheNextUnmarkedSweep) {
  int32_t index = extres::new_record(77, kind_);
  EXPECT_TRUE(extres::mark_record(index));
  EXPECT_FALSE(extres::mark_record(index));  // already marked in this cycle
  extres::sweep();
  EXPECT_TRUE(released.empty());
  EXPECT_TRUE(extres::live(index));
  extres::sweep();
  EXPECT_EQ(released, std::vector<uintptr_t>{77});
  EXPECT_FALSE(extres::live(index));
}

TEST_F(Extres, ReplacingAPayloadReleasesOnlyADifferentOne) {
  int32_t index = extres::new_record(5, kind_);
  extres::replace_payload(index, 5);
  EXPECT_TRUE(released.empty());
  extres::replace_payload(index, 6);
  EXPECT_EQ(released, std::vector<uintptr_t>{5});
  EXPECT_EQ(extres::payload(index), 6u);
  extres::free_record(index, true);
  EXPECT_EQ(released, (std::vector<uintptr_t>{5, 6}));
}

TEST_F(Extres, MarkingWithAPayloadUpdatesIt) {
  int32_t index = extres::new_record(1, kind_);
  extres::mark_record(index, 2);
  EXPECT_EQ(extres::payload(index), 2u);
  extres::free_record(index, false);
}

std::vector<uintptr_t> visited;
TEST_F(Extres, ForEachVisitsOnlyLiveRecordsOfTheKind) {
  int other = extres::register_kind("other", nullptr);
  int32_t a = extres::new_record(10, kind_);
  int32_t b = extres::new_record(20, other);
  int32_t c = extres::new_record(30, kind_);
  extres::free_record(c, false);
  visited.clear();
  extres::for_each_of_kind(kind_, [](int, uintptr_t payload) { visited.push_back(payload); });
  EXPECT_EQ(visited, std::vector<uintptr_t>{10});
  extres::free_record(a, false);
  extres::free_record(b, true);  // a kind without a callback releases nothing
  EXPECT_TRUE(released.empty());
}

}  // namespace
