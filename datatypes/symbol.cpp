// The symbol table and the symbol! datatype. Interning goes through the runtime's hash table,
// which meets case variants that differ in ASCII letters; a second, smaller table over the names
// folded to upper case meets those that differ in other letters, so that every case variant the
// case folding tables know shares one canonical symbol.
// Relies on the rooting rule of runtime/gc.h: symbol cells are re-derived after each allocation.
#include "datatypes/symbol.h"

#include <cstring>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/hashtable.h"
#include "datatypes/string.h"
#include "runtime/alloc.h"
#include "runtime/casefold.h"
#include "runtime/gc.h"
#include "runtime/unicode.h"

namespace symbol {

uint32_t block = 0;

namespace {

constexpr uint32_t kInitialSymbols = 4000;

uint32_t table = 0;  // the symbol table (also published as hashtable::symbol_table)

// Folded names of the symbols that hold a non-ASCII letter with a case mapping. Word 1 of each
// of its symbol! cells is the canonical id shared by every spelling with that folded name
// (kCanonical until the first such spelling is interned).
uint32_t folded_table = 0;

using cell::cells_of;
inline Cell* cell_of(uint32_t id) { return cells_of(block) + (id - 1); }
inline uint32_t symbol_count() { return cell::cell_count(block); }

void mark_tables() {
  hashtable::mark(table);
  hashtable::mark(folded_table);
}

// The name with every code point folded to upper case. False when the ASCII-aware interning
// alone is enough: no non-ASCII letter with a case mapping (or malformed text).
bool fold_name(const uint8_t* text, uint32_t length, std::string& folded) {
  bool cased = false;
  const uint8_t* end = text + length;
  for (const uint8_t* p = text; p < end;) {
    int32_t code_point;
    p = unicode::decode_utf8_dfa(p, end, code_point);
    if (code_point < 0) return false;
    auto c = static_cast<uint32_t>(code_point);
    uint32_t upper = casefold::fold_char(c, true);
    if (c >= 0x80 && (upper != c || casefold::fold_char(c, false) != c)) cased = true;
    uint8_t bytes[4];
    folded.append(reinterpret_cast<const char*>(bytes), unicode::encode_utf8_char(upper, bytes));
  }
  return cased;
}

bool has_high_byte(const uint8_t* text, uint32_t length) {
  for (uint32_t i = 0; i < length; i++) {
    if (text[i] >= 0x80) return true;
  }
  return false;
}

uint32_t intern(const uint8_t* text, uint32_t length, bool any_case) {
  std::string folded;
  if (!has_high_byte(text, length) || !fold_name(text, length, folded)) {
    return hashtable::intern_symbol(table, text, length, any_case);
  }
  std::string name(reinterpret_cast<const char*>(text), length);  // the text may move
  uint32_t group = hashtable::intern_symbol(
      folded_table, reinterpret_cast<const uint8_t*>(folded.data()), uint32_t(folded.size()),
      false);
  auto group_cell = [group] {
    return cells_of(hashtable::table_of(folded_table)->block) + (group - 1);
  };
  uint32_t canonical = alias_of(*group_cell());
  if (any_case && canonical != kCanonical) return canonical;

  uint32_t before = symbol_count();
  uint32_t id = hashtable::intern_symbol(
      table, reinterpret_cast<const uint8_t*>(name.data()), length, any_case);
  if (canonical == kCanonical) {
    set_alias(*group_cell(), resolve_alias(id));
  } else if (symbol_count() > before && resolve_alias(id) != canonical) {
    set_alias(*cell_of(id), canonical);  // a new spelling of a known group
  }
  return id;
}

// A string! over the decoded name of a symbol cell (decoding a copy when the cell has none).
Cell decoded_name(const Cell& symbol) {
  if (string_node_of(symbol)) return cell::make_series(TYPE_STRING, string_node_of(symbol));
  uint32_t name = utf8_node_of(symbol);
  return cell::make_series(
      TYPE_STRING, unicode::load_utf8(name, 0, alloc::series_of(name)->used(), 0, nullptr, false));
}

// symbol!/compare: the names as strings, case-folded except under the strict operators.
int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_SYMBOL) return action::kNotComparable;
  Cell second_symbol = *b;  // b may lie in a buffer that moves while the first name decodes
  Cell first = decoded_name(*a);
  const uint32_t first_node = cell::series_node(first);
  gc::Guard first_guard(first_node);
  Cell second = decoded_name(second_symbol);
  const uint32_t second_node = cell::series_node(second);
  gc::Guard second_guard(second_node);
  return string::compare_strings(first, second, op, false);
}

}  // namespace

void init() {
  block = alloc::new_cell_series(kInitialSymbols);
  gc::Guard block_guard(block);
  table = hashtable::make(kInitialSymbols, block, hashtable::kSymbols, 0);
  hashtable::symbol_table = table;
  gc::Guard table_guard(table);
  folded_table = hashtable::make(0, 0, hashtable::kSymbols, 0);
  gc::add_marker(mark_tables);
}

void register_datatype() {
  datatype::register_type(TYPE_SYMBOL,
                          {datatype::act<action::COMPARE>(compare)});
  gc::set_type_marker(TYPE_SYMBOL, gc::mark_series_cell);  // the decoded and UTF-8 names
}

uint32_t intern_c_string(const char* name) {
  return intern(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), false);
}

uint32_t intern_c_string_any_case(const char* name) {
  return intern(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)), true);
}

uint32_t intern_bytes(const uint8_t* text, uint32_t length) { return intern(text, length, false); }

uint32_t intern_string(const Cell& string, int64_t length) {
  Cell text = string;  // the conversion cache goes into this copy, not the caller's cell
  const uint32_t node = cell::series_node(text);
  gc::Guard guard(node);
  int64_t count = length;
  const uint8_t* bytes = unicode::string_to_utf8(text, count);
  return intern(bytes, uint32_t(count), false);
}

uint32_t cache_string(uint32_t id) {
  const Cell* c = cell_of(id);
  if (string_node_of(*c)) return string_node_of(*c);
  uint32_t name = utf8_node_of(*c);
  uint32_t decoded = unicode::load_utf8(name, 0, alloc::series_of(name)->used(), 0, nullptr, false);
  set_string_node(*cell_of(id), decoded);
  return decoded;
}

Cell* get_cell(uint32_t id) {
  cache_string(id);
  return cell_of(id);
}

uint32_t resolve_alias(uint32_t id) { return hashtable::canonical_symbol(id); }

Cell name_string(uint32_t id) { return cell::make_series(TYPE_STRING, cache_string(id)); }

}  // namespace symbol
