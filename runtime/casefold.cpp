// Case folding: direct lookup tables for the BMP, short sorted pair lists above it, and the
// uppercase/lowercase body over char! and string values. The pair lists are generated at build
// time from UnicodeData.txt; string writes go through the string layer, which widens buffers,
// and the series' owner is told of the change (datatypes/ownership.h).
#include "runtime/casefold.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/string_buffer.h"
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
  upper_table = make_table(kToUpperBmp, std::size(kToUpperBmp));
  lower_table = make_table(kToLowerBmp, std::size(kToLowerBmp));
}

uint32_t fold_char(uint32_t code_point, bool upper) {
  if (code_point < kBmpSize) {
    uint32_t mapped = (upper ? upper_table : lower_table)[code_point];
    return mapped ? mapped : code_point;
  }
  return upper ? fold_supplementary(kToUpperSupplementary, code_point)
               : fold_supplementary(kToLowerSupplementary, code_point);
}

Cell* change_case(Cell* value, const Cell* part, bool upper) {
  uint8_t type = cell::type_of(*value);
  if (type == TYPE_CHAR) {
    value->w2 = fold_char(value->w2, upper);
    return value;
  }
  if (!types::any_string(type)) return value;

  int32_t rest = series::rest_length(*value, false);  // a head past the tail: back to the tail
  // The count stops at the tail, whatever /part asks for.
  int32_t count = part ? std::clamp(series::part_count(*value, *part), 0, rest) : rest;
  Cell changed = *value;  // the cell may lie in a buffer that the widening moves
  int64_t head = std::max(static_cast<int32_t>(changed.w1), 0);
  for (int64_t i = head; i < head + count; i++) {
    // A fold that widens the buffer moves it: the address is derived again for every unit.
    alloc::Series* s = alloc::series_of(changed.w2);
    uint8_t* at = s->head_ptr() + i * s->unit();
    uint32_t code_point = unicode::read_unit(at, s->unit());
    uint32_t folded = fold_char(code_point, upper);
    if (folded != code_point) string::poke_char(changed.w2, at, folded);
  }
  ownership::notify_owner(&changed, upper ? "uppercase" : "lowercase", nullptr, 0, count);
  return value;
}

}  // namespace casefold
