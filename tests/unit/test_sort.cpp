// The sorting core against std::stable_sort: random records of several sizes (bytewise and
// word-wise swaps), random orderings, and the inputs the sorts shortcut (sorted, reversed, equal).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/sort.h"

namespace {

// A record of `size` bytes: a key in byte 0, a distinct serial number in bytes 1 and 2, filler.
struct Records {
  size_t size;
  std::vector<uint8_t> bytes;
  size_t count() const { return bytes.size() / size; }
  uint8_t key(size_t i) const { return bytes[i * size]; }
  uint16_t serial(size_t i) const { return uint16_t(bytes[i * size + 1] | bytes[i * size + 2] << 8); }
};

Records make_records(std::mt19937& rng, size_t count, size_t size, int keys) {
  Records r{size, std::vector<uint8_t>(count * size)};
  for (size_t i = 0; i < count; i++) {
    uint8_t* p = &r.bytes[i * size];
    p[0] = uint8_t(rng() % uint32_t(keys));
    p[1] = uint8_t(i);
    p[2] = uint8_t(i >> 8);
    for (size_t j = 3; j < size; j++) p[j] = uint8_t(i * 7 + j);
  }
  return r;
}

// The comparators: ascending, descending, and by the key modulo a divisor (many equal records).
struct Order {
  int direction;
  int modulo;
  int32_t key(uint8_t k) const { return modulo ? k % modulo : k; }
  bool before(uint8_t a, uint8_t b) const {
    return direction > 0 ? key(a) < key(b) : key(a) > key(b);
  }
};

int32_t compare(const void* a, const void* b, void* arg1, void*) {
  const Order& o = *static_cast<const Order*>(arg1);
  uint8_t x = *static_cast<const uint8_t*>(a), y = *static_cast<const uint8_t*>(b);
  if (o.before(y, x)) return 1;
  return o.before(x, y) ? -1 : 0;
}

// Serial numbers in the order std::stable_sort gives.
std::vector<uint16_t> expected(const Records& r, const Order& o) {
  std::vector<size_t> index(r.count());
  for (size_t i = 0; i < index.size(); i++) index[i] = i;
  std::stable_sort(index.begin(), index.end(),
                   [&](size_t a, size_t b) { return o.before(r.key(a), r.key(b)); });
  std::vector<uint16_t> serials;
  for (size_t i : index) serials.push_back(r.serial(i));
  return serials;
}

std::vector<uint16_t> serials(const Records& r) {
  std::vector<uint16_t> out;
  for (size_t i = 0; i < r.count(); i++) out.push_back(r.serial(i));
  return out;
}

// Every record still whole: its filler bytes match its serial number.
void expect_whole(const Records& r) {
  for (size_t i = 0; i < r.count(); i++) {
    uint16_t s = r.serial(i);
    for (size_t j = 3; j < r.size; j++) ASSERT_EQ(r.bytes[i * r.size + j], uint8_t(s * 7 + j));
  }
}

TEST(Sort, StableSortMatchesStdStableSortOverRandomRecordsAndOrders) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; round++) {
    size_t size = std::vector<size_t>{3, 4, 5, 16, 48}[rng() % 5];
    size_t count = rng() % 3 == 0 ? rng() % 40 : rng() % 2000;
    Records r = make_records(rng, count, size, 1 + int(rng() % 60));
    Order o{rng() % 2 ? 1 : -1, int(rng() % 4)};
    if (rng() % 4 == 0) {  // presorted stretches: long natural runs
      std::vector<uint16_t> sorted_serials = expected(r, o);
      Records copy = r;
      size_t cut = count ? rng() % count : 0;
      for (size_t i = 0; i < cut; i++) {
        std::memcpy(&r.bytes[i * size], &copy.bytes[sorted_serials[i] * size], size);
      }
      for (size_t i = cut, k = 0; i < count; i++) {
        while (std::find(sorted_serials.begin(), sorted_serials.begin() + long(cut),
                         copy.serial(k)) != sorted_serials.begin() + long(cut)) k++;
        std::memcpy(&r.bytes[i * size], &copy.bytes[k * size], size);
        k++;
      }
    }
    std::vector<uint16_t> want = expected(r, o);
    sort::stable_sort(r.bytes.data(), count, size, &o, nullptr, compare);
    ASSERT_EQ(serials(r), want) << "round " << round << " size " << size << " count " << count;
    expect_whole(r);
  }
}

TEST(Sort, QuickSortOrdersEveryRecordOnce) {
  std::mt19937 rng(777);
  for (int round = 0; round < 300; round++) {
    size_t size = std::vector<size_t>{3, 4, 16}[rng() % 3];
    size_t count = rng() % 3000;
    Records r = make_records(rng, count, size, 1 + int(rng() % 300));
    Order o{rng() % 2 ? 1 : -1, int(rng() % 3)};
    if (rng() % 5 == 0) {  // sorted or reversed input
      std::vector<uint16_t> want = expected(r, o);
      Records copy = r;
      bool flip = rng() % 2;
      for (size_t i = 0; i < count; i++) {
        std::memcpy(&r.bytes[(flip ? count - 1 - i : i) * size], &copy.bytes[want[i] * size], size);
      }
    }
    std::vector<uint16_t> before = serials(r);
    sort::quick_sort(r.bytes.data(), count, size, &o, nullptr, compare);
    for (size_t i = 1; i < count; i++) ASSERT_FALSE(o.before(r.key(i), r.key(i - 1))) << round;
    std::vector<uint16_t> after = serials(r);
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    ASSERT_EQ(before, after);
    expect_whole(r);
  }
}

TEST(Sort, EqualRecordsKeepTheirOrderInsideDescendingRuns) {
  // 3 2 2 1: the descending run is reversed only where it is strict.
  uint8_t records[4][4] = {{3, 0}, {2, 1}, {2, 2}, {1, 3}};
  Order o{1, 0};
  sort::stable_sort(records, 4, 4, &o, nullptr, compare);
  EXPECT_EQ(records[0][1], 3);
  EXPECT_EQ(records[1][1], 1);
  EXPECT_EQ(records[2][1], 2);
  EXPECT_EQ(records[3][1], 0);
}

int calls = 0;
int32_t counting(const void* a, const void* b, void* arg1, void* arg2) {
  calls++;
  return compare(a, b, arg1, arg2);
}

TEST(Sort, SortedReversedAndEqualInputsCostOnePass) {
  Order o{1, 0};
  std::vector<uint8_t> up(1000), down(1000), same(1000, 5);
  for (int i = 0; i < 1000; i++) up[size_t(i)] = uint8_t(i / 4), down[size_t(i)] = uint8_t(250 - i / 4);
  for (auto* v : {&up, &same}) {
    calls = 0;
    sort::quick_sort(v->data(), v->size(), 1, &o, nullptr, counting);
    EXPECT_EQ(calls, 999);
    calls = 0;
    sort::stable_sort(v->data(), v->size(), 1, &o, nullptr, counting);
    EXPECT_EQ(calls, 999);
  }
  std::vector<uint8_t> down2 = down;
  calls = 0;
  sort::quick_sort(down.data(), down.size(), 1, &o, nullptr, counting);
  EXPECT_EQ(calls, 999);
  EXPECT_TRUE(std::is_sorted(down.begin(), down.end()));
  // Zero and one record: no comparison, nothing moves.
  calls = 0;
  sort::stable_sort(down2.data(), 0, 1, &o, nullptr, counting);
  sort::stable_sort(down2.data(), 1, 1, &o, nullptr, counting);
  sort::quick_sort(down2.data(), 1, 1, &o, nullptr, counting);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(down2[0], 250);
}

// Keys sorted inline must come out in the very order sorted_order gives with a comparator of the
// same keys, equal keys included (block sort relies on it: equal integers may differ in their
// new-line flags), stable or not, over the shortcut inputs and random ones with many duplicates.
int32_t compare_keys(const void* a, const void* b, void* arg, void*) {
  const auto& keys = *static_cast<const std::vector<int32_t>*>(arg);
  int32_t x = keys[*static_cast<const uint32_t*>(a)], y = keys[*static_cast<const uint32_t*>(b)];
  return (x > y) - (x < y);
}

TEST(Sort, KeyedOrderIsTheComparatorsOrder) {
  std::mt19937 rng(7);
  std::vector<std::vector<int32_t>> inputs = {{},           {5},
                                              {1, 2, 3, 4}, {4, 3, 2, 1},
                                              {2, 2, 2, 2, 2},
                                              {INT32_MIN, INT32_MAX, 0, -1, INT32_MIN}};
  for (size_t count : {10u, 100u, 1000u, 5000u}) {
    for (uint32_t range : {3u, 50u, 0xFFFFFFFFu}) {
      std::vector<int32_t> keys(count);
      for (int32_t& k : keys) k = int32_t(range == 0xFFFFFFFFu ? rng() : rng() % range);
      inputs.push_back(keys);
    }
  }
  for (const std::vector<int32_t>& keys : inputs) {
    for (bool stable : {false, true}) {
      std::vector<int32_t> copy = keys;
      EXPECT_EQ(sort::sorted_order_by_keys(keys, stable),
                sort::sorted_order(keys.size(), &copy, compare_keys, stable))
          << keys.size() << " keys, stable " << stable;
    }
  }
}

}  // namespace
