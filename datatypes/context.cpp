// Contexts and binding: making contexts, finding and adding words, reading and writing word
// values, the global context, and binding blocks of code to a context.
// Relies on the word tables of datatypes/hashtable.h, the cycle stack (datatypes/cycles.h) and the
// rooting rule of runtime/gc.h: records, word blocks and values blocks move at any allocation,
// so everything here keeps nodes and indexes and re-derives addresses after allocating.
#include "datatypes/context.h"

#include <vector>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/hashtable.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace context {

uint32_t global = 0;

namespace {

inline uint32_t table_of(uint32_t node) { return words_node_of(*context_cell(node)); }

using cell::cells_of;

// The word is copied first: the error machinery allocates, and the word may lie in a buffer.
[[noreturn]] void fire_word_error(const char* id, Cell word) {
  rt::fire_error("script", id, &word);
}

// The index a word cell of the word block carries (see the header on case variants).
int32_t index_at(uint32_t node, int32_t position) {
  if (position < 0) return -1;
  return static_cast<int32_t>(word::index_of(*word_at(node, uint32_t(position))));
}

// One unset! value for a word just added to a heap context.
void append_value(uint32_t node) {
  if (!stack_held(node)) cell::buffer_append_new_cell(values_position(node));
}

void mark_context(const Cell& c) {
  hashtable::mark(words_node_of(c));
  if (!(c.header & kStackHeld)) gc::mark_block(values_position_of(c));
}

void mark_global() { gc::mark_block(global); }

}  // namespace

bool is_self(const Cell& word) {
  return symbol::same_canonical(word::symbol_of(word), runtime_words::symbols.self);
}

// --- Records -------------------------------------------------------------------------------------

Cell* values_of(uint32_t node) {
  const Cell& record = *context_cell(node);
  const uint32_t position = values_position_of(record);
  if (record.header & kStackHeld) return stack::bottom + position;
  return cells_of(position);
}

uint32_t word_block_node(uint32_t node) { return hashtable::table_of(table_of(node))->block; }

uint32_t word_count(uint32_t node) {
  return cell::cell_count(word_block_node(node));
}

Cell* word_at(uint32_t node, uint32_t index) {
  return cells_of(word_block_node(node)) + index;
}

uint32_t create(uint32_t slots, bool stack_held, bool self, uint32_t words_source, Kind kind) {
  if (slots == 0) slots = 1;
  uint32_t node = alloc::new_cell_series(2);
  gc::Guard guard(node);
  alloc::Series* s = alloc::series_of(node);
  auto* record = reinterpret_cast<Cell*>(s->head_ptr());
  record[0] = Cell{TYPE_CONTEXT | (stack_held ? kStackHeld : 0) | (self ? kHasSelf : 0) |
                       (uint32_t(kind) << kKindShift),
                   0, stack_held ? kNoValues : 0, 0};
  record[1] = constants::unset;
  s->tail = s->head + 2 * sizeof(Cell);

  uint32_t table = hashtable::make(slots, words_source, hashtable::kSymbols, 2);
  set_words_node(*context_cell(node), table);
  if (!stack_held) {
    // A copied word table brings its words: each gets its value, so value #i stays word #i's.
    uint32_t words = words_source ? word_count(node) : 0;
    uint32_t values = alloc::new_cell_series_unset(words > slots ? words : slots);
    alloc::Series* v = alloc::series_of(values);
    v->tail = v->head + words * sizeof(Cell);
    set_values_position(node, values);
  }
  return node;
}

uint32_t make_from_spec(const Cell& spec, bool stack_held, bool self, Kind kind) {
  uint32_t series = cell::series_node(spec);
  uint32_t head = cell::series_index(spec);
  uint32_t tail = cell::cell_count(series);
  uint32_t node = create(head < tail ? tail - head : 0, stack_held, self, 0, kind);
  gc::Guard guard(node);
  for (uint32_t i = head; i < cell::cell_count(series); i++) {
    Cell entry = cells_of(series)[i];
    switch (cell::type_of(entry)) {
      case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_REFINEMENT: {
        int32_t added;
        find_or_add_symbol(node, word::symbol_of(entry), true, &added);
        break;
      }
      default: break;
    }
  }
  if (!stack_held) {
    // One value per word: a word met twice in the spec must not shift the values after it.
    alloc::Series* v = alloc::series_of(values_position(node));
    v->tail = v->head + word_count(node) * sizeof(Cell);
  }
  return node;
}

// --- Finding and adding words --------------------------------------------------------------------

int32_t find_symbol(uint32_t node, uint32_t symbol, bool any_case) {
  return index_at(node, hashtable::find_word(table_of(node), symbol, any_case, 0, nullptr));
}

int32_t find_or_add_symbol(uint32_t node, uint32_t symbol, bool any_case, int32_t* added) {
  return index_at(node, hashtable::find_word(table_of(node), symbol, any_case, node, added));
}

int32_t add_new_words(uint32_t node, const uint32_t* symbols, uint32_t count) {
  for (uint32_t i = 0; i < count; i++) {
    int32_t added;
    if (find_or_add_symbol(node, symbols[i], true, &added) >= 0) return int32_t(i);
    if (!stack_held(node)) {
      // The values were made with room for the words asked for (create), all unset!.
      alloc::Series* v = alloc::series_of(values_position(node));
      if (v->tail + sizeof(Cell) <= v->capacity) {
        v->tail += uint32_t(sizeof(Cell));
      } else {
        append_value(node);
      }
    }
  }
  return -1;
}

uint32_t add_word(uint32_t node, const Cell& word) {
  int32_t added;
  int32_t index = find_or_add_symbol(node, word::symbol_of(word), true, &added);
  if (index >= 0) return uint32_t(index);
  append_value(node);
  return uint32_t(added);
}

Cell* add_word_with_value(uint32_t node, const Cell& word, const Cell& value) {
  Cell copy = value;
  int32_t added;
  if (find_or_add_symbol(node, word::symbol_of(word), true, &added) >= 0) return nullptr;
  Cell* slot = stack_held(node) ? cell::get_context_value_cell(node, uint32_t(added))
                                : cell::buffer_append_new_cell(values_position(node));
  *slot = copy;
  return slot;
}

Cell* put_word_value(uint32_t node, const Cell& word, const Cell& value) {
  Cell copy = value;
  Cell* slot = cell::get_context_value_cell(node, add_word(node, word));
  *slot = copy;
  return slot;
}

bool add_set_words(uint32_t node, const Cell& block) {
  uint32_t series = cell::series_node(block);
  uint32_t before = word_count(node);
  for (uint32_t i = cell::series_index(block); i < cell::cell_count(series); i++) {
    Cell entry = cells_of(series)[i];
    if (cell::type_of(entry) == TYPE_SET_WORD) add_word(node, entry);
  }
  return word_count(node) > before;
}

// --- Reading and writing -------------------------------------------------------------------------

Cell* value_cell_of_symbol(uint32_t symbol, uint32_t node) {
  if (stack_held(node)) node = global;
  int32_t index = find_symbol(node, symbol, true);
  return index < 0 ? nullptr : values_of(node) + index;
}

Cell* word_value_cell_in(const Cell& word, uint32_t node) {
  if (word::index_of(word) == kUnresolved) {
    if (is_self(word)) return owner_cell(node);
    fire_word_error("no-value", word);
  }
  if (!has_values(node)) fire_word_error("not-in-context", word);
  return values_of(node) + word::index_of(word);
}

Cell* word_value_cell(const Cell& word) {
  if (!word::context_of(word)) fire_word_error("no-value", word);
  return word_value_cell_in(word, word::context_of(word));
}

Cell* write_word_value(Cell& word, const Cell& value, uint32_t node) {
  Cell copy = value;
  uint32_t index = word::index_of(word);
  if (index == kUnresolved) {
    int32_t found = find_symbol(node, word::symbol_of(word), true);
    // A new word takes the next index: the word cell learns it now, as it may move once the
    // word is added.
    index = found >= 0 ? uint32_t(found) : word_count(node);
    if (word::context_of(word) == node) word::set_index(word, index);
    if (found < 0) add_word(node, word);  // reads the word before it allocates
  }
  return set_value_at(node, index, copy);
}

Cell* set_value_at(uint32_t node, uint32_t index, const Cell& value) {
  // The record read once: this is every assignment's path.
  const Cell& record = *context_cell(node);
  const uint32_t position = values_position_of(record);
  const bool held = record.header & kStackHeld;
  if (position == (held ? kNoValues : 0)) fire_word_error("not-defined", *word_at(node, index));
  const bool object = Kind((record.header & kKindMask) >> kKindShift) == kObject;
  Cell* slot = (held ? stack::bottom + position : cells_of(position)) + index;
  *slot = value;
  if (object) word_at(node, index)->header |= kAssigned;
  return slot;
}

Cell* write_word(Cell& word, const Cell& value) {
  if (!word::context_of(word)) fire_word_error("not-defined", word);
  return write_word_value(word, value, word::context_of(word));
}

// --- The global context --------------------------------------------------------------------------

void init() {
  global = create(kGlobalWords, false, false, 0, kGlobal);
  gc::add_marker(mark_global);
}

void register_datatype() {
  datatype::register_type(TYPE_CONTEXT, {});
  gc::set_type_marker(TYPE_CONTEXT, mark_context);
}

Cell add_global_word(uint32_t symbol, bool any_case, bool keep_case) {
  uint32_t table = table_of(global);
  int32_t position = hashtable::find_word(table, symbol, any_case, 0, nullptr);
  if (position >= 0) {
    Cell word = *word_at(global, uint32_t(position));
    if (any_case && keep_case) word::set_symbol(word, symbol);  // keeps the spelling asked for
    return word;
  }
  // A case variant already in the context lends its value to the new spelling, whichever of
  // the two was interned first.
  int32_t variant = any_case ? -1 : find_symbol(global, symbol, true);
  int32_t added;
  hashtable::find_word(table, symbol, any_case, global, &added);
  if (variant >= 0) word::set_index(*word_at(global, uint32_t(added)), uint32_t(variant));
  append_value(global);
  return *word_at(global, uint32_t(added));
}

Cell intern_global_word(uint32_t symbol) { return add_global_word(symbol, false, true); }

// --- Binding -------------------------------------------------------------------------------------

int32_t bind_word(uint32_t node, Cell& word) {
  int32_t index = find_symbol(node, word::symbol_of(word), true);
  if (index >= 0) word::bind_to(word, node, uint32_t(index));
  return index;
}

namespace {

// The binding table: by canonical symbol id, 1 + the index of the context's word of that symbol
// (0: none). Filled from a context's words for one bind_block walk, and emptied after it, so
// that each word met costs one read instead of a hash probe. Not for contexts of many words
// (the global one): filling it would cost more than the probes it saves.
constexpr uint32_t kTableWords = 512;
std::vector<uint32_t> bind_table;
bool bind_table_busy = false;

// The symbol's canonical id, read from the symbol block's cells (nothing allocates meanwhile).
inline uint32_t canonical(const Cell* symbols, uint32_t count, uint32_t id) {
  if (id == 0 || id > count) return id;
  const int32_t alias = static_cast<int32_t>(symbol::alias_of(symbols[id - 1]));
  return alias > 0 ? static_cast<uint32_t>(alias) : id;
}

class BindTable {
 public:
  // Fills the table with the context's words; false (and the table left empty) when it is in
  // use, or the context has too many words or two of one canonical symbol: the probes decide.
  bool fill(uint32_t node) {
    const uint32_t count = word_count(node);
    if (bind_table_busy || count > kTableWords) return false;
    symbols_ = cells_of(symbol::block);
    symbol_count_ = cell::cell_count(symbol::block);
    if (bind_table.size() <= symbol_count_) bind_table.resize(symbol_count_ + 1024, 0);
    words_ = word_at(node, 0);
    for (count_ = 0; count_ < count; count_++) {
      const uint32_t id = canonical(symbols_, symbol_count_, word::symbol_of(words_[count_]));
      if (id > symbol_count_ || bind_table[id]) {
        clear();
        return false;
      }
      bind_table[id] = word::index_of(words_[count_]) + 1;
    }
    bind_table_busy = owned_ = true;
    return true;
  }
  ~BindTable() {
    if (!owned_) return;
    clear();
    bind_table_busy = false;
  }
  uint32_t canonical_of(uint32_t symbol) const { return canonical(symbols_, symbol_count_, symbol); }
  // 1 + the index of the context's word of the canonical symbol, or 0.
  uint32_t lookup(uint32_t id) const { return id <= symbol_count_ ? bind_table[id] : 0; }

 private:
  // Empties the entries of the first count_ words.
  void clear() {
    for (uint32_t i = 0; i < count_; i++) {
      bind_table[canonical(symbols_, symbol_count_, word::symbol_of(words_[i]))] = 0;
    }
    count_ = 0;
  }
  const Cell* symbols_ = nullptr;
  uint32_t symbol_count_ = 0;
  const Cell* words_ = nullptr;
  uint32_t count_ = 0;
  bool owned_ = false;
};

// bind_block's walk through the binding table.
void bind_with_table(const Cell& block, uint32_t node, bool self_too, const BindTable& table) {
  uint32_t series = cell::series_node(block);
  if (cycles::find(series)) return;
  cycles::push(series);
  Cell* cells = cells_of(series);
  uint32_t tail = cell::cell_count(series);
  // self's canonical symbol (0 when self words are bound as any other).
  const uint32_t self = self_too ? table.canonical_of(runtime_words::symbols.self) : 0;
  for (uint32_t i = cell::series_index(block); i < tail; i++) {
    Cell& c = cells[i];
    const uint8_t type = cell::type_of(c);
    switch (type) {
      case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
      case TYPE_GET_PATH: case TYPE_HASH:
        bind_with_table(c, node, self_too, table);
        break;
      case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
      case TYPE_REFINEMENT: {
        const uint32_t id = table.canonical_of(word::symbol_of(c));
        if (type == TYPE_WORD && id == self && self) {
          word::bind_to(c, node, kUnresolved);
          break;
        }
        const uint32_t found = table.lookup(id);
        if (found) word::bind_to(c, node, found - 1);
        break;
      }
      default: break;
    }
  }
  cycles::pop();
}

}  // namespace

// Nothing here allocates, so the cells of the block stay where they are during the walk.
const Cell& bind_block(const Cell& block, uint32_t node, bool self_too) {
  {
    BindTable table;
    if (table.fill(node)) {
      bind_with_table(block, node, self_too, table);
      return block;
    }
  }
  uint32_t series = cell::series_node(block);
  if (cycles::find(series)) return block;
  cycles::push(series);
  Cell* cells = cells_of(series);
  uint32_t tail = cell::cell_count(series);
  for (uint32_t i = cell::series_index(block); i < tail; i++) {
    Cell& c = cells[i];
    switch (cell::type_of(c)) {
      case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
      case TYPE_GET_PATH: case TYPE_HASH:
        bind_block(c, node, self_too);
        break;
      case TYPE_WORD:
        if (self_too && is_self(c)) {
          word::bind_to(c, node, kUnresolved);
          break;
        }
        bind_word(node, c);
        break;
      case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
        bind_word(node, c);
        break;
      default: break;
    }
  }
  cycles::pop();
  return block;
}

uint32_t renew_with_same_words(Cell& cell, Kind kind) {
  uint32_t old = object::context_of(cell);
  gc::Guard old_guard(old);
  uint32_t count = word_count(old);
  uint32_t fresh = create(count, stack_held(old), context_cell(old)->header & kHasSelf, old, kind);
  Cell* words = word_at(fresh, 0);
  for (uint32_t i = 0; i < count; i++) word::set_context(words[i], fresh);
  object::set_context(cell, fresh);
  return fresh;
}

}  // namespace context
