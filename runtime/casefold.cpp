// Case folding: direct lookup tables for the BMP and short sorted pair lists above it, generated
// at build time from UnicodeData.txt.
#include "runtime/casefold.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "runtime/alloc.h"
#include "runtime/heap.h"
#include "runtime/unicode.h"

namespace casefold {

namespace {

struct Pair {
  uint32_t from, to;
};

#include "casefold_tables.inc"

constexpr size_t kBmpSize = 0x10000;
uint32_t* upper_table = nullptr;  // indexed by code point; 0: maps to itself
uint32_t* lower_table = nullptr;

uint32_t* make_table(const Pair* pairs, size_t count) {
  auto* table = static_cast<uint32_t*>(rt::heap_alloc_zeroed(kBmpSize * sizeof(uint32_t)));
  for (size_t i = 0; i < count; i++) table[pairs[i].from] = pairs[i].to;
  return table;
}

// The lists are short and sorted: a key above the code point ends the scan.
template <size_t N>
uint32_t fold_supplementary(const Pair (&pairs)[N], uint32_t code_point) {
  if (code_point < pairs[0].from || code_point > pairs[N - 1].from) return code_point;
  for (const Pair& p : pairs) {
    if (p.from > code_point) break;
    if (p.from == code_point) return p.to;
  }
  return code_point;
}

}  // namespace

void init_tables() {
  if (upper_table) return;
  upper_table = make_table(kToUpperBmp, std::size(kToUpperBmp));
  lower_table = make_table(kToLowerBmp, std::size(kToLowerBmp));
}

uint32_t fold_char_from_tables(uint32_t code_point, bool upper) {
  if (code_point < kBmpSize) {
    static const bool made = (init_tables(), true);  // once, whichever thread folds first
    (void)made;
    uint32_t mapped = (upper ? upper_table : lower_table)[code_point];
    return mapped ? mapped : code_point;
  }
  return upper ? fold_supplementary(kToUpperSupplementary, code_point)
               : fold_supplementary(kToLowerSupplementary, code_point);
}

}  // namespace casefold
