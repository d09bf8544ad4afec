// block! and paren!: the low-level block operations and the block actions (make, to, form,
// mold, compare, append/insert, change, copy, put, swap, take, trim). The position actions and
// remove, reverse, move... are series!'s, inherited.
// Recursive walks (mold, form, compare, deep copies) keep the containers they are inside on the
// cycle stack. Owner notifications run user code, so edits keep indexes across them.
#include "datatypes/block.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/hash.h"
#include "datatypes/hashtable.h"
#include "datatypes/integer.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/upcall.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/present.h"
#include "runtime/sort.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace block {

namespace {

using alloc::Series;

using cell::cells_of;
inline Cell* first_cell(const Cell& value) { return cells_of(cell::series_node(value)); }
inline int32_t length_of(uint32_t node) { return static_cast<int32_t>(cell::cell_count(node)); }
inline int32_t length_of(const Cell& value) { return length_of(cell::series_node(value)); }
inline int32_t head_of(const Cell& value) { return cell::series_index_signed(value); }
// The head clamped into [0, length].
inline int32_t clamped_head(const Cell& value) {
  return std::clamp(head_of(value), 0, length_of(value));
}
inline void set_length(uint32_t node, int64_t cells) {
  Series* s = alloc::series_of(node);
  s->tail = s->head + static_cast<uint32_t>(cells * sizeof(Cell));
}

[[noreturn]] void no_memory() { rt::fire_error("internal", "no-memory"); }

// A deep walk that meets its own container again cannot end.
void refuse_cycle(uint32_t node) {
  if (cycles::find(node)) {
    cycles::reset();
    rt::fire_error("internal", "no-cycle");
  }
}

// The raw comparison of two cells under an operator, through the first one's type.
int32_t compare_cells(Cell* a, Cell* b, int32_t op) {
  auto fn = datatype::lookup<action::COMPARE>(cell::type_of(*a));
  return fn ? fn(a, b, op) : action::kNotComparable;
}

// --- Splicing ----------------------------------------------------------------------------------

// Where spliced cells come from: one stable cell (a data-stack cell or a C++ local), or a run
// of a series' cells, re-derived from its node after every allocation.
struct Source {
  const Cell* cell;
  uint32_t node;
  int32_t index;
  const Cell* cells() const { return cell ? cell : cells_of(node) + index; }
};

// Cells spliced from the target's own buffer are copied aside first: opening the gap moves them
// and the copy would otherwise read cells the gap overwrote. `aside` must be guarded.
void copy_aside(Source& source, uint32_t target_node, int32_t count, uint32_t& aside) {
  if (source.cell || source.node != target_node) return;
  aside = alloc::new_cell_series(static_cast<uint32_t>(std::max(count, 1)));
  std::memcpy(cells_of(aside), source.cells(), size_t(count) * sizeof(Cell));
  set_length(aside, count);
  source = Source{nullptr, aside, 0};
}

// Room for `cells` cells from the buffer's first element: twice that, or exactly that.
void reserve_cells(const Cell& target, int64_t cells, bool exact) {
  Series* s = cell::series_of(target);
  uint64_t needed = s->head + uint64_t(cells) * sizeof(Cell);
  if (needed <= s->capacity) return;
  if (needed > alloc::kMaxCapacity) no_memory();
  uint64_t grown = exact ? needed : std::min<uint64_t>(2 * needed, alloc::kMaxCapacity);
  alloc::expand_series(cell::series_node(target), static_cast<uint32_t>(grown));
}

// Opens count × dup cells at `at` and fills them with the source's count cells, dup times; a
// hash! keeps its index in step. The target must be rooted. May allocate.
void splice_in(const Cell& target, Source source, int32_t count, int32_t dup, int32_t at,
               bool exact_growth) {
  int64_t total = int64_t(count) * dup;
  int32_t length = length_of(target);
  uint32_t aside = 0;
  gc::Guard keep_aside(aside);
  copy_aside(source, cell::series_node(target), count, aside);
  reserve_cells(target, length + total, exact_growth);
  Cell* cells = first_cell(target);
  // One value at the tail (append, the blocks benchmark) moves nothing and copies one cell.
  if (at < length) {
    std::memmove(cells + at + total, cells + at, size_t(length - at) * sizeof(Cell));
  }
  set_length(cell::series_node(target), length + total);
  if (count == 1) {
    cells[at] = *source.cells();
  } else {
    std::memcpy(cells + at, source.cells(), size_t(count) * sizeof(Cell));
  }
  if (dup > 1) {
    cell::replicate_bytes(reinterpret_cast<uint8_t*>(cells + at), count * sizeof(Cell),
                          static_cast<uint32_t>(dup));
  }
  if (cell::type_of(target) != TYPE_HASH) return;
  if (at < length && hashtable::shift_indexes(hash::table_node_of(target), at, length - at,
                                              static_cast<int32_t>(total))) {
    hashtable::rehash(hash::table_node_of(target), static_cast<uint32_t>(length + total));
  } else {
    series::hash_put_range(target, at, static_cast<int32_t>(total));
  }
}

// The count × dup product of append, insert and change, which must fit the 32-bit counts.
int32_t checked_total(int64_t count, int64_t dup) {
  int64_t total = count * dup;
  if (total > INT32_MAX) no_memory();
  return static_cast<int32_t>(total);
}

// --- Copies ------------------------------------------------------------------------------------

bool copiable_by_types(uint8_t type) {
  return types::any_series(type) || type == TYPE_BITSET || type == TYPE_OBJECT ||
         type == TYPE_ERROR || type == TYPE_MAP;
}

// Replaces each selected cell of the block's [first, end) by its copy. Without types the
// series-like cells are selected (deep copy); with types, those it names that can be copied.
void replace_copies(uint32_t node, int32_t first, int32_t end, int32_t step, bool deep,
                    const Cell* types) {
  for (int32_t i = first; i < std::min(end, length_of(node)); i += step) {
    Cell item = cells_of(node)[i];
    uint8_t type = cell::type_of(item);
    bool selected = types ? copiable_by_types(type) &&
                                (cell::type_of(*types) == TYPE_DATATYPE
                                     ? cell::datatype_id(*types) == type
                                     : cell::typeset_has(*types, type))
                          : types::any_series(type);
    if (!selected) continue;
    Cell* slot = stack::push_copy(item);  // roots the original while its copy is made
    auto copy = datatype::implemented<action::COPY>(type);
    copy(slot, slot, nullptr, deep, deep ? const_cast<Cell*>(types) : nullptr);
    cells_of(node)[i] = *slot;
    stack::pop_cells(1);
  }
}

// --- Printing ----------------------------------------------------------------------------------

int32_t mold_value(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
                   int32_t indent) {
  auto mold = datatype::implemented<action::MOLD>(cell::type_of(*value));
  return mold(value, out, options.nested(), arg, part, indent);
}

// Whether the output so far ends with a line feed, carriage return or tab.
bool ends_with_break(const Cell& out) {
  Series* s = cell::series_of(out);
  if (s->tail == s->head) return false;
  uint32_t last = unicode::read_unit(s->tail_ptr() - s->unit(), s->unit());
  return last == '\n' || last == '\r' || last == '\t';
}

using cell::append_text;

// The mold of block! and paren!, which differ only in their delimiters. A first cell that
// starts a line opens the block on a line of its own, its cells one level deeper, and closes it
// on a line of its own at the outer level.
int32_t mold_cells(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
                   int32_t indent, const char* open, const char* close) {
  if (cycles::detect_and_emit(*value, out, &part, true)) return part;
  const Cell block = *value;
  if (!options.only) part = append_text(out, open, part);
  {
    cycles::Entry entry(cell::series_node(block));
    bool first_break = false;
    int32_t head = std::max(head_of(block), 0);
    for (int32_t i = head; i < length_of(block); i++) {
      if (arg && part <= 0) break;
      Cell item = first_cell(block)[i];
      bool first = i == head;
      if (!options.flat && (item.header & cell::kNewLine)) {
        if (!options.only && first) {
          first_break = true;
          indent++;
        }
        if (!(options.only && first)) part = append_text(out, "\n", part);
        part = cell::mold_indent(out, indent, part);
      } else if (!first) {
        part = append_text(out, " ", part);
      }
      part = mold_value(&item, out, options, arg, part, indent);
    }
    if (first_break) {
      part = append_text(out, "\n", part);
      part = cell::mold_indent(out, indent - 1, part);
    }
  }
  if (!options.only) part = append_text(out, close, part);
  return part;
}

}  // namespace

// --- Low-level operations --------------------------------------------------------------------

int32_t rest_length(const Cell& block) { return length_of(block) - head_of(block); }

bool next_head(Cell& block) {
  if (head_of(block) < length_of(block))
    cell::set_series_index(block, cell::series_index(block) + 1);
  return head_of(block) >= length_of(block);
}

Cell* head_cell(Cell& block) {
  int32_t length = length_of(block);
  if (head_of(block) > length) cell::set_series_index(block, static_cast<uint32_t>(length));
  return first_cell(block) + head_of(block);
}

Cell* tail_cell(const Cell& block) { return first_cell(block) + length_of(block); }
bool at_tail(const Cell& block) { return head_of(block) == length_of(block); }
Cell* cell_at(const Cell& block, int32_t index) { return first_cell(block) + index; }
void set_tail_index(const Cell& block, int32_t index) {
  set_length(cell::series_node(block), index);
}

void clear_from_head(const Cell& block) {
  if (head_of(block) < length_of(block)) set_length(cell::series_node(block), head_of(block));
}

Cell* append_cell(const Cell& block, const Cell& value) {
  const Cell copy = value;
  Cell* c = cell::append_new_cell(&block);
  *c = copy;
  return c;
}

Cell* append_all(Cell* target, const Cell& source) {
  int32_t from = clamped_head(source);
  splice_in(*target, Source{nullptr, cell::series_node(source), from}, length_of(source) - from, 1,
            length_of(*target), false);
  return target;
}

Cell* insert_value(Cell& block, const Cell& value, bool advance, bool at_start) {
  const Cell copy = value;
  int32_t head = clamped_head(block);
  int32_t at = at_start ? 0 : head;
  splice_in(block, Source{&copy, 0, 0}, 1, 1, at, false);
  if (advance) cell::set_series_index(block, static_cast<uint32_t>(head + 1));
  return first_cell(block) + at;
}

Cell* insert_all(Cell& target, const Cell& source) {
  int32_t from = clamped_head(source);
  int32_t count = length_of(source) - from;
  int32_t at = clamped_head(target);
  splice_in(target, Source{nullptr, cell::series_node(source), from}, count, 1, at, false);
  cell::set_series_index(target, static_cast<uint32_t>(at + count));
  return &target;
}

const Cell* select_value(const Cell& block, const Cell& value) {
  Cell key = value;
  int32_t length = length_of(block);
  for (int32_t i = std::max(head_of(block), 0); i < length; i++) {
    if (compare_cells(first_cell(block) + i, &key, action::FIND_EQUAL) == 0) {
      return i + 1 < length ? first_cell(block) + i + 1 : &constants::none;
    }
  }
  return &constants::none;
}

bool remove_value(const Cell& block, const Cell& value, bool from_start) {
  Cell key = value;
  int32_t length = length_of(block);
  for (int32_t i = from_start ? 0 : std::max(head_of(block), 0); i < length; i++) {
    if (compare_cells(first_cell(block) + i, &key, action::FIND_EQUAL) != 0) continue;
    if (cell::type_of(block) == TYPE_HASH)
      hashtable::remove_range(hash::table_node_of(block), i, 1);
    Cell* cells = first_cell(block);
    std::memmove(cells + i, cells + i + 1, size_t(length - i - 1) * sizeof(Cell));
    set_length(cell::series_node(block), length - 1);
    series::hash_removed(block, i, 1, length - i - 1);
    return true;
  }
  return false;
}

Cell* init_empty_ex(Cell* cell, int32_t capacity, bool outside_heap) {
  uint32_t count = static_cast<uint32_t>(std::max(capacity, 1));
  uint32_t node = outside_heap ? alloc::new_series_on_heap(count, sizeof(Cell))
                               : alloc::new_cell_series_unset(count);
  cell::set_type(*cell, TYPE_BLOCK);
  cell::set_series_index(*cell, 0);
  cell::set_series_node(*cell, node);
  return cell;
}

Cell* init_empty(Cell* cell, int32_t capacity) { return init_empty_ex(cell, capacity, false); }

namespace {

// Blocks made without a parent hang in the runtime's root block, a collector root.
Cell* append_new_block(const Cell* parent, int32_t capacity, bool outside_heap) {
  Cell made{TYPE_BLOCK, 0, 0, 0};
  gc::Guard keep(made);
  init_empty_ex(&made, capacity, outside_heap);
  const Cell root{TYPE_BLOCK, 0, runtime_words::root_block, 0};
  return append_cell(parent ? *parent : root, made);
}

}  // namespace

Cell* append_to_block(const Cell* parent, int32_t capacity) {
  return append_new_block(parent, capacity, false);
}

Cell* append_c_heap_to_block(const Cell* parent, int32_t capacity) {
  return append_new_block(parent, capacity, true);
}

Cell* push(const Cell& block) { return stack::push_copy(block); }

Cell* push_new(int32_t capacity) {
  Cell* c = stack::push_new();
  *c = Cell{TYPE_BLOCK, 0, 0, 0};
  return init_empty(c, capacity);
}

Cell* push_clone(const Cell& block, bool deep, bool all_blocks) {
  Cell* result = stack::push_copy(block);  // roots the source while the copy is made
  const Cell source = *result;
  int32_t from = clamped_head(source);
  int32_t count = length_of(source) - from;
  uint32_t node = alloc::new_cell_series(static_cast<uint32_t>(std::max(count, 1)));
  std::memcpy(cells_of(node), first_cell(source) + from, size_t(count) * sizeof(Cell));
  set_length(node, count);
  *result = Cell{cell::type_of(source), 0, node, 0};
  if (!deep) return result;

  refuse_cycle(cell::series_node(source));
  cycles::Entry entry(cell::series_node(source));
  for (int32_t i = 0; i < count; i++) {
    Cell item = cells_of(node)[i];
    uint8_t type = cell::type_of(item);
    bool path = type >= TYPE_PATH && type <= TYPE_GET_PATH;
    bool nested = type == TYPE_BLOCK || (all_blocks && (type == TYPE_PAREN || path));
    if (!nested) continue;
    Cell* clone = push_clone(item, true, all_blocks);
    cells_of(node)[i] = Cell{item.header, 0, cell::series_node(*clone), 0};
    stack::pop_cells(1);
  }
  return result;
}

void copy_nested(uint32_t node, int32_t first, int32_t end, int32_t step, bool deep,
                 const Cell* types) {
  replace_copies(node, first, end, step, deep, types);
}

// --- Actions ---------------------------------------------------------------------------------

namespace {

// The proto becomes the block (a new one, head 0) that the pushed cell holds, retyped; the
// pushed cell and everything above it are dropped.
Cell* take_pushed(Cell* proto, Cell* pushed, uint8_t type) {
  *proto = cell::make_series(type, cell::series_node(*pushed));
  stack::top = pushed;
  return proto;
}

// The body of an object! or map!: its fields or entries as set-word and value pairs.
Cell* body_of(Cell* proto, const Cell& spec, uint8_t type) {
  Cell* body = stack::push_copy(spec);
  datatype::implemented<action::REFLECT>(cell::type_of(spec))(body, runtime_words::symbols.body);
  return take_pushed(proto, body, type);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint8_t type) {
  uint8_t spec_type = cell::type_of(*spec);
  if (types::any_block(spec_type)) {
    return take_pushed(proto, push_clone(*spec, false, false), type);
  }
  if (spec_type == TYPE_INTEGER || spec_type == TYPE_FLOAT) {
    int32_t capacity = cell::get_integer_arg(*spec);
    *proto = Cell{type, 0, 0, 0};
    init_empty(proto, capacity);
    cell::set_type(*proto, type);
    return proto;
  }
  if (spec_type == TYPE_OBJECT || spec_type == TYPE_MAP) return body_of(proto, *spec, type);
  if (spec_type == TYPE_VECTOR) {
    // Its numbers from its position, one cell each.
    const Cell vector = *spec;
    const int64_t from = cell::series_index(vector);
    const int64_t count = std::max<int64_t>(cell::series_of(vector)->length() - from, 0);
    *proto = Cell{type, 0, 0, 0};
    init_empty(proto, int32_t(count));
    cell::set_type(*proto, type);
    for (int64_t i = 0; i < count; i++) {
      Cell element;
      append_cell(*proto, *vector::push_element(vector, int32_t(from + i), &element));
    }
    return proto;
  }
  Cell wanted = cell::make_datatype(type);
  rt::fire_error("script", "bad-make-arg", &wanted, spec);
}

Cell* to(Cell* proto, Cell* spec, uint8_t type) {
  const Cell source = *spec;
  switch (cell::type_of(source)) {
    case TYPE_OBJECT: case TYPE_MAP: case TYPE_VECTOR:
      return make(proto, spec, type);
    case TYPE_STRING: {
      Cell* loaded = stack::push_copy(constants::none);
      upcall::lexer.scan_text(loaded, source, true);
      return take_pushed(proto, loaded, type);
    }
    case TYPE_TYPESET: {
      Cell* members = stack::push_copy(constants::none);
      typeset::to_block(source, members);
      return take_pushed(proto, members, type);
    }
    default: {
      if (types::any_block(cell::type_of(source))) return make(proto, spec, type);
      Cell* single = push_new(1);
      append_cell(*single, source);
      return take_pushed(proto, single, type);
    }
  }
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  if (cycles::detect_and_emit(*value, out, &part, false)) return part;
  const Cell block = *value;
  cycles::Entry entry(cell::series_node(block));
  int32_t head = std::max(head_of(block), 0);
  for (int32_t i = head; i < length_of(block); i++) {
    if (arg && part <= 0) break;
    if (i > head && !ends_with_break(*out)) part = append_text(out, " ", part);
    Cell item = first_cell(block)[i];
    part = datatype::implemented<action::FORM>(cell::type_of(item))(&item, out, arg, part);
  }
  return part;
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent) {
  return mold_cells(value, out, options, arg, part, indent, "[", "]");
}

namespace {

bool word_family(uint8_t type) {
  return type == TYPE_WORD || type == TYPE_SET_WORD || type == TYPE_GET_WORD ||
         type == TYPE_LIT_WORD || type == TYPE_REFINEMENT || type == TYPE_ISSUE;
}

// The buffer index of the first cell from the head that matches the selector: for a word!
// selector (select-word) the first word-family cell of the same symbol (the exact spelling with
// case_flag), for any other the first equal cell (strictly equal with case_flag); -1 when none.
int32_t find_selector(const Cell& block, Cell& selector, bool case_flag) {
  const bool by_word = cell::type_of(selector) == TYPE_WORD && cell::type_of(block) != TYPE_HASH;
  for (int32_t i = std::max(head_of(block), 0); i < length_of(block); i++) {
    Cell item = first_cell(block)[i];
    if (by_word) {
      if (!word_family(cell::type_of(item))) continue;
      bool same = case_flag
                      ? word::symbol_of(item) == word::symbol_of(selector)
                      : symbol::same_canonical(word::symbol_of(item), word::symbol_of(selector));
      if (same) return i;
    } else if (cell::type_of(item) == cell::type_of(selector) &&
               datatype::compare(&item, &selector,
                                case_flag ? action::STRICT_EQUAL : action::FIND_EQUAL)) {
      return i;
    }
  }
  return -1;
}

}  // namespace

// An integer selects by position (pick/poke); a word the value after that word; anything else the
// value after the first equal value.
Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  if (cell::type_of(*element) == TYPE_INTEGER) {
    int32_t n = integer::get_value(*element);
    return step.value ? series::poke(parent, n, step.value, element)
                      : series::pick(parent, n, element);
  }
  const int32_t found = find_selector(*parent, *element, step.case_sensitive);
  if (!step.value) {
    if (found < 0 || found + 1 >= length_of(*parent)) {
      *parent = constants::none;
      return parent;
    }
    *parent = first_cell(*parent)[found + 1];
    return parent;
  }
  if (found < 0) rt::fire_error("script", "bad-path-set", step.path, element);
  Cell at = *parent;
  cell::set_series_index(at, static_cast<uint32_t>(found));
  return series::poke(&at, 2, step.value, element);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  uint8_t type_a = cell::type_of(*a);
  uint8_t type_b = cell::type_of(*b);
  if (type_a != type_b) {
    auto path_pair = [](uint8_t t) { return t == TYPE_PATH || t == TYPE_LIT_PATH; };
    bool literal_paths = (op == action::WORD_LIT_EQUAL || op == action::WORD_LIT_STRICT) &&
                         path_pair(type_a) && path_pair(type_b);
    if (!literal_paths) return action::kNotComparable;
  }
  bool same = cell::series_node(*a) == cell::series_node(*b) &&
              cell::series_index(*a) == cell::series_index(*b);
  if (op == action::SAME) return same ? 0 : -1;
  if (same) return 0;
  if (cycles::find(cell::series_node(*a))) return cycles::find(cell::series_node(*b)) ? 0 : -1;

  Cell x = *a, y = *b;
  int32_t length_x = series::rest_length(x, false);
  int32_t length_y = series::rest_length(y, false);
  bool equality = op == action::EQUAL || op == action::NOT_EQUAL || op == action::STRICT_EQUAL ||
                  op == action::WORD_LIT_EQUAL || op == action::WORD_LIT_STRICT ||
                  op == action::FIND_EQUAL;
  if (length_x != length_y && equality) return 1;

  int32_t result = 0;
  {
    cycles::Entry entry_x(cell::series_node(x));
    cycles::Entry entry_y(cell::series_node(y));
    for (int32_t i = 0; i < std::min(length_x, length_y) && result == 0; i++) {
      Cell* c1 = first_cell(x) + clamped_head(x) + i;
      Cell* c2 = first_cell(y) + clamped_head(y) + i;
      uint8_t t1 = cell::type_of(*c1);
      uint8_t t2 = cell::type_of(*c2);
      bool comparable = t1 == t2 || (types::all_word(t1) && types::all_word(t2)) ||
                        (types::number(t1) && types::number(t2));
      if (!comparable) return t1 < t2 ? -1 : 1;
      result = compare_cells(c1, c2, op);
    }
  }
  if (result) return result;
  return length_x < length_y ? -1 : length_x > length_y ? 1 : 0;
}

void insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
  if (dup < 1) return;
  bool splice = !only && types::any_block(cell::type_of(*value));
  // One value onto the tail of a block no owner watches (the blocks benchmark).
  if (append && !splice && dup == 1 && part != 0 && cell::type_of(*series) != TYPE_HASH &&
      !ownership::maybe_owned(*series)) {
    append_cell(*series, *value);
    cell::set_series_index(*series, 0);
    return;
  }
  auto taken_cells = [&] {
    int32_t count = splice ? series::rest_length(*value, false) : 1;
    return part >= 0 && part <= count ? part : count;
  };
  int32_t taken = taken_cells();
  if (taken <= 0) return;
  int32_t total = checked_total(taken, dup);
  cell::set_series_index(*series, static_cast<uint32_t>(clamped_head(*series)));
  int32_t at = append ? length_of(*series) : head_of(*series);

  bool notified = ownership::notify_owner(series, append ? "append" : "insert", value, at, total);
  taken = taken_cells();
  total = checked_total(std::max(taken, 0), dup);
  at = append ? length_of(*series) : clamped_head(*series);
  if (taken > 0) {
    Source source = splice ? Source{nullptr, cell::series_node(*value), clamped_head(*value)}
                           : Source{value, 0, 0};
    splice_in(*series, source, taken, dup, at, dup >= 5);
  }
  if (notified) {
    ownership::notify_owner(series, append ? "appended" : "inserted", value, at, total);
  }
  cell::set_series_index(
      *series, append ? 0 : static_cast<uint32_t>(std::min(at + total, length_of(*series))));
}

void change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
  if (dup < 1) return;
  bool splice = !only && types::any_block(cell::type_of(*value));
  auto source_count = [&] { return splice ? std::max(series::rest_length(*value, false), 0) : 1; };
  int32_t at = clamped_head(*series);
  cell::set_series_index(*series, static_cast<uint32_t>(at));
  int64_t avail = length_of(*series) - at;
  int64_t replaced = part >= 0 ? std::min<int64_t>(avail, part)
                               : std::min<int64_t>(avail, int64_t(source_count()) * dup);

  bool notified =
      ownership::notify_owner(series, "change", value, at, static_cast<int32_t>(replaced));
  int32_t length = length_of(*series);
  at = clamped_head(*series);
  replaced = std::min<int64_t>(replaced, length - at);
  int32_t count = source_count();
  int32_t inserted = checked_total(count, dup);
  int64_t new_length = int64_t(length) + inserted - replaced;
  if (new_length * int64_t(sizeof(Cell)) > alloc::kMaxCapacity) no_memory();

  Source source = splice ? Source{nullptr, cell::series_node(*value), clamped_head(*value)}
                         : Source{value, 0, 0};
  uint32_t aside = 0;
  gc::Guard keep_aside(aside);
  copy_aside(source, cell::series_node(*series), count, aside);
  reserve_cells(*series, new_length, true);
  Cell* cells = first_cell(*series);
  std::memmove(cells + at + inserted, cells + at + replaced,
               size_t(length - at - replaced) * sizeof(Cell));
  set_length(cell::series_node(*series), new_length);
  std::memcpy(cells + at, source.cells(), size_t(count) * sizeof(Cell));
  cell::replicate_bytes(reinterpret_cast<uint8_t*>(cells + at), count * sizeof(Cell),
                        static_cast<uint32_t>(dup));
  if (cell::type_of(*series) == TYPE_HASH) {
    hashtable::rehash(hash::table_node_of(*series), static_cast<uint32_t>(new_length));
  }
  if (notified) ownership::notify_owner(series, "changed", value, at, inserted);
  cell::set_series_index(
      *series, static_cast<uint32_t>(std::min<int64_t>(at + inserted, length_of(*series))));
}

void copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
  const Cell source = *value;  // result may be the same cell
  series::copy(value, result, part, false, nullptr);
  if (!deep && !types) return;
  if (cell::type_of(source) == TYPE_HASH) cell::set_type(*result, TYPE_BLOCK);
  std::optional<cycles::Entry> entry;
  if (deep) {
    refuse_cycle(cell::series_node(source));
    entry.emplace(cell::series_node(source));
  }
  replace_copies(cell::series_node(*result), 0, length_of(*result), 1, deep, types);
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_flag) {
  auto find = datatype::implemented<action::FIND>(cell::type_of(*series));
  // find leaves its answer in the cell it searches: a copy searches, the series stays.
  Cell* probe = stack::push_copy(*series);
  const Cell found = *find(probe, key, {.case_sensitive = case_flag});
  stack::top = probe;
  bool hashed = cell::type_of(*series) == TYPE_HASH;
  int32_t length = length_of(*series);
  if (cell::type_of(found) == TYPE_NONE) {
    bool notified = ownership::notify_owner(series, "put", value, length, 0);
    int32_t at = length_of(*series);
    append_cell(*series, *key);
    append_cell(*series, *value);
    if (hashed &&
        hashtable::put_with_status(hash::table_node_of(*series), first_cell(*series) + at) != 2) {
      hashtable::put(hash::table_node_of(*series), first_cell(*series) + at + 1);
    }
    if (notified) ownership::notify_owner(series, "put-ed", value, length, 2);
    return value;
  }
  int32_t at = head_of(found) + 1;
  bool notified = ownership::notify_owner(series, "put", value, at, at < length ? 1 : 0);
  if (at < length_of(*series)) {
    Cell* slot = first_cell(*series) + at;
    if (compare_cells(slot, value, action::FIND_EQUAL) != 0) {
      if (hashed) hashtable::remove_cell(hash::table_node_of(*series), slot);
      *slot = *value;
      if (hashed) hashtable::put(hash::table_node_of(*series), slot);
    }
  } else {
    Cell* slot = append_cell(*series, *value);
    if (hashed) hashtable::put(hash::table_node_of(*series), slot);
  }
  if (notified) ownership::notify_owner(series, "put-ed", value, at, 1);
  return value;
}

// --- Searching ---------------------------------------------------------------------------------

namespace {

// What find looks for and how: the value's shape decides once, each position then only compares.
struct Search {
  Cell value;
  int32_t width = 1;        // cells a match covers: the value's cell count for a sequence
  bool sequence = false;    // an any-block value matched cell by cell
  bool by_type = false;     // a datatype! or typeset! value matched by the cell's type
  int32_t op = action::FIND_EQUAL;
};

bool matches_at(const Cell& block, Search& search, int32_t at, int32_t end) {
  Cell* cells = first_cell(block);
  if (search.by_type) {
    uint8_t type = cell::type_of(cells[at]);
    return cell::type_of(search.value) == TYPE_DATATYPE
               ? type == cell::datatype_id(search.value)
               : cell::typeset_has(search.value, type);
  }
  if (!search.sequence) return compare_cells(cells + at, &search.value, search.op) == 0;
  // A partial match at the end of the range is no match.
  if (at + search.width > end) return false;
  int32_t from = head_of(search.value);
  for (int32_t i = 0; i < search.width; i++) {
    Cell* wanted = first_cell(search.value) + from + i;
    if (compare_cells(first_cell(block) + at + i, wanted, search.op) != 0) return false;
  }
  return true;
}

// The buffer index of the match, or -1; `width` receives the cells the match covers.
int32_t find_index(const Cell& block, const Cell& value, const action::FindOptions& options,
                   int32_t* width) {
  int32_t length = length_of(block);
  int32_t head = head_of(block);
  if (length == 0 || (head >= length && !options.reverse)) return -1;
  head = std::clamp(head, 0, length);
  int32_t skip = 1;
  if (options.skip) {
    if (cell::type_of(*options.skip) != TYPE_INTEGER) {
      series::fire_invalid_refine(runtime_words::refinements.skip, *options.skip);
    }
    if (integer::get_value(*options.skip) < 1) {
      rt::fire_error("script", "out-of-range", options.skip);
    }
    skip = integer::get_value(*options.skip);
  }
  int32_t limit = -1;  // the last cell the part allows, or -1 without a part
  if (options.part) {
    int32_t count = series::part_count(block, *options.part);
    if (count < 1) return -1;
    limit = static_cast<int32_t>(std::min<int64_t>(int64_t(head) + count - 1, length - 1));
  }
  Search search{.value = value};
  uint8_t type = cell::type_of(value);
  if (!options.only && types::any_block(type)) {
    search.sequence = true;
    search.width = std::max(length_of(value) - std::max(head_of(value), 0), 0);
    if (search.width == 0) return -1;
  } else if (!options.only && (type == TYPE_DATATYPE || type == TYPE_TYPESET)) {
    search.by_type = true;
  }
  search.op = options.same             ? action::SAME
              : options.case_sensitive ? action::STRICT_EQUAL
                                       : action::FIND_EQUAL;
  int32_t end = limit >= 0 ? limit + 1 : length;  // the range's end for a sequence
  *width = search.width;
  gc::Guard keep(search.value);
  if (options.match) {
    int32_t at = options.reverse ? head - search.width : head;
    if (at < 0 || at >= end) return -1;
    return matches_at(block, search, at, end) ? at : -1;
  }
  if (options.last || options.reverse) {
    int32_t start = limit >= 0        ? limit
                    : options.last    ? length - search.width
                                      : head - search.width;
    // Backward searches stay on the record grid the head sets.
    start = std::min(start, length - 1);
    if (skip > 1) start = head + ((start - head) - (((start - head) % skip) + skip) % skip);
    for (int32_t at = start; at >= 0; at -= skip) {
      if (matches_at(block, search, at, end)) return at;
    }
    return -1;
  }
  for (int32_t at = head; at < end; at += skip) {
    if (matches_at(block, search, at, end)) return at;
  }
  return -1;
}

}  // namespace

Cell* find(Cell* series, Cell* value, const action::FindOptions& options) {
  int32_t width = 1;
  int32_t at = find_index(*series, *value, options, &width);
  if (at < 0) {
    *series = constants::none;
    return series;
  }
  if (options.tail) {
    bool forward = !options.last && !options.reverse;
    int32_t skip = options.skip ? integer::get_value(*options.skip) : 1;
    at += width > 1 || !forward ? width : skip;
    at = std::min(at, length_of(*series));
  }
  cell::set_series_index(*series, static_cast<uint32_t>(at));
  return series;
}

Cell* select(Cell* series, Cell* value, const action::FindOptions& options) {
  action::FindOptions search = options;
  search.tail = false;
  search.match = false;
  int32_t width = 1;
  int32_t at = find_index(*series, *value, search, &width);
  int32_t after = at + width;
  *series = at >= 0 && after < length_of(*series) ? first_cell(*series)[after] : constants::none;
  return series;
}

// --- Sorting -----------------------------------------------------------------------------------

namespace {

// The /compare function's arguments for /all records: two blocks made once, grown as needed and
// kept for the next sort (trimmed back when they reach kScratchTrimBytes). A collector root.
uint32_t compare_scratch[2] = {0, 0};
constexpr uint32_t kScratchTrimBytes = 0x200000;

void mark_compare_scratch() {
  for (uint32_t node : compare_scratch) {
    if (node) gc::mark_block(node);
  }
}

// One sort: the records are sorted as indexes into a rooted copy of them, so that the user code
// a comparator runs (and the collections it causes) can neither move nor change what is sorted.
struct SortRun {
  Cell copy;
  int32_t skip;
  int32_t field;  // the cell of a record compared without /all
  bool all;
  bool reverse;
  int32_t mode;
  const Cell* function;
};

// Values of different types that cannot be compared order by type.
int32_t order_cells(Cell* a, Cell* b, int32_t mode) {
  int32_t order = compare_cells(a, b, mode);
  if (order == action::kNotComparable) {
    order = int32_t(cell::type_of(*a)) - int32_t(cell::type_of(*b));
  }
  return order;
}

int32_t compare_records(const void* pa, const void* pb, void* arg, void*) {
  const SortRun& run = *static_cast<const SortRun*>(arg);
  uint32_t a = *static_cast<const uint32_t*>(pa), b = *static_cast<const uint32_t*>(pb);
  if (run.reverse) std::swap(a, b);
  Cell* x = first_cell(run.copy) + size_t(a) * size_t(run.skip);
  Cell* y = first_cell(run.copy) + size_t(b) * size_t(run.skip);
  if (!run.all) return order_cells(x + run.field, y + run.field, run.mode);
  for (int32_t i = 0; i < run.skip; i++) {
    if (int32_t order = order_cells(x + i, y + i, run.mode)) return order;
  }
  return 0;
}

// The keys of records ordered by one integer! cell each (the field, or with /all a record of one
// cell), complemented for /reverse so that their plain order is the wanted one; none when another
// value takes part. Such records sort by their keys inline (the sort benchmark).
std::optional<std::vector<int32_t>> integer_keys(const SortRun& run, int32_t records) {
  if (run.all && run.skip != 1) return std::nullopt;
  const Cell* cells = first_cell(run.copy) + (run.all ? 0 : run.field);
  std::vector<int32_t> keys(static_cast<size_t>(records));
  for (int32_t i = 0; i < records; i++) {
    const Cell& key = cells[size_t(i) * size_t(run.skip)];
    if (cell::type_of(key) != TYPE_INTEGER) return std::nullopt;
    keys[size_t(i)] = run.reverse ? ~integer::get_value(key) : integer::get_value(key);
  }
  return keys;
}

// The record as the function's argument: its first cell, or with /all a scratch block of it.
Cell record_argument(const SortRun& run, uint32_t record, int which) {
  if (!run.all) return first_cell(run.copy)[size_t(record) * size_t(run.skip)];
  Cell scratch = cell::make_series(TYPE_BLOCK, compare_scratch[which]);
  reserve_cells(scratch, run.skip, true);  // the function may have emptied it
  std::memcpy(first_cell(scratch), first_cell(run.copy) + size_t(record) * size_t(run.skip),
              size_t(run.skip) * sizeof(Cell));
  set_length(compare_scratch[which], run.skip);
  return scratch;
}

// The function answers whether its first argument sorts before its second: it is asked about
// (b, a), so that true means a belongs after b.
int32_t call_records(const void* pa, const void* pb, void* arg, void*) {
  const SortRun& run = *static_cast<const SortRun*>(arg);
  uint32_t a = *static_cast<const uint32_t*>(pa), b = *static_cast<const uint32_t*>(pb);
  if (!run.reverse) std::swap(a, b);
  const Cell first = record_argument(run, a, 0);
  const Cell second = record_argument(run, b, 1);
  return series::comparator_order(series::call_comparator(*run.function, first, second));
}

void prepare_compare_scratch(int32_t skip) {
  for (uint32_t& node : compare_scratch) {
    if (!node) node = alloc::new_cell_series(static_cast<uint32_t>(skip));
    reserve_cells(cell::make_series(TYPE_BLOCK, node), skip, true);
  }
}

// Integer records of one cell that differ in nothing but their values (no new-line marker on
// some of them): equal ones cannot be told apart, so their keys sort by radix and the cells are
// written back from them, with no comparison and no copy (the sort benchmark). False, with
// nothing done, for any other records; short ones sort as well the general way.
constexpr int32_t kRadixMinimum = 64;

bool sort_plain_integers(Cell* cells, int32_t count, bool reverse) {
  if (count < kRadixMinimum) return false;
  const Cell model = cells[0];
  if (cell::type_of(model) != TYPE_INTEGER) return false;
  rt::PresentVector<uint32_t> keys(static_cast<size_t>(count));
  // The sign bit flipped orders signed values as unsigned keys; complemented, descending.
  const uint32_t flip = reverse ? 0x7FFFFFFFu : 0x80000000u;
  for (int32_t i = 0; i < count; i++) {
    const Cell& c = cells[i];
    if (c.header != model.header || c.w1 != model.w1 || c.w3 != model.w3) return false;
    keys[size_t(i)] = cell::value_word(c) ^ flip;
  }
  sort::radix_sort(keys.data(), keys.size());
  for (int32_t i = 0; i < count; i++) {
    cells[i] = model;
    cell::set_value_word(cells[i], keys[size_t(i)] ^ flip);
  }
  return true;
}

void trim_compare_scratch() {
  for (uint32_t& node : compare_scratch) {
    if (node && alloc::series_of(node)->capacity >= kScratchTrimBytes) {
      node = alloc::new_cell_series(1);
    }
  }
}

}  // namespace

Cell* sort(Cell* series, const action::SortOptions& options) {
  const series::SortPlan plan = series::plan_sort(series, options);
  int32_t head = plan.head, count = plan.count, skip = plan.skip;
  if (count <= 0) return series;
  SortRun run{.copy = constants::none, .skip = skip, .field = plan.field, .all = options.all,
              .reverse = options.reverse,
              .mode = options.case_sensitive ? action::SORT_CASE_ORDER : action::SORT_ORDER,
              .function = plan.function};
  bool notified = ownership::notify_owner(series, "sort", nullptr, head, 0);
  int32_t remaining = std::max(length_of(*series) - head, 0);
  if (!options.part || remaining < count) count = remaining;
  int32_t records = count / skip;
  bool sorted = records > 1 && !run.function && skip == 1 && run.field == 0 &&
                sort_plain_integers(first_cell(*series) + head, records, options.reverse);
  if (records > 1 && !sorted) {
    if (run.function && run.all) prepare_compare_scratch(skip);
    int32_t length = length_of(*series);
    uint32_t node = alloc::new_cell_series(static_cast<uint32_t>(records * skip));
    run.copy = cell::make_series(TYPE_BLOCK, node);
    Cell* held = stack::push_copy(run.copy);
    std::memcpy(first_cell(run.copy), first_cell(*series) + head,
                size_t(records * skip) * sizeof(Cell));
    set_length(node, records * skip);
    std::optional<std::vector<int32_t>> keys;
    if (!run.function) keys = integer_keys(run, records);
    const std::vector<uint32_t> order =
        keys ? sort::sorted_order_by_keys(*keys, options.stable)
             : sort::sorted_order(size_t(records), &run,
                                  run.function ? call_records : compare_records, options.stable);
    // The comparator may have changed the series: the sorted records only fit the same length.
    if (length_of(*series) != length) rt::fire_error("script", "invalid-arg", series);
    Cell* target = first_cell(*series) + head;
    for (size_t i = 0; i < order.size(); i++) {
      std::memcpy(target + i * size_t(skip), first_cell(run.copy) + order[i] * size_t(skip),
                  size_t(skip) * sizeof(Cell));
    }
    stack::top = held - 1;  // the copy, pushed above
    trim_compare_scratch();
  }
  if (notified) ownership::notify_owner(series, "sorted", nullptr, head, 0);
  return series;
}

void swap(Cell* a, Cell* b) {
  if (!types::any_block(cell::type_of(*b))) rt::fire_error("script", "invalid-arg", b);
  if (series::at_tail(*a) || series::at_tail(*b)) return;
  bool notified_a = ownership::notify_owner(a, "swap", b, clamped_head(*a), 1);
  bool notified_b = ownership::notify_owner(b, "swap", a, clamped_head(*b), 1);
  if (!series::at_tail(*a) && !series::at_tail(*b)) {
    Cell* x = first_cell(*a) + clamped_head(*a);
    Cell* y = first_cell(*b) + clamped_head(*b);
    if (x != y) {
      if (cell::type_of(*a) == TYPE_HASH) hashtable::remove_cell(hash::table_node_of(*a), x);
      if (cell::type_of(*b) == TYPE_HASH) hashtable::remove_cell(hash::table_node_of(*b), y);
      std::swap(*x, *y);
      if (cell::type_of(*a) == TYPE_HASH)
        hashtable::put(hash::table_node_of(*a), first_cell(*a) + clamped_head(*a));
      if (cell::type_of(*b) == TYPE_HASH)
        hashtable::put(hash::table_node_of(*b), first_cell(*b) + clamped_head(*b));
    }
  }
  if (notified_a) ownership::notify_owner(a, "swaped", b, clamped_head(*a), 1);
  if (notified_b) ownership::notify_owner(b, "swaped", a, clamped_head(*b), 1);
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
  series::take(series, part, deep, last);
  if (cell::type_of(*series) == TYPE_NONE) return series;
  if (deep) replace_copies(cell::series_node(*series), 0, length_of(*series), 1, true, nullptr);
  if (!part && length_of(*series) == 1) *series = first_cell(*series)[0];
  return series;
}

void trim(Cell* series, const action::TrimOptions&) {
  bool notified = ownership::notify_owner(series, "trim", nullptr, clamped_head(*series), 0);
  int32_t head = clamped_head(*series);
  int32_t length = length_of(*series);
  Cell* cells = first_cell(*series);
  int32_t kept = head;
  for (int32_t i = head; i < length; i++) {
    if (cell::type_of(cells[i]) != TYPE_NONE) cells[kept++] = cells[i];
  }
  set_length(cell::series_node(*series), kept);
  if (notified) ownership::notify_owner(series, "trimmed", nullptr, head, 0);
}

void init() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(
      TYPE_BLOCK,
      {act<MAKE>(make), inherit<RANDOM>(), inherit<REFLECT>(), act<TO>(to), act<FORM>(form),
       act<MOLD>(mold), act<EVAL_PATH>(eval_path), act<COMPARE>(compare), act<APPEND>(insert),
       inherit<AT>(), inherit<BACK>(), act<CHANGE>(change), inherit<CLEAR>(), act<COPY>(copy),
       act<FIND>(find), inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(), act<INSERT>(insert),
       inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(), inherit<PICK>(), inherit<POKE>(),
       act<PUT>(put), inherit<REMOVE>(), inherit<REVERSE>(), act<SELECT>(select),
       act<SORT>(sort), inherit<SKIP>(), act<SWAP>(swap),
       inherit<TAIL>(), inherit<TAIL_Q>(), act<TAKE>(take), act<TRIM>(trim),
       inherit<MODIFY>()});
  datatype::register_type(
      TYPE_PAREN,
      {inherit<MAKE>(), inherit<RANDOM>(), inherit<REFLECT>(), inherit<TO>(), inherit<FORM>(),
       act<MOLD>(paren::mold), inherit<EVAL_PATH>(), inherit<COMPARE>(), inherit<APPEND>(),
       inherit<AT>(), inherit<BACK>(), inherit<CHANGE>(), inherit<CLEAR>(), inherit<COPY>(),
       inherit<FIND>(), inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(), inherit<INSERT>(),
       inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(), inherit<PICK>(), inherit<POKE>(),
       inherit<PUT>(), inherit<REMOVE>(), inherit<REVERSE>(), inherit<SELECT>(),
       inherit<SORT>(), inherit<SKIP>(), inherit<SWAP>(),
       inherit<TAIL>(), inherit<TAIL_Q>(), inherit<TAKE>(), inherit<MODIFY>()});
  gc::add_marker(mark_compare_scratch);
  gc::set_type_marker(TYPE_BLOCK, gc::mark_block_cell);
  gc::set_type_marker(TYPE_PAREN, gc::mark_block_cell);
}

}  // namespace block

namespace paren {

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent) {
  return block::mold_cells(value, out, options, arg, part, indent, "(", ")");
}

}  // namespace paren
