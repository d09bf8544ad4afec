// map!: making maps (from pairs, a size or another map), putting, finding, selecting and removing
// keys, path access, reflection, printing, comparison and copies. Entries are reached by their
// index in the entry block and re-derived after every call that can allocate (rooting rule,
// runtime/gc.h); keys are found through the map's hash table (datatypes/hashtable.h).
#include "datatypes/map.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/hash.h"
#include "datatypes/hashtable.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace map {

namespace {

using action::EQUAL;
using action::SAME;
using action::STRICT_EQUAL;

// --- Entries -------------------------------------------------------------------------------------
// Entry i is the key cell at index 2i of the entry block and its value cell after it.

inline Cell* entries(const Cell& map) { return cell::cells_of(cell::series_node(map)); }
inline uint32_t entry_cells(const Cell& map) { return cell::cell_count(cell::series_node(map)); }
inline bool live(const Cell& map, int64_t key_index) {
  return entries(map)[key_index + 1].header != 0;
}
inline uint32_t key_count(const Cell& map) { return hashtable::table_of(table_node_of(map))->size; }
inline Cell entry_block(const Cell& map) {
  return cell::make_series(TYPE_BLOCK, cell::series_node(map));
}

using cell::append_text;

// --- Keys ----------------------------------------------------------------------------------------

int32_t lookup_op(bool case_flag, bool same) {
  return same ? SAME : case_flag ? STRICT_EQUAL : EQUAL;
}

// The index of the key cell that matches the key under the operator, or -1. Removed entries are
// found too, so that a key put again takes its old place. Ignoring letter case, a live key
// spelled exactly as asked comes first, then any other live one, then a removed one. slot, when
// given, receives the key's hash and free bucket. The compare implementations may allocate.
int64_t find_key(const Cell& map, const Cell& key, int32_t op,
                 hashtable::MapSlot* slot = nullptr) {
  Cell* found = hashtable::find_map_key(table_node_of(map), &key, op, slot);
  return found ? found - entries(map) : -1;
}

int64_t find_live_key(const Cell& map, const Cell& key, int32_t op) {
  int64_t index = find_key(map, key, op);
  return index >= 0 && live(map, index) ? index : -1;
}

// A stored key as scripts get it: a set-word as the word, a text or binary as a copy of its own
// (the stored one must never change under the index).
Cell handed_out_key(Cell key, bool keep_set_words) {
  uint8_t type = cell::type_of(key);
  if (type == TYPE_SET_WORD && !keep_set_words) cell::set_type(key, TYPE_WORD);
  if (types::any_string(type) || type == TYPE_BINARY) {
    datatype::call_copy(&key, &key, nullptr, false, nullptr);
  }
  return key;
}

// Stores the value under the key: a live entry takes the new value, a removed one comes back,
// any other key becomes a new entry at the tail. Putting none keeps the key. May allocate.
void put_entry(const Cell& map, Cell key, Cell value, bool case_flag) {
  gc::Guard keep_key(key);
  gc::Guard keep_value(value);
  cell::clear_new_line_flag(value.header);
  hashtable::MapSlot slot;
  int64_t at = find_key(map, key, lookup_op(case_flag, false), &slot);
  if (at >= 0) {
    Cell& slot = entries(map)[at + 1];
    // A removed entry comes back.
    if (slot.header == 0) hashtable::table_of(table_node_of(map))->size++;
    slot = value;
    return;
  }
  hashtable::check_map_key(key);
  cell::clear_new_line_flag(key.header);
  uint32_t first = entry_cells(map);
  // The pair goes to the tail in one step (the entry block grows as appending a cell grows it).
  auto* pair = reinterpret_cast<Cell*>(
      alloc::reserve_bytes(cell::series_node(map), static_cast<uint32_t>(2 * sizeof(Cell))));
  pair[0] = key;
  pair[1] = value;
  // Enters the key and stores it in its own form.
  hashtable::add_map_key(table_node_of(map), first, slot);
}

// --- Printing ------------------------------------------------------------------------------------

int32_t mold_cell(Cell value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
                  int32_t indent) {
  gc::Guard keep(value);
  return datatype::call_mold(&value, out, options.nested(), arg, part, indent);
}

// Writes each live entry as its key and value, molded, with one space between. With depth at 0
// or more every entry begins a new line indented that deep; otherwise entries are separated by
// the separator. Returns the remaining part limit.
int32_t write_entries(const Cell& map, Cell* out, action::MoldOptions options, Cell* arg,
                      int32_t part, int32_t depth, const char* separator) {
  cycles::Entry entry(cell::series_node(map));
  bool first = true;
  for (uint32_t i = 0; i + 1 < entry_cells(map) && part > 0; i += 2) {
    if (!live(map, i)) continue;
    if (depth >= 0) {
      part = append_text(out, "\n", part);
      part = cell::mold_indent(out, depth, part);
    } else if (!first) {
      part = append_text(out, separator, part);
    }
    first = false;
    part = mold_cell(entries(map)[i], out, options, arg, part, std::max(depth, 0));
    part = append_text(out, " ", part);
    part = mold_cell(entries(map)[i + 1], out, options, arg, part, std::max(depth, 0));
  }
  return part;
}

// --- Comparison ----------------------------------------------------------------------------------

bool values_equal(Cell a, Cell b, int32_t op) {
  return datatype::call_compare(&a, &b, op) == 0;
}

// Whether the other map holds the key with an equal value: strictly (case-sensitive key,
// strict-equal? values), or trying every key equal to it ignoring case until one has an
// equal? value.
bool holds_pair(const Cell& other, const Cell& key, const Cell& value, bool strict) {
  if (strict) {
    int64_t at = find_live_key(other, key, STRICT_EQUAL);
    return at >= 0 && values_equal(value, entries(other)[at + 1], STRICT_EQUAL);
  }
  hashtable::Probe probe;
  while (Cell* found = hashtable::find_next_equal(table_node_of(other), &key, probe)) {
    int64_t index = found - entries(other);
    if (live(other, index) && values_equal(value, entries(other)[index + 1], EQUAL)) return true;
  }
  return false;
}

// --- Making --------------------------------------------------------------------------------------

[[noreturn]] void fire_bad_to(const Cell& spec) {
  Cell wanted = cell::make_datatype(TYPE_MAP);
  Cell given = spec;
  rt::fire_error("script", "bad-to-arg", &wanted, &given);
}

void copy_into(const Cell& source, Cell* result) {
  uint32_t block = alloc::copy_series(cell::series_node(source));
  gc::Guard keep(block);
  uint32_t table = hashtable::copy(table_node_of(source), block);
  *result = Cell{TYPE_MAP, 0, block, table};
}

Cell* make_or_to(Cell* proto, Cell* spec, bool to) {
  const Cell source = *spec;
  switch (cell::type_of(source)) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
      Cell pairs = source;
      int32_t count = series::rest_length(pairs, false);
      if (count % 2) rt::fire_error("script", "invalid-arg", spec);
      make_at(proto, &source, static_cast<uint32_t>(count / 2));
      return proto;
    }
    case TYPE_INTEGER: case TYPE_FLOAT: {
      if (to) fire_bad_to(source);
      int32_t size = cell::get_integer_arg(source);
      if (size < 0) rt::fire_error("script", "out-of-range", spec);
      make_at(proto, nullptr, static_cast<uint32_t>(size));
      return proto;
    }
    case TYPE_MAP:
      copy_into(source, proto);
      return proto;
    default:
      fire_bad_to(source);
  }
}

// --- Actions -------------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint8_t) { return make_or_to(proto, spec, false); }
Cell* to(Cell* proto, Cell* spec, uint8_t) { return make_or_to(proto, spec, true); }

void reflect(Cell* value, uint32_t field_symbol) {
  const auto& symbols = runtime_words::symbols;
  const Cell map = *value;
  uint32_t field = symbol::resolve_alias(field_symbol);
  bool words = field == symbol::resolve_alias(symbols.words);
  bool values = field == symbol::resolve_alias(symbols.values);
  bool body = field == symbol::resolve_alias(symbols.body);
  if (!words && !values && !body) cell::fire_not_done();  // reserved fields: the defined answer
  Cell* result = block::push_new(static_cast<int32_t>(key_count(map) * (body ? 2 : 1)));
  for (uint32_t i = 0; i + 1 < entry_cells(map); i += 2) {
    if (!live(map, i)) continue;
    if (words || body) {
      Cell key = handed_out_key(entries(map)[i], body);
      gc::Guard keep(key);
      if (body) key.header |= cell::kNewLine;
      block::append_cell(*result, key);
    }
    if (values || body) block::append_cell(*result, entries(map)[i + 1]);
  }
  *value = *result;
  stack::pop_cells(1);
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  if (cycles::detect_and_emit(*value, out, &part, false)) return part;
  const Cell map = *value;
  gc::Guard keep(map);
  return write_entries(map, out, {}, arg, part, -1, "\n");
}

// "#[", each entry on a line of its own one level deeper, "]" on a line at the map's level;
// flat: the entries on one line; only: no brackets, one entry a line without indentation.
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent) {
  if (cycles::detect_and_emit(*value, out, &part, true)) return part;
  const Cell map = *value;
  gc::Guard keep(map);
  const char* separator = options.flat ? " " : "\n";
  if (options.only) return write_entries(map, out, options, arg, part, -1, separator);
  part = append_text(out, "#[", part);
  part = write_entries(map, out, options, arg, part, options.flat ? -1 : indent + 1, separator);
  if (!options.flat && key_count(map) > 0) {
    part = append_text(out, "\n", part);
    part = cell::mold_indent(out, indent, part);
  }
  return append_text(out, "]", part);
}

// A key reads its value (none when absent); with a value, the value is put under the key.
Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  const Cell map = *parent;
  gc::Guard keep(map);
  if (step.value) {
    put_entry(map, *element, *step.value, step.case_sensitive);
    return step.value;
  }
  int64_t at = find_live_key(map, *element, lookup_op(step.case_sensitive, false));
  *parent = at >= 0 ? entries(map)[at + 1] : constants::none;
  return parent;
}

// Equal maps hold the same number of live entries, each key of one found in the other with an
// equal value; orderings only tell the sizes apart.
int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_MAP) return action::kNotComparable;
  const Cell x = *a, y = *b;
  if (cell::series_node(x) == cell::series_node(y) &&
      cell::series_index(x) == cell::series_index(y)) {
    return 0;
  }
  if (op == SAME) return 1;
  uint32_t count_x = key_count(x), count_y = key_count(y);
  if (count_x != count_y) return count_x < count_y ? -1 : 1;
  if (cycles::find(cell::series_node(x))) return cycles::find(cell::series_node(y)) ? 0 : 1;
  cycles::Entry entry_x(cell::series_node(x)), entry_y(cell::series_node(y));
  bool strict = op == STRICT_EQUAL;
  for (uint32_t i = 0; i + 1 < entry_cells(x); i += 2) {
    if (!live(x, i)) continue;
    const Cell key = entries(x)[i];
    const Cell item = entries(x)[i + 1];
    if (!holds_pair(y, key, item, strict)) return 1;
  }
  return 0;
}

void copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
  if (part) series::fire_invalid_refine(runtime_words::refinements.part, *part);
  const Cell source = *value;  // result may be the same cell
  gc::Guard keep(source);
  copy_into(source, result);
}

Cell* put(Cell* map, Cell* key, Cell* value, bool case_flag) {
  put_entry(*map, *key, *value, case_flag);
  return value;
}

void clear(Cell* map) {
  hashtable::clear(table_node_of(*map));
  block::set_tail_index(entry_block(*map), 0);
}

int32_t length(Cell* map) { return static_cast<int32_t>(key_count(*map)); }

// The stored key, as scripts get it, or none.
Cell* find(Cell* map, Cell* key, const action::FindOptions& options) {
  int64_t at = find_live_key(*map, *key, lookup_op(options.case_sensitive, options.same));
  *map = at >= 0 ? handed_out_key(entries(*map)[at], false) : constants::none;
  return map;
}

Cell* select(Cell* map, Cell* key, const action::FindOptions& options) {
  int64_t at = find_live_key(*map, *key, lookup_op(options.case_sensitive, options.same));
  *map = at >= 0 ? entries(*map)[at + 1] : constants::none;
  return map;
}

// Only with /key. The key is found as select finds it (letter case ignored), so that whatever
// select reads, remove/key takes away.
void remove(Cell* map, Cell*, Cell* key) {
  if (!key) rt::fire_error("script", "missing-arg");
  int64_t at = find_live_key(*map, *key, EQUAL);
  if (at >= 0) hashtable::remove_cell(table_node_of(*map), entries(*map) + at);
}

// A map is its entry block and its table, which keeps the block alive too.
void mark_map(const Cell& value) {
  gc::mark_block(cell::series_node(value));
  if (table_node_of(value)) hashtable::mark(table_node_of(value));
}

}  // namespace

bool valid_key_type_q(uint8_t type) { return hashtable::map_key_accepted(type); }

void make_at(Cell* target, const Cell* block, uint32_t size) {
  const Cell spec = block ? *block : constants::none;
  gc::Guard keep_spec(spec);
  uint64_t cells = std::max<uint64_t>(2 * uint64_t(size), 2);
  if (cells * sizeof(Cell) > alloc::kMaxCapacity) rt::fire_error("internal", "no-memory");
  uint32_t pairs = alloc::new_cell_series(static_cast<uint32_t>(cells));
  gc::Guard keep_pairs(pairs);
  uint32_t table = hashtable::make(size, pairs, hashtable::kMap, 2);
  *target = Cell{TYPE_MAP, 0, pairs, table};
  if (block) extend(*target, spec, false);
}

void extend(const Cell& map, const Cell& block, bool case_flag) {
  Cell spec = block;
  int32_t count = series::rest_length(spec, false);
  if (count % 2) rt::fire_error("script", "invalid-arg", &spec);
  for (int32_t i = 0; i < count; i += 2) {
    const Cell* pair = block::cell_at(spec, cell::series_index_signed(spec) + i);
    put_entry(map, pair[0], pair[1], case_flag);
  }
}

bool next_entry(Cell* position, Cell* key, Cell* value) {
  const Cell map = *position;
  for (uint32_t i = cell::series_index(map); i + 1 < entry_cells(map); i += 2) {
    if (!live(map, i)) continue;
    // The position moves first: past removed entries, so that the caller's step of one pair
    // lands after this one.
    cell::set_series_index(*position, i);
    *value = entries(map)[i + 1];
    *key = handed_out_key(entries(map)[i], false);
    return true;
  }
  return false;
}

void register_datatypes() {
  using namespace action;
  using datatype::act;
  datatype::register_type(
      TYPE_MAP,
      {act<MAKE>(make), act<REFLECT>(reflect), act<TO>(to), act<FORM>(form), act<MOLD>(mold),
       act<EVAL_PATH>(eval_path), act<COMPARE>(compare), act<CLEAR>(clear), act<COPY>(copy),
       act<FIND>(find), act<LENGTH_Q>(length), act<PUT>(put), act<REMOVE>(remove),
       act<SELECT>(select)});
  gc::set_type_marker(TYPE_MAP, mark_map);
  hash::register_datatype();
}

}  // namespace map
