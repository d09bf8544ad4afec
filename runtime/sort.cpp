// The sorting core (runtime/sort.h). The stable sort cuts the range into natural runs, extends
// short ones by insertion and merges them in the order of the powersort rule, so that merges stay
// balanced; the quicksort partitions three ways, so runs of equal records cost nothing further.
#include "runtime/sort.h"

#include <cstring>
#include <memory>

#include "runtime/heap.h"
#include "runtime/present.h"
#include "runtime/throw.h"

namespace sort {

namespace {

// The range being sorted and how its records are ordered.
struct Context {
  size_t size;
  bool bytewise;
  void* arg1;
  void* arg2;
  Compare compare;
  uint8_t* at(uint8_t* base, size_t i) const { return base + i * size; }
  int32_t order(const uint8_t* a, const uint8_t* b) const { return compare(a, b, arg1, arg2); }
  void swap(uint8_t* a, uint8_t* b) const { swap_records(a, b, size, bytewise); }
};

// Records of one int32 key and a uint32 index, ordered by the key alone: the comparison inline.
struct KeyContext {
  static constexpr size_t size = 8;
  uint8_t* at(uint8_t* base, size_t i) const { return base + i * size; }
  int32_t order(const uint8_t* a, const uint8_t* b) const {
    int32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    return (x > y) - (x < y);
  }
  void swap(uint8_t* a, uint8_t* b) const {
    uint64_t x, y;
    std::memcpy(&x, a, size);
    std::memcpy(&y, b, size);
    std::memcpy(a, &y, size);
    std::memcpy(b, &x, size);
  }
};

constexpr size_t kMinRun = 24;
constexpr size_t kInsertionLimit = 7;

// Reverses records [first, last) in place.
template <class C>
void reverse(const C& c, uint8_t* first, uint8_t* last) {
  while (first + c.size < last) {
    last -= c.size;
    c.swap(first, last);
    first += c.size;
  }
}

// The end of the natural run at start. A strictly descending run is reversed, which keeps equal
// records in their order.
template <class C>
uint8_t* find_run(const C& c, uint8_t* start, uint8_t* end) {
  uint8_t* next = start + c.size;
  if (next >= end) return end;
  if (c.order(start, next) < 1) {
    while (next + c.size < end && c.order(next, next + c.size) < 1) next += c.size;
    return next + c.size;
  }
  while (next + c.size < end && c.order(next, next + c.size) >= 1) next += c.size;
  reverse(c, start, next + c.size);
  return next + c.size;
}

// Insertion of records [sorted_end, end) into the sorted records [start, sorted_end).
template <class C>
void insert_rest(const C& c, uint8_t* start, uint8_t* sorted_end, uint8_t* end) {
  for (uint8_t* p = sorted_end; p < end; p += c.size) {
    for (uint8_t* q = p; q > start && c.order(q - c.size, q) >= 1; q -= c.size) {
      c.swap(q - c.size, q);
    }
  }
}

// Merges the adjacent sorted runs [a, b) and [b, e) stably through the scratch buffer, which
// receives the shorter run.
template <class C>
void merge_runs(const C& c, uint8_t* a, uint8_t* b, uint8_t* e, uint8_t* scratch) {
  size_t left = size_t(b - a), right = size_t(e - b);
  if (right < left) {
    std::memcpy(scratch, b, right);
    uint8_t* out = e;
    uint8_t* l = b;                // one past the left run's last unmerged record
    uint8_t* s = scratch + right;  // one past the scratch's last unmerged record
    while (l > a && s > scratch) {
      out -= c.size;
      if (c.order(l - c.size, s - c.size) >= 1) {
        l -= c.size;
        std::memmove(out, l, c.size);
      } else {
        s -= c.size;
        std::memcpy(out, s, c.size);
      }
    }
    std::memcpy(a + (l - a), scratch, size_t(s - scratch));
    return;
  }
  std::memcpy(scratch, a, left);
  uint8_t* out = a;
  uint8_t* s = scratch;
  uint8_t* s_end = scratch + left;
  uint8_t* r = b;
  while (s < s_end && r < e) {
    if (c.order(s, r) >= 1) {
      std::memmove(out, r, c.size);
      r += c.size;
    } else {
      std::memcpy(out, s, c.size);
      s += c.size;
    }
    out += c.size;
  }
  std::memcpy(out, s, size_t(s_end - s));
}

// The powersort power of the boundary between runs [a, b) and [b, e), in record indexes.
int power_of(size_t a, size_t b, size_t e, size_t n) {
  uint64_t l = uint64_t(a) + b, r = uint64_t(b) + e;
  int power = 0;
  for (;;) {
    power++;
    bool l_high = l >= n, r_high = r >= n;
    if (l_high != r_high) return power;
    if (l_high) {
      l -= n;
      r -= n;
    }
    l *= 2;
    r *= 2;
  }
}

struct HeapFree {
  void operator()(void* p) const { rt::heap_free(p); }
};

// --- Quicksort -----------------------------------------------------------------------------------

template <class C>
void insertion_sort(const C& c, uint8_t* base, size_t n) {
  for (size_t i = 1; i < n; i++) {
    for (size_t j = i; j > 0 && c.order(c.at(base, j - 1), c.at(base, j)) > 0; j--) {
      c.swap(c.at(base, j - 1), c.at(base, j));
    }
  }
}

// Sorts n records: the median of three as pivot, a three-way partition, the smaller side by
// recursion and the larger by the loop, so the depth stays logarithmic.
template <class C>
void quick_sort_range(const C& c, uint8_t* base, size_t n) {
  while (n > kInsertionLimit) {
    // The median of the first, middle and last records goes to position 0.
    uint8_t* first = base;
    uint8_t* mid = c.at(base, n / 2);
    uint8_t* last = c.at(base, n - 1);
    if (c.order(first, mid) > 0) c.swap(first, mid);
    if (c.order(mid, last) > 0) c.swap(mid, last);
    if (c.order(first, mid) > 0) c.swap(first, mid);
    c.swap(first, mid);
    // Invariant: [1, lt) below the pivot, [lt, i) equal, (gt, n) above; the pivot at 0.
    size_t lt = 1, i = 1, gt = n - 1;
    while (i <= gt) {
      int32_t o = c.order(c.at(base, i), base);
      if (o < 0) {
        if (lt != i) c.swap(c.at(base, lt), c.at(base, i));
        lt++;
        i++;
      } else if (o > 0) {
        if (i != gt) c.swap(c.at(base, i), c.at(base, gt));
        gt--;
      } else {
        i++;
      }
    }
    // The pivot joins the equal block: [0, lt-1) below, [lt-1, i) equal, [i, n) above.
    c.swap(base, c.at(base, lt - 1));
    size_t below = lt - 1, above_start = i, above = n - i;
    if (below < above) {
      quick_sort_range(c, base, below);
      base = c.at(base, above_start);
      n = above;
    } else {
      quick_sort_range(c, c.at(base, above_start), above);
      n = below;
    }
  }
  insertion_sort(c, base, n);
}

}  // namespace

void swap_records(void* a, void* b, size_t bytes, bool bytewise) {
  if (bytewise) {
    auto* x = static_cast<uint8_t*>(a);
    auto* y = static_cast<uint8_t*>(b);
    for (size_t i = 0; i < bytes; i++) std::swap(x[i], y[i]);
    return;
  }
  auto* x = static_cast<uint32_t*>(a);
  auto* y = static_cast<uint32_t*>(b);
  for (size_t i = 0; i < bytes / 4; i++) std::swap(x[i], y[i]);
}

namespace {

template <class C>
void stable_sort_with(const C& c, uint8_t* base, size_t count, void* scratch_in) {
  if (count < 2) return;
  std::unique_ptr<void, HeapFree> owned;
  auto* scratch = static_cast<uint8_t*>(scratch_in);
  if (!scratch) {
    uint64_t bytes = uint64_t(count / 2) * c.size;
    if (bytes > 0xFFFFFFFFu) rt::fire_error("script", "too-long");
    owned.reset(rt::heap_alloc(size_t(bytes)));
    scratch = static_cast<uint8_t*>(owned.get());
  }
  struct Entry {
    size_t start;
    int power;
  };
  Entry stack[66];
  int top = 0;
  stack[top++] = {0, 0};
  uint8_t* end = c.at(base, count);
  auto index_of = [&](const uint8_t* p) { return size_t(p - base) / c.size; };
  // The current run A = [a, b).
  size_t a = 0;
  uint8_t* run_end = find_run(c, base, end);
  size_t b = index_of(run_end);
  if (b - a < kMinRun) {
    size_t extended = std::min(count, a + kMinRun);
    insert_rest(c, base, run_end, c.at(base, extended));
    b = extended;
  }
  while (b < count) {
    uint8_t* next_end = find_run(c, c.at(base, b), end);
    size_t e = index_of(next_end);
    if (e - b < kMinRun) {
      size_t extended = std::min(count, b + kMinRun);
      insert_rest(c, c.at(base, b), next_end, c.at(base, extended));
      e = extended;
    }
    int power = power_of(a, b, e, count);
    while (stack[top - 1].power > power) {
      size_t start = stack[--top].start;
      merge_runs(c, c.at(base, start), c.at(base, a), c.at(base, b), scratch);
      a = start;
    }
    stack[top++] = {a, power};
    a = b;
    b = e;
  }
  while (top > 1) {
    size_t start = stack[--top].start;
    merge_runs(c, c.at(base, start), c.at(base, a), c.at(base, b), scratch);
    a = start;
  }
}

template <class C>
void quick_sort_with(const C& c, uint8_t* base, size_t count) {
  if (count < 2) return;
  // The pre-pass: a leading run in one direction (equal pairs belong to either) that covers the
  // whole range needs at most a reversal.
  size_t i = 0;
  int direction = 0;
  while (i + 1 < count) {
    int32_t o = c.order(c.at(base, i), c.at(base, i + 1));
    int sign = o < 0 ? -1 : o > 0 ? 1 : 0;
    if (sign != 0 && direction == 0) direction = sign;
    if (sign != 0 && sign != direction) break;
    i++;
  }
  if (i + 1 >= count) {
    // The whole range is one run: sorted already, or sorted once reversed.
    if (direction > 0) reverse(c, base, c.at(base, count));
    return;
  }
  quick_sort_range(c, base, count);
}

}  // namespace

void stable_sort(void* base, size_t count, size_t size, void* arg1, void* arg2, Compare compare,
                 void* scratch) {
  const Context c{size, size % 4 != 0, arg1, arg2, compare};
  stable_sort_with(c, static_cast<uint8_t*>(base), count, scratch);
}

void quick_sort(void* base, size_t count, size_t size, void* arg1, void* arg2, Compare compare) {
  const Context c{size, size % 4 != 0, arg1, arg2, compare};
  quick_sort_with(c, static_cast<uint8_t*>(base), count);
}

std::vector<uint32_t> sorted_order(size_t count, void* arg, Compare compare, bool stable) {
  std::vector<uint32_t> order(count);
  for (size_t i = 0; i < count; i++) order[i] = static_cast<uint32_t>(i);
  if (stable) {
    stable_sort(order.data(), count, sizeof(uint32_t), arg, nullptr, compare);
  } else {
    quick_sort(order.data(), count, sizeof(uint32_t), arg, nullptr, compare);
  }
  return order;
}

std::vector<uint32_t> sorted_order_by_keys(const std::vector<int32_t>& keys, bool stable) {
  struct Keyed {
    int32_t key;
    uint32_t index;
  };
  static_assert(sizeof(Keyed) == KeyContext::size);
  std::vector<Keyed> records(keys.size());
  for (size_t i = 0; i < keys.size(); i++) records[i] = {keys[i], uint32_t(i)};
  auto* base = reinterpret_cast<uint8_t*>(records.data());
  if (stable) {
    stable_sort_with(KeyContext{}, base, records.size(), nullptr);
  } else {
    quick_sort_with(KeyContext{}, base, records.size());
  }
  std::vector<uint32_t> order(records.size());
  for (size_t i = 0; i < records.size(); i++) order[i] = records[i].index;
  return order;
}

void radix_sort(uint32_t* keys, size_t n) {
  if (n < 2) return;
  std::vector<size_t> counts(4 * 256, 0);
  for (size_t i = 0; i < n; i++) {
    const uint32_t k = keys[i];
    counts[k & 0xFF]++;
    counts[256 + ((k >> 8) & 0xFF)]++;
    counts[512 + ((k >> 16) & 0xFF)]++;
    counts[768 + (k >> 24)]++;
  }
  rt::PresentVector<uint32_t> other(n);
  uint32_t* from = keys;
  uint32_t* to = other.data();
  for (int pass = 0; pass < 4; pass++) {
    size_t* count = counts.data() + pass * 256;
    int shift = pass * 8;
    if (count[(from[0] >> shift) & 0xFF] == n) continue;  // one digit for all: nothing moves
    size_t sum = 0;
    for (int digit = 0; digit < 256; digit++) {
      size_t c = count[digit];
      count[digit] = sum;
      sum += c;
    }
    for (size_t i = 0; i < n; i++) {
      uint32_t k = from[i];
      to[count[(k >> shift) & 0xFF]++] = k;
    }
    std::swap(from, to);
  }
  if (from != keys) std::memcpy(keys, from, n * sizeof(uint32_t));
}

}  // namespace sort
