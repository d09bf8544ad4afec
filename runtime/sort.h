// The two general sorts of fixed-size records in a contiguous range: a stable merge sort
// (natural runs merged by the powersort rule) and an unstable quicksort that first looks for
// order already present. Both see records as raw bytes and order them through a comparator, so
// the same code sorts a block's cells, a string's code units or an array of indexes. Records
// move only by swaps and copies: a comparator must not allocate from the moving memory manager
// when the range lies in a series buffer (callers that run user code sort indexes instead).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sort {

// Below 1: a may stay before b; 1 or more: a belongs after b. The two caller arguments are
// passed through unchanged.
using Compare = int32_t (*)(const void* a, const void* b, void* arg1, void* arg2);

// Exchanges two ranges of `bytes` bytes: by 32-bit words unless `bytewise`.
void swap_records(void* a, void* b, size_t bytes, bool bytewise);

// Stable merge sort. `scratch`, when given, holds at least count / 2 records; otherwise one is
// taken from the tracked heap for the sort's duration.
void stable_sort(void* base, size_t count, size_t size, void* arg1, void* arg2, Compare compare,
                 void* scratch = nullptr);

// Unstable quicksort; sorted, reversed and all-equal inputs cost one pass. Allocates nothing.
void quick_sort(void* base, size_t count, size_t size, void* arg1, void* arg2, Compare compare);

// The order of `count` records as their indexes 0..count-1 sorted (the records themselves stay
// put), stable or not; compare receives pointers to the indexes and `arg` as its first argument.
std::vector<uint32_t> sorted_order(size_t count, void* arg, Compare compare, bool stable);

// sorted_order for records ordered by one 32-bit key each (keys[i] that of record i): the same
// comparisons and exchanges as sorted_order with a comparator of the keys, so the same result
// (equal keys included), with the keys compared inline and kept beside their indexes.
std::vector<uint32_t> sorted_order_by_keys(const std::vector<int32_t>& keys, bool stable);

// 32-bit keys in ascending order, in place, by radix (one byte per pass, a pass that would move
// nothing skipped): for records that equal keys leave indistinguishable, whose order among
// themselves no sort can show.
void radix_sort(uint32_t* keys, size_t n);

}  // namespace sort
