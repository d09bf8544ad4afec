// The word family: word!, set-word!, lit-word!, get-word!, refinement! and issue! share one cell
// (word 1 the bound context's node, word 2 the symbol id, word 3 the index in the context or
// context::kUnresolved) and one implementation; the children differ in their mold decoration,
// issue! also in its conversions and in never being bound. Also the helpers that make, push,
// read and write words. Relies on datatypes/context.h and the rooting rule of runtime/gc.h.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace word {

// The payload of the word family (see above).
inline uint32_t context_of(const Cell& word) { return word.w1; }
inline uint32_t symbol_of(const Cell& word) { return word.w2; }
inline uint32_t index_of(const Cell& word) { return word.w3; }
inline void set_context(Cell& word, uint32_t context) { word.w1 = context; }
inline void set_symbol(Cell& word, uint32_t symbol) { word.w2 = symbol; }
inline void set_index(Cell& word, uint32_t index) { word.w3 = index; }
inline void bind_to(Cell& word, uint32_t context, uint32_t index) {
  word.w1 = context;
  word.w3 = index;
}

// Registers word! and its five children (word! first: the children inherit from it).
void register_datatypes();

// Whether the value is a word! naming the symbol in any letter case.
bool is_word_named(const Cell& value, uint32_t symbol);

// --- Making words ----------------------------------------------------------------------------

// The global word! of the name, interned with its exact spelling; a word found under another
// spelling keeps the one asked for. May allocate.
Cell from_c_string(const char* name);
// Makes the cell (flags kept) the global word! of the symbol, adding the word when absent. The
// cell is written after allocating: it must stay put (a stack cell or a C++ local). May allocate.
Cell* init_global(uint32_t symbol, Cell* cell);
// init_global on a new cell at the block's tail; the cell is valid until the next allocation.
// May allocate.
Cell* append_global_to_block(uint32_t symbol, const Cell& block);
Cell* append_name_to_block(const char* name, const Cell& block);
Cell* push_global(uint32_t symbol);  // init_global on a new stack cell. May allocate.
// Makes the cell an issue! of the name: global context, index unresolved. The cell must stay
// put. May allocate.
Cell* init_issue_from_c_string(Cell* cell, const char* name);
Cell* make_issue(const char* name);  // the same on a new stack cell. May allocate.

// --- Pushing and reading -----------------------------------------------------------------------

Cell* push(const Cell& value);
Cell* push_value(const Cell& word);          // a copy of the word's value, unset! or not
Cell* push_value_checked(const Cell& word);  // unset! raises script/no-value
// A copy of word #index of the context's word block (the word itself, bound there).
Cell* push_context_word(uint32_t context, uint32_t index);
Cell* context_word_at(uint32_t context, uint32_t index);  // valid until the next allocation
// The word of the symbol in the context (this very spelling), else its global word. May
// allocate.
Cell lookup_in_context(uint32_t context, uint32_t symbol);
// Value cell #index of a heap context; valid until the next allocation.
Cell* heap_context_value_at(uint32_t context, uint32_t index);
// A copy of value #index; a context without values raises script/not-defined with word #index.
Cell* push_context_value_checked(uint32_t context, uint32_t index);
// A string! over the symbol's decoded name (shared, head 0). May allocate.
Cell* push_name_string(const Cell& word);
Cell* symbol_cell(const Cell& word);  // the symbol's cell; valid until the next allocation
// Copies retyped, flags kept.
Cell* push_as_get_word(const Cell& value);
Cell* push_as_refinement(const Cell& value);
Cell* push_as_issue(const Cell& value);
// Word #index of the context retyped get-word! (flags kept) / refinement! (flags cleared).
Cell* push_context_value_as_get_word(uint32_t context, uint32_t index);
Cell* push_context_value_as_refinement(uint32_t context, uint32_t index);

// --- Writing -----------------------------------------------------------------------------------

// Sets the word to arguments[1] (unset! raises script/need-value) and copies the value into
// arguments[0]; a word of an object with change handlers runs its on-change*. May run any code.
Cell* set_from_stack(Cell& word);
// The newest stack cell into value #index of a heap context (an object's field is marked
// assigned); returns the value cell, valid until the next allocation.
Cell* store_top_in_context(uint32_t context, uint32_t index);
// The same, after pushing a copy of the old value (a change handler wants both).
Cell* push_old_and_store_top(uint32_t context, uint32_t index);

}  // namespace word

namespace refinement {

// Makes the cell a refinement! of the name (exact spelling): word 1 0, index left as it was.
// The cell must stay put. May allocate.
Cell* from_c_string(const char* name, Cell* cell);

}  // namespace refinement
