// The text side of the set natives (unique, union, intersect, exclude, difference) for string!:
// records of skip code units, kept in first-seen order, each compared by its first code point
// (folded to upper case unless case-sensitive). Relies on the rooting rule of runtime/gc.h: the
// result sits on the data stack and every buffer is re-read by position after an append.
#include <algorithm>

#include "datatypes/constants.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"

namespace string {

namespace {

// A text from its clamped head to its tail.
struct Text {
  Cell value;  // a copy of a rooted cell: arguments[0] or [1]
  uint32_t head;
  uint32_t length;
};

Text text_of(const Cell& value) {
  uint32_t length = whole_length(value);
  int32_t index = cell::series_index_signed(value);
  uint32_t head = std::min(uint32_t(std::max(index, 0)), length);
  Cell at = value;
  cell::set_series_index(at, head);
  return {at, head, length};
}

// One pass over the source's records: those whose first code point starts a record of `other`
// (kept when keep_members, dropped otherwise; every record when other is null) and starts no
// record of the result yet are appended whole.
void pass(const Text& source, const Text* other, bool keep_members, const Cell& result,
          uint32_t skip, bool case_sensitive) {
  for (uint32_t i = source.head; i < source.length; i += skip) {
    uint32_t first = char_at(source.value, i);
    if (other && find_char_skip(other->value, first, skip, case_sensitive) != keep_members) {
      continue;
    }
    if (find_char_skip(result, first, skip, case_sensitive)) continue;
    uint32_t end = std::min(i + skip, source.length);
    for (uint32_t j = i; j < end; j++) append_char(cell::series_node(result), char_at(source.value, j));
  }
}

}  // namespace

void set_operation(int32_t code, bool case_sensitive, const Cell* skip_arg) {
  using namespace series;
  const uint32_t skip = uint32_t(set_skip(skip_arg));
  const bool two = code != kUnique;
  Text a = text_of(*stack::arg(0));
  Text b = two ? text_of(*stack::arg(1)) : a;
  uint32_t room = a.length - a.head + (code == kUnion ? b.length - b.head : 0);
  Cell* top = stack::top;
  // The new cell is set before the buffer is made: the collector may run meanwhile and reads it.
  Cell* result = stack::push_copy(constants::none);
  init_empty(result, room);
  switch (code) {
    case kUnique: pass(a, nullptr, true, *result, skip, case_sensitive); break;
    case kUnion:
      pass(a, nullptr, true, *result, skip, case_sensitive);
      pass(b, nullptr, true, *result, skip, case_sensitive);
      break;
    case kIntersect: pass(a, &b, true, *result, skip, case_sensitive); break;
    case kExclude: pass(a, &b, false, *result, skip, case_sensitive); break;
    default:  // kDifference
      pass(a, &b, false, *result, skip, case_sensitive);
      pass(b, &a, false, *result, skip, case_sensitive);
      break;
  }
  *stack::arg(0) = *result;
  stack::top = top;
}

}  // namespace string
