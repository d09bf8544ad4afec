// The symbol table: every word names a symbol, an interned spelling with a 1-based id that never
// changes. Case variants are distinct symbols aliased to the first spelling met (canonical), so
// case-insensitive word comparison compares alias-resolved ids. The table is one block of
// symbol! cells (cell id - 1 is symbol id) indexed by a hash table (datatypes/hashtable.h).
// Relies on the rooting rule of runtime/gc.h: addresses of symbol cells go stale at allocation.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace symbol {

// symbol! cell: word 1 the alias (kCanonical when the symbol is its own canonical spelling),
// word 2 the node of the name decoded as a string (0 until first needed), word 3 the node of the
// name's UTF-8 bytes (a NUL lies just past the buffer's tail).
inline uint32_t alias_of(const Cell& symbol) { return symbol.w1; }
inline uint32_t string_node_of(const Cell& symbol) { return symbol.w2; }
inline uint32_t utf8_node_of(const Cell& symbol) { return symbol.w3; }
inline void set_alias(Cell& symbol, uint32_t id) { symbol.w1 = id; }
inline void set_string_node(Cell& symbol, uint32_t node) { symbol.w2 = node; }
inline void set_utf8_node(Cell& symbol, uint32_t node) { symbol.w3 = node; }
constexpr uint32_t kCanonical = 0xFFFFFFFF;

extern uint32_t block;  // node of the symbol block, the symbol table's indexed block

// Makes the symbol block and its hash table and roots them. Once, before any word exists.
void init();
// Registers symbol! (only compare is supported).
void register_datatype();

// Ids of names. Exact: this very spelling, a new alias when only a case variant is known. Any
// case: whatever case variant is known. The text is read before anything is allocated, so it
// may lie in series memory. May allocate.
uint32_t intern_c_string(const char* name);
uint32_t intern_c_string_any_case(const char* name);
uint32_t intern_bytes(const uint8_t* text, uint32_t length);
// The text of a string value from its head, length code points of it (-1: to the tail),
// interned exactly. May allocate.
uint32_t intern_string(const Cell& string, int64_t length);

// The symbol's cell, its decoded name made first; valid until the next allocation.
Cell* get_cell(uint32_t id);
// The node of the symbol's name decoded as a string, decoding it on first use. May allocate.
uint32_t cache_string(uint32_t id);
// The symbol's canonical id: its alias, or itself.
uint32_t resolve_alias(uint32_t id);
// Whether the two symbols are spellings of one canonical symbol: words compared regardless of
// letter case.
inline bool same_canonical(uint32_t a, uint32_t b) { return resolve_alias(a) == resolve_alias(b); }

// The name as a string! value (head 0) over the symbol's decoded buffer, which the symbol table
// keeps alive. May allocate (the first time).
Cell name_string(uint32_t id);

}  // namespace symbol
