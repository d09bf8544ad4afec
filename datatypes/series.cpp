// series!: positions and the actions every series type shares, on raw element bytes of the
// buffer's width. Single results are boxed by the series' type (a cell stays a cell, a text
// unit becomes a char!).
// Owner notifications run user code that may change or move any buffer, so each action keeps
// indexes, never addresses, across them and clamps its counts again afterwards.
#include "datatypes/series.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/cell_ops.h"
#include "datatypes/char.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/hash.h"
#include "datatypes/hashtable.h"
#include "datatypes/integer.h"
#include "datatypes/ownership.h"
#include "datatypes/pair.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/rng.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace series {

namespace {

using alloc::Series;

inline int32_t head_of(const Cell& value) { return cell::series_index_signed(value); }
// The head as an index into the buffer: one before the first element counts as the first.
inline int32_t start_of(const Cell& value) { return std::max(head_of(value), 0); }

// Element i counted from the buffer's first element.
inline uint8_t* element(Series* s, int64_t i) { return s->head_ptr() + (i << unit_shift(s)); }
inline void set_length(Series* s, int64_t n) {
  s->tail = s->head + static_cast<uint32_t>(n << unit_shift(s));
}

// Whether a field word names `owned`, in any letter case.
bool is_owned_field(uint32_t symbol_id) {
  return symbol::same_canonical(symbol_id, runtime_words::symbols.owned);
}

// The element at index i as one value: block-family elements in place, text units as char!.
Cell* box_element(const Cell& value, int32_t i, Cell* out) {
  uint8_t type = cell::type_of(value);
  Series* s = cell::series_of(value);
  if (types::any_block(type) || type == TYPE_MAP) return reinterpret_cast<Cell*>(element(s, i));
  if (type == TYPE_BINARY) {
    *out = Cell{TYPE_INTEGER, 0, *element(s, i), 0};
    return out;
  }
  if (type == TYPE_VECTOR) return vector::push_element(value, i, out);
  // Unreached: image! picks through its own action (datatypes/image.cpp), never this one.
  if (type == TYPE_IMAGE) cell::fire_not_done();
  *out = char_::make(unicode::read_unit(element(s, i), s->unit()));
  return out;
}

// poke's store of one element at index i.
void store_element(const Cell& target, int32_t i, const Cell& value) {
  uint8_t type = cell::type_of(target);
  if (types::any_block(type)) {
    auto* c = reinterpret_cast<Cell*>(element(cell::series_of(target), i));
    if (type == TYPE_HASH) hashtable::remove_cell(hash::table_node_of(target), c);
    *c = value;
    if (type == TYPE_HASH) hashtable::put(hash::table_node_of(target), c);
    return;
  }
  if (type == TYPE_BINARY) {
    binary::store_byte(element(cell::series_of(target), i), value);
    return;
  }
  if (type == TYPE_VECTOR) {
    vector::store_element(target, i, value);
    return;
  }
  // Unreached: image! pokes through its own action (datatypes/image.cpp), never this one.
  if (type == TYPE_IMAGE) cell::fire_not_done();
  if (cell::type_of(value) != TYPE_CHAR) rt::fire_error("script", "invalid-arg", &value);
  string::poke_char(cell::series_node(target), element(cell::series_of(target), i),
                    char_::code_point_of(value));
}

// The buffer index pick and poke address: n counts from 1 at the head, -1 is the element just
// before it; 0 has no element.
int64_t pick_index(const Cell& value, int32_t n) {
  return int64_t(head_of(value)) + n - (n > 0 ? 1 : 0);
}

// at and skip: the new head clamped to the buffer.
void move_head(bool at_semantics) {
  Cell* value = stack::arg(0);
  const Cell* offset = stack::arg(1);
  if (cell::type_of(*offset) != TYPE_INTEGER) rt::fire_error("script", "invalid-arg", offset);
  int64_t n = integer::get_value(*offset);
  if (at_semantics && n > 0) n--;
  int64_t target = std::clamp<int64_t>(head_of(*value) + n, 0, buffer_length(*value));
  cell::set_series_index(*value, static_cast<uint32_t>(target));
}

// Sets the logic! result in place (bare header).
void logic_result(Cell* value, bool truth) { *value = Cell{TYPE_LOGIC, truth ? 1u : 0u, 0, 0}; }

// --- move ------------------------------------------------------------------------------------

[[noreturn]] void fire_move_bad(const Cell& origin, const Cell& target) {
  Cell from = cell::make_datatype(cell::type_of(origin));
  Cell to = cell::make_datatype(cell::type_of(target));
  rt::fire_error("script", "move-bad", &from, &to);
}

// Within one buffer the moved run is rotated into place: moving towards the tail it ends at the
// target element (at the tail for a tail target), towards the head it starts at the target.
Cell* move_within(Cell* origin, Cell* target, int32_t count) {
  int32_t from = start_of(*origin);
  auto inside = [&](int32_t to) { return to >= from && to < from + count; };
  if (inside(std::min(start_of(*target), buffer_length(*target)))) return target;
  bool notified = ownership::notify_owner(target, "move", origin, from, count);
  int32_t length = buffer_length(*target);
  count = std::clamp(length - from, 0, count);
  int32_t to = std::min(start_of(*target), length);
  int32_t final_index = from;
  bool hashed = cell::type_of(*target) == TYPE_HASH;
  if (count > 0 && !inside(to)) {
    Series* s = cell::series_of(*target);
    if (to > from) {
      int32_t end = to == length ? length : to + 1;
      std::rotate(element(s, from), element(s, from + count), element(s, end));
      final_index = end - count;
      if (hashed) hashtable::move_range(hash::table_node_of(*target), end - 1, from, count);
    } else {
      std::rotate(element(s, to), element(s, from), element(s, from + count));
      final_index = to;
      if (hashed) hashtable::move_range(hash::table_node_of(*target), to, from, count);
    }
  }
  if (notified) ownership::notify_owner(target, "moved", origin, final_index, count);
  return target;
}

// Between two buffers the run leaves the origin and is inserted at the target's head. Both
// owners are told: both series change.
Cell* move_between(Cell* origin, Cell* target, int32_t count) {
  uint8_t from_type = cell::type_of(*origin);
  uint8_t to_type = cell::type_of(*target);
  if (types::any_block(from_type) != types::any_block(to_type)) fire_move_bad(*origin, *target);
  if (to_type == TYPE_IMAGE) fire_move_bad(*origin, *target);  // image! has no move
  bool same_unit = cell::series_of(*origin)->unit() == cell::series_of(*target)->unit();
  bool raw_bytes = from_type == TYPE_BINARY || from_type == TYPE_VECTOR ||
                   to_type == TYPE_BINARY || to_type == TYPE_VECTOR;
  if (!same_unit && raw_bytes) fire_move_bad(*origin, *target);

  int32_t from = start_of(*origin);
  bool origin_notified = ownership::notify_owner(origin, "move", nullptr, from, count);
  bool target_notified =
      ownership::notify_owner(target, "move", origin, std::max(head_of(*target), 0), count);
  int32_t rest = rest_length(*origin, false);
  count = std::min(count, rest);
  int32_t to_length = buffer_length(*target);
  int32_t to = std::clamp(head_of(*target), 0, to_length);

  if (count > 0 && !same_unit) {
    Cell at_target = *target;
    cell::set_series_index(at_target, static_cast<uint32_t>(to));
    uint32_t bytes = static_cast<uint32_t>(count) << unit_shift(cell::series_of(*origin));
    string::move_chars(*origin, at_target, bytes);
  } else if (count > 0) {
    uint32_t shift = unit_shift(cell::series_of(*target));
    uint64_t needed = uint64_t(cell::series_of(*target)->used()) + (uint64_t(count) << shift);
    if (cell::series_of(*target)->head + needed > cell::series_of(*target)->capacity) {
      if (needed > alloc::kMaxCapacity) rt::fire_error("internal", "no-memory");
      uint64_t grown = std::min<uint64_t>(2 * needed, alloc::kMaxCapacity);
      alloc::expand_series(cell::series_node(*target), static_cast<uint32_t>(grown));
    }
    if (from_type == TYPE_HASH) hashtable::remove_range(hash::table_node_of(*origin), from, count);
    Series* ts = cell::series_of(*target);
    Series* os = cell::series_of(*origin);
    int32_t origin_length = buffer_length(*origin);
    std::memmove(element(ts, to + count), element(ts, to), size_t(to_length - to) << shift);
    std::memcpy(element(ts, to), element(os, from), size_t(count) << shift);
    set_length(ts, to_length + count);
    std::memmove(element(os, from), element(os, from + count),
                 size_t(origin_length - from - count) << shift);
    set_length(os, origin_length - count);
    hash_removed(*origin, from, count, origin_length - from - count);
    if (to_type == TYPE_HASH) {
      if (hashtable::shift_indexes(hash::table_node_of(*target), to, to_length - to, count)) {
        hashtable::rehash(hash::table_node_of(*target), to_length + count);
      } else {
        hash_put_range(*target, to, count);
      }
    }
  }
  if (origin_notified) ownership::notify_owner(origin, "moved", nullptr, from, 0);
  if (target_notified) ownership::notify_owner(target, "moved", origin, to, count);
  return target;
}

}  // namespace

uint32_t unit_shift(const alloc::Series* s) { return uint32_t(std::countr_zero(s->unit())); }

void hash_removed(const Cell& value, int32_t first, int32_t count, int32_t later) {
  if (cell::type_of(value) != TYPE_HASH || later <= 0) return;
  if (hashtable::shift_indexes(hash::table_node_of(value), first + count, later, -count)) {
    hashtable::rehash(hash::table_node_of(value), buffer_length(value));
  }
}

void hash_put_range(const Cell& value, int32_t first, int32_t count) {
  for (int32_t i = first; i < first + count; i++) {
    auto* c = reinterpret_cast<Cell*>(element(cell::series_of(value), i));
    if (hashtable::put_with_status(hash::table_node_of(value), c) == 2) return;
  }
}

// --- Positions -------------------------------------------------------------------------------

bool at_tail(const Cell& value) { return head_of(value) >= buffer_length(value); }

int32_t buffer_length(const Cell& value) {
  Series* s = cell::series_of(value);
  return static_cast<int32_t>(s->used() >> unit_shift(s));
}

bool skip_head(Cell& value, int32_t delta) {
  int64_t length = buffer_length(value);
  int64_t target = std::max<int64_t>(int64_t(head_of(value)) + delta, 0);
  if (target <= length) cell::set_series_index(value, static_cast<uint32_t>(target));
  return target >= length;
}

int32_t rest_length(Cell& value, bool whole) {
  int32_t length = buffer_length(value);
  int32_t head = whole ? 0 : std::max(head_of(value), 0);
  if (head > length) {
    cell::set_series_index(value, static_cast<uint32_t>(length));
    return 0;
  }
  return length - head;
}

void fire_invalid_refine(const Cell& refinement, const Cell& argument) {
  rt::fire_error("script", "invalid-refine-arg", &refinement, &argument);
}

int32_t set_skip(const Cell* skip) {
  if (!skip) return 1;
  if (cell::type_of(*skip) != TYPE_INTEGER || integer::get_value(*skip) < 1) {
    fire_invalid_refine(runtime_words::refinements.skip, *skip);
  }
  return integer::get_value(*skip);
}

int32_t part_count(const Cell& value, const Cell& part) {
  if (cell::type_of(part) == TYPE_INTEGER) return integer::get_value(part);
  if (cell::type_of(part) != cell::type_of(value) ||
      cell::series_node(part) != cell::series_node(value)) {
    fire_invalid_refine(runtime_words::refinements.part, part);
  }
  return head_of(part) - head_of(value);
}

SortPlan plan_sort(Cell* series, const action::SortOptions& options) {
  SortPlan plan;
  plan.head = std::clamp(head_of(*series), 0, buffer_length(*series));
  plan.count = buffer_length(*series) - plan.head;
  if (options.part) {
    int32_t n = part_count(*series, *options.part);
    if (n < 0) {
      // The elements before the head: the series moves back to their start.
      int32_t start = plan.head + n;
      plan.head = std::max(start, 0);
      plan.count = start < 0 ? 0 : -n;
      cell::set_series_index(*series, static_cast<uint32_t>(plan.head));
    } else {
      plan.count = std::min(plan.count, n);
    }
  }
  if (plan.count <= 0) return plan;
  if (options.skip) {
    int32_t value = cell::type_of(*options.skip) == TYPE_INTEGER
                        ? static_cast<int32_t>(integer::get_value(*options.skip))
                        : 0;
    if (value < 1 || value > plan.count || plan.count % value != 0) {
      fire_invalid_refine(runtime_words::refinements.skip, *options.skip);
    }
    plan.skip = value;
  }
  if (options.all && !options.skip) rt::fire_error("script", "bad-refines");
  if (Cell* compare = options.compare) {
    switch (cell::type_of(*compare)) {
      case TYPE_FUNCTION:
        plan.function = compare;
        break;
      case TYPE_INTEGER: {
        if (!options.skip || options.all) rt::fire_error("script", "bad-refines");
        int64_t field = integer::get_value(*compare);
        if (field < 1 || field > plan.skip) rt::fire_error("script", "out-of-range", compare);
        plan.field = static_cast<int32_t>(field - 1);
        break;
      }
      default:
        fire_invalid_refine(runtime_words::refinements.compare, *compare);
    }
  }
  return plan;
}

int32_t comparator_order(const Cell& answer) {
  switch (cell::type_of(answer)) {
    case TYPE_LOGIC: return logic::value_of(answer) ? 1 : -1;
    case TYPE_INTEGER: {
      int64_t value = integer::get_value(answer);
      return value < 0 ? 1 : value > 0 ? -1 : 0;
    }
    case TYPE_FLOAT: {
      double value = cell::get_double(answer);
      return value < 0.0 ? 1 : value > 0.0 ? -1 : 0;
    }
    case TYPE_NONE: return -1;
    default: return 1;
  }
}

uint32_t new_buffer(uint32_t count, uint32_t unit) {
  return alloc::new_series(std::max(count, std::max(1u, 16 / unit)), unit);
}

Cell call_comparator(const Cell& function, const Cell& first, const Cell& second) {
  const Cell arguments[] = {first, second};
  return upcall::interpreter.call_function(runtime_words::words.frame_compare_callback, function,
                                           std::span<const Cell>(arguments));
}

// --- Actions ---------------------------------------------------------------------------------

// random series: shuffled in place from its position (each element there exchanged with one
// drawn from those not yet placed); /only one element drawn from the position on, none when
// nothing remains; /seed restarts the generator from the hash of the elements' bytes.
void random(Cell* value, const action::RandomOptions& options) {
  const bool secure = options.secure;
  if (options.seed) {
    Series* s = cell::series_of(*value);
    const int32_t head = start_of(*value), length = buffer_length(*value);
    const uint32_t bytes = head < length ? uint32_t(length - head) << unit_shift(s) : 0;
    rng::seed(hashtable::murmur3(element(s, head), bytes));
    *value = constants::unset;
    return;
  }
  int32_t rest = rest_length(*value, false);
  if (options.only) {
    if (rest <= 0) {
      *value = constants::none;
      return;
    }
    const int32_t i = start_of(*value) + rng::int_range(secure, rest) - 1;
    *value = *box_element(*value, i, value);
    return;
  }
  const int32_t head = start_of(*value);
  const bool notified = ownership::notify_owner(value, "random", nullptr, head, rest);
  const int32_t count = rest_length(*value, false);  // the handler may have changed the series
  const bool hashed = cell::type_of(*value) == TYPE_HASH;
  if (hashed) hashtable::remove_range(hash::table_node_of(*value), head, count);
  Series* s = cell::series_of(*value);  // drawing never allocates: s stays valid
  const uint32_t unit = s->unit();
  for (int32_t p = 0; p < count; p++) {
    const int32_t i = rng::int_range(secure, count - p);
    if (i > 1) {
      uint8_t* a = element(s, head + p);
      std::swap_ranges(a, a + unit, element(s, head + p + i - 1));
    }
  }
  if (hashed) hash_put_range(*value, head, count);
  if (notified) ownership::notify_owner(value, "randomized", nullptr, head, rest);
}

void reflect(Cell* value, uint32_t field_symbol) {
  if (!is_owned_field(field_symbol)) cell::fire_not_done();  // reserved: the defined answer
  const Cell* owner = cell::series_of(*value)->flags & alloc::kOwned
                          ? ownership::owner_of(cell::series_node(*value))
                          : nullptr;
  *value = owner ? *owner : constants::none;
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
  if (!types::all_word(cell::type_of(*field)) || !is_owned_field(word::symbol_of(*field)))
    return value;
  if (cell::type_of(*value) == TYPE_NONE) {
    ownership::unset_owner(*target);
  } else if (cell::type_of(*value) == TYPE_BLOCK && rest_length(*value, false) >= 2) {
    const Cell* cells = cell::cells_of(cell::series_node(*value)) + head_of(*value);
    const Cell owner = cells[0];  // read before set_owner allocates
    const Cell word = cells[1];
    if (cell::type_of(owner) == TYPE_OBJECT && types::all_word(cell::type_of(word))) {
      ownership::set_owner(*target, owner, word);
    }
  }
  return value;
}

void at() { move_head(true); }
void skip() { move_head(false); }

void back() {
  Cell* value = stack::arg(0);
  if (head_of(*value) >= 1) cell::set_series_index(*value, cell::series_index(*value) - 1);
}

void next() { skip_head(*stack::arg(0), 1); }
void head() { cell::set_series_index(*stack::arg(0), 0); }
void tail() {
  cell::set_series_index(*stack::arg(0), static_cast<uint32_t>(buffer_length(*stack::arg(0))));
}
void head_q() { logic_result(stack::arg(0), head_of(*stack::arg(0)) == 0); }
void tail_q() { logic_result(stack::arg(0), at_tail(*stack::arg(0))); }
void index() { *stack::arg(0) = integer::make(head_of(*stack::arg(0)) + 1); }
int32_t length(Cell* value) { return rest_length(*value, false); }

Cell* pick(Cell* value, int32_t n, Cell*) {
  int64_t i = pick_index(*value, n);
  if (n == 0 || i < 0 || i >= buffer_length(*value)) {
    *value = constants::none;
    return value;
  }
  return box_element(*value, static_cast<int32_t>(i), value);
}

Cell* poke(Cell* value, int32_t n, Cell* new_value, Cell*) {
  int64_t i = pick_index(*value, n);
  Cell index_cell = integer::make(n);
  if (n == 0 || i < 0 || i >= buffer_length(*value)) {
    rt::fire_error("script", "out-of-range", &index_cell);
  }
  int32_t at = static_cast<int32_t>(i);
  bool notified = ownership::notify_owner(value, "poke", new_value, at, 1);
  if (at >= buffer_length(*value)) rt::fire_error("script", "out-of-range", &index_cell);
  store_element(*value, at, *new_value);
  if (notified) ownership::notify_owner(value, "poked", new_value, at, 1);
  return new_value;
}

void clear(Cell* value) {
  int32_t rest = rest_length(*value, false);
  if (rest <= 0) return;
  int32_t head = start_of(*value);
  bool notified = ownership::notify_owner(value, "clear", nullptr, head, rest);
  rest = rest_length(*value, false);
  if (rest > 0) {
    if (cell::type_of(*value) == TYPE_HASH)
      hashtable::remove_range(hash::table_node_of(*value), head, rest);
    set_length(cell::series_of(*value), head);
  }
  if (notified) ownership::notify_owner(value, "cleared", nullptr, head, 0);
}

void remove(Cell* value, Cell* part, Cell* key) {
  int32_t count = part ? part_count(*value, *part) : 1;
  if (count <= 0) return;
  if (key) {
    auto find = datatype::lookup<action::FIND>(cell::type_of(*value));
    // Unreached: every type remove takes has find (image!, which has none, is refused at
    // remove's argument check).
    if (!find) cell::fire_not_done();
    Cell* found = find(value, key, {.case_sensitive = true});
    *value = *found;
    if (cell::type_of(*value) == TYPE_NONE) return;
    count++;
  }
  int32_t head = std::max(head_of(*value), 0);
  int32_t length = buffer_length(*value);
  if (head >= length) return;
  count = std::min(count, length - head);
  bool notified = ownership::notify_owner(value, "remove", nullptr, head, count);
  length = buffer_length(*value);
  count = std::min(count, length - head);
  if (count > 0) {
    if (cell::type_of(*value) == TYPE_HASH)
      hashtable::remove_range(hash::table_node_of(*value), head, count);
    Series* s = cell::series_of(*value);
    int32_t later = length - head - count;
    std::memmove(element(s, head), element(s, head + count), size_t(later) << unit_shift(s));
    set_length(s, length - count);
    hash_removed(*value, head, count, later);
  }
  if (notified) ownership::notify_owner(value, "removed", nullptr, head, 0);
}

void reverse(Cell* value, Cell* part, Cell* skip_arg) {
  if (at_tail(*value)) return;
  int32_t count = part ? part_count(*value, *part) : rest_length(*value, false);
  if (count <= 0) return;
  int32_t record = 1;
  if (skip_arg) {
    if (cell::type_of(*skip_arg) != TYPE_INTEGER) {
      fire_invalid_refine(runtime_words::refinements.skip, *skip_arg);
    }
    record = integer::get_value(*skip_arg);
    if (record == count) return;
    if (record <= 0) rt::fire_error("script", "out-of-range", skip_arg);
    if (record > count || count % record) {
      fire_invalid_refine(runtime_words::refinements.skip, *skip_arg);
    }
  }
  // Whole records only: a part longer than the rest is cut back to the records that fit.
  auto fit = [&](int32_t n) {
    n = std::min(n, rest_length(*value, false));
    return n - n % record;
  };
  count = fit(count);
  int32_t head = start_of(*value);
  bool notified = ownership::notify_owner(value, "reverse", nullptr, head, count);
  count = fit(count);
  if (count > 0) {
    bool hashed = cell::type_of(*value) == TYPE_HASH;
    if (hashed) hashtable::remove_range(hash::table_node_of(*value), head, count);
    Series* s = cell::series_of(*value);
    size_t record_bytes = size_t(record) << unit_shift(s);
    int32_t records = count / record;
    uint8_t* first = element(s, head);
    for (int32_t i = 0; i < records / 2; i++) {
      uint8_t* a = first + i * record_bytes;
      std::swap_ranges(a, a + record_bytes, first + (records - 1 - i) * record_bytes);
    }
    if (hashed) hash_put_range(*value, head, count);
  }
  if (notified) ownership::notify_owner(value, "reversed", nullptr, head, count);
}

void copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
  const Cell source = *value;  // result may be the same cell
  int64_t length = buffer_length(source);
  int64_t start = start_of(source);
  int64_t count = std::max<int64_t>(length - start, 0);
  if (part && cell::type_of(*part) == TYPE_PAIR) {
    // x by y from the head: from element x (0 and below count back from the head), y - x of them
    int64_t x = pair::x_of(*part), y = pair::y_of(*part);
    start = std::max<int64_t>(start + (x > 0 ? x - 1 : x < 0 ? x : -1), 0);
    count = std::max<int64_t>(y - x, 0);
  } else if (part) {
    count = part_count(source, *part);
  }
  if (count < 0) {  // the elements before the head
    start += count;
    count = -count;
    if (start < 0) {
      start = 0;
      count = start_of(source);
    }
  }
  if (start > length) {
    start = length;
    count = 0;
  }
  count = std::min(count, length - start);
  *result = copy_span(source, uint32_t(start), uint32_t(count));
}

Cell copy_span(const Cell& value, uint32_t start, uint32_t count) {
  const Cell source = value;  // value may lie in a buffer the allocation moves
  Series* from = cell::series_of(source);
  uint32_t node = new_buffer(count, from->unit());
  from = cell::series_of(source);
  Series* to = alloc::series_of(node);
  alloc::carry_flags(to, from);
  std::memcpy(to->head_ptr(), element(from, start), size_t(count) << unit_shift(from));
  set_length(to, count);
  uint8_t type = cell::type_of(source);
  return Cell{type | (source.header & cell::kNewLine), 0, node,
              type == TYPE_VECTOR ? cell::series_extra(source) : 0};
}

Cell* take(Cell* value, Cell* part, bool, bool last) {
  int32_t rest = rest_length(*value, false);
  if (rest <= 0) {
    *value = constants::none;
    return value;
  }
  const Cell source = *value;  // value becomes the result
  gc::Guard keep(source);
  uint8_t type = cell::type_of(source);
  int32_t head = start_of(source);
  int32_t length = buffer_length(source);

  int64_t count = 1;
  bool before_head = false;  // a negative part takes the elements just before the head
  if (part) {
    count = part_count(source, *part);
    if (last && cell::type_of(*part) != TYPE_INTEGER) count = rest - count;
    if (count < 0) {
      before_head = true;
      count = last ? 0 : std::min<int64_t>(-count, head);
    }
  }
  int64_t start;
  if (before_head) {
    start = head - count;
  } else {
    count = std::min<int64_t>(count, rest);
    start = last ? length - count : head;
  }

  bool notified = false;
  if (count > 0) {
    notified = ownership::notify_owner(value, "take", nullptr, int32_t(start), int32_t(count));
    length = buffer_length(*value);
    if (before_head) {
      count = std::clamp<int64_t>(length - start, 0, count);
    } else {
      rest = rest_length(*value, false);
      if (rest <= 0) {
        if (notified) ownership::notify_owner(&source, "taken", nullptr, head, 0);
        *value = constants::none;
        return value;
      }
      count = std::min<int64_t>(count, rest);
      start = last ? length - count : head;
    }
  }

  // A fresh buffer for every take: the result never shares memory with what a handler (or a
  // later take) may touch before the caller has read it. The value cell holds it from the start,
  // which keeps it rooted.
  uint32_t node = new_buffer(static_cast<uint32_t>(count), cell::series_of(source)->unit());
  *value = Cell{type, 0, node, type == TYPE_VECTOR ? cell::series_extra(source) : 0};
  alloc::carry_flags(alloc::series_of(node), cell::series_of(source));
  if (count > 0) {
    if (type == TYPE_HASH)
      hashtable::remove_range(hash::table_node_of(source), uint32_t(start), uint32_t(count));
    Series* from = cell::series_of(source);
    uint32_t shift = unit_shift(from);
    std::memcpy(alloc::series_of(node)->head_ptr(), element(from, start), size_t(count) << shift);
    set_length(alloc::series_of(node), count);
    int64_t later = length - start - count;
    std::memmove(element(from, start), element(from, start + count), size_t(later) << shift);
    set_length(from, length - count);
    hash_removed(source, int32_t(start), int32_t(count), int32_t(later));
  }
  if (type == TYPE_HASH) {
    hash::set_table_node(*value, hashtable::make(uint32_t(count), node, hashtable::kHash, 0));
  }
  if (notified) ownership::notify_owner(&source, "taken", nullptr, int32_t(start), 0);
  return value;
}

Cell* move(Cell* origin, Cell* target, Cell* part) {
  if (!types::any_series(cell::type_of(*target))) cell::fire_expect_arg(*target, 1);
  if (at_tail(*origin)) return target;
  int32_t count = 1;
  if (part) {
    if (cell::type_of(*part) != TYPE_INTEGER) {
      fire_invalid_refine(runtime_words::refinements.part, *part);
    }
    count = integer::get_value(*part);
    if (count <= 0) return target;
    count = std::min(count, rest_length(*origin, false));
  }
  if (cell::series_node(*origin) == cell::series_node(*target))
    return move_within(origin, target, count);
  return move_between(origin, target, count);
}

void init() {
  using namespace action;
  using datatype::act;
  datatype::register_type(
      TYPE_SERIES,
      {act<RANDOM>(random), act<REFLECT>(reflect), act<AT>(at), act<BACK>(back),
       act<CLEAR>(clear), act<COPY>(copy), act<HEAD>(head), act<HEAD_Q>(head_q),
       act<INDEX_Q>(index), act<LENGTH_Q>(length), act<MOVE>(move), act<NEXT>(next),
       act<PICK>(pick), act<POKE>(poke), act<REMOVE>(remove), act<REVERSE>(reverse),
       act<SKIP>(skip), act<TAIL>(tail), act<TAIL_Q>(tail_q), act<TAKE>(take),
       act<MODIFY>(modify)});
}

}  // namespace series
