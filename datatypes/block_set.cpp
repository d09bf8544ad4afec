// The block side of the set natives (unique, union, intersect, exclude, difference) for block!
// and hash!: records of skip cells, kept in first-seen order, each looked up by its first cell
// through a hash table (the other series' own when it is a hash!, else one made over it).
// Relies on the rooting rule of runtime/gc.h: the result and the temporary tables sit in
// data-stack cells, and the inputs are re-read by index after every lookup and append.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/hash.h"
#include "datatypes/hashtable.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "runtime/throw.h"

namespace block {

namespace {

// A series seen as records: its (clamped) head, its length, and the hash! cell on the data stack
// whose table indexes its buffer (the series itself when it is a hash!).
struct Records {
  Cell* indexed;  // data-stack cell: keeps the table and the buffer alive
  int32_t head;
  int32_t length;
};

Records records_of(const Cell& series) {
  int32_t length = series::buffer_length(series);
  int32_t head = std::clamp(cell::series_index_signed(series), 0, length);
  Cell* indexed = stack::push_copy(series);
  if (cell::type_of(series) != TYPE_HASH) {
    uint32_t table = hashtable::make(uint32_t(length - head), cell::series_node(series),
                                     hashtable::kHash, 0);
    cell::set_type(*indexed, TYPE_HASH);
    hash::set_table_node(*indexed, table);
  }
  return {indexed, head, length};
}

// Whether a record of the series starts with a value equal to key (on a record boundary counted
// from the head). Blocks compare by content, which their identity hash cannot answer: they are
// compared one record at a time, as find/only does.
bool has_record(const Records& in, const Cell& key, int32_t skip, int32_t op) {
  if (types::any_block(cell::type_of(key))) {
    Cell wanted = key;
    for (int32_t i = in.head; i < in.length; i += skip) {
      Cell candidate = *cell_at(*in.indexed, i);  // a compare may allocate: compare copies
      if (cell::type_of(candidate) == cell::type_of(wanted) &&
          compare(&candidate, &wanted, op) == 0) {
        return true;
      }
    }
    return false;
  }
  return hashtable::find(hash::table_node_of(*in.indexed), &key, uint32_t(in.head),
                         uint32_t(skip), op, false, false) != nullptr;
}

// One pass over the source's records: those that pass the membership test against `other`
// (kept when `keep_members`, dropped otherwise; every record when other is null) and are not
// in the result yet are appended to it whole.
void pass(const Records& source, const Records* other, bool keep_members, const Records& result,
          int32_t skip, int32_t op) {
  uint32_t table = hash::table_node_of(*result.indexed);
  for (int32_t i = source.head; i < source.length; i += skip) {
    const Cell first = *cell_at(*source.indexed, i);
    if (other && has_record(*other, first, skip, op) != keep_members) continue;
    Records now = result;
    now.length = series::buffer_length(*result.indexed);
    if (has_record(now, first, skip, op)) continue;
    int32_t end = std::min(i + skip, series::buffer_length(*source.indexed));
    for (int32_t j = i; j < end; j++) {
      const Cell value = *cell_at(*source.indexed, j);
      Cell* added = append_cell(*result.indexed, value);
      hashtable::put(table, added);
    }
  }
}

}  // namespace

void set_operation(int32_t code, bool case_sensitive, const Cell* skip_arg) {
  using namespace series;
  const int32_t skip = series::set_skip(skip_arg);
  const int32_t op = case_sensitive ? action::STRICT_EQUAL : action::FIND_EQUAL;
  const bool two = code != kUnique;
  const Cell first = *stack::arg(0);
  const Cell second = two ? *stack::arg(1) : first;
  const bool hashed = cell::type_of(first) == TYPE_HASH || (two && cell::type_of(second) == TYPE_HASH);

  Cell* top = stack::top;
  Records a = records_of(first);
  Records b = two ? records_of(second) : a;
  int32_t room = a.length - a.head + (code == kUnion ? b.length - b.head : 0);
  Cell* made = push_new(std::max(room, 1));
  uint32_t table = hashtable::make(uint32_t(std::max(room, 1)), cell::series_node(*made),
                                   hashtable::kHash, 0);
  cell::set_type(*made, TYPE_HASH);
  hash::set_table_node(*made, table);
  Records result{made, 0, 0};

  switch (code) {
    case kUnique: pass(a, nullptr, true, result, skip, op); break;
    case kUnion:
      pass(a, nullptr, true, result, skip, op);
      pass(b, nullptr, true, result, skip, op);
      break;
    case kIntersect: pass(a, &b, true, result, skip, op); break;
    case kExclude: pass(a, &b, false, result, skip, op); break;
    default:  // kDifference
      pass(a, &b, false, result, skip, op);
      pass(b, &a, false, result, skip, op);
      break;
  }

  Cell out = *made;
  if (!hashed) out = Cell{TYPE_BLOCK, 0, cell::series_node(*made), 0};
  *stack::arg(0) = out;
  stack::top = top;
}

}  // namespace block
