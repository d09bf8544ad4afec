// Contexts: a context maps words to value cells. A context record is a node whose buffer holds
// two cells: the context! cell (word 1 the word table's node, word 2 the values: a block node, or
// for a stack-held function context the data-stack index of the call's first argument) and the
// owner value (the object or function that owns the context).
#pragma once
#include <cstdint>

#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace context {

constexpr uint32_t kStackHeld = 0x400000;  // values live on the data stack
constexpr uint32_t kHasSelf = 0x1000000;
constexpr uint32_t kKindShift = 11;
constexpr uint32_t kKindMask = 0x1800;
enum Kind : uint32_t { kGlobal = 0, kFunction = 1, kObject = 2 };

// The record's cells; valid until the next allocation.
inline Cell* context_cell(uint32_t node) { return cell::cells_of(node); }
inline Cell* owner_cell(uint32_t node) { return context_cell(node) + 1; }
// The context! cell's payload: word 1 the word table's node, word 2 the values position, word 3
// the record's own node where a copy of the cell needs it (0 in the record).
inline uint32_t words_node_of(const Cell& context) { return context.w1; }
inline uint32_t values_position_of(const Cell& context) { return context.w2; }
inline uint32_t record_of(const Cell& context) { return context.w3; }
inline void set_words_node(Cell& context, uint32_t node) { context.w1 = node; }
inline void set_values_position(Cell& context, uint32_t position) { context.w2 = position; }
inline void set_record(Cell& context, uint32_t node) { context.w3 = node; }
inline bool stack_held(uint32_t node) { return context_cell(node)->header & kStackHeld; }
inline Kind kind_of(uint32_t node) {
  return Kind((context_cell(node)->header & kKindMask) >> kKindShift);
}
// The values position: a block node, or a data-stack index for a stack-held context.
inline uint32_t values_position(uint32_t node) { return values_position_of(*context_cell(node)); }
inline void set_values_position(uint32_t node, uint32_t position) {
  set_values_position(*context_cell(node), position);
}

// --- Contexts and binding --------------------------------------------------------------------
//
// A context is named by its record's node everywhere below: the record may move, the node not.
// The word table is a hash table (datatypes/hashtable.h) over the word block, whose word #i is a
// word! bound to the context with index i; value #i belongs to word #i. In the global context a
// case variant of a word added on its own shares the value of the first spelling: its word cell
// carries that spelling's index, and every lookup below answers with the index a word cell
// carries. Operations marked "May allocate" read the cells they are given before allocating, so
// those may lie in series buffers; the one cell written afterwards, that of
// renew_with_same_words, must stay put: a data-stack cell or a C++ local.

// The values position of a stack-held context outside its call. Not 0: a call's first argument
// may be the data stack's first cell.
constexpr uint32_t kNoValues = 0xFFFFFFFF;
constexpr uint32_t kUnresolved = 0xFFFFFFFF;  // a word's index before its first lookup
constexpr uint32_t kGlobalWords = 4000;
constexpr uint32_t kAssigned = 0x2000;  // on an object's word cell: the field was assigned

extern uint32_t global;  // node of the global context

// Makes the global context (kGlobalWords words, values in a block) and roots it.
void init();
// Registers context! and its collector entry.
void register_datatype();

inline bool has_values(uint32_t node) {
  return values_position(node) != (stack_held(node) ? kNoValues : 0);
}
// The first value cell: the block's first cell, or the call's first argument on the data stack.
// The context must have values. Valid until the next allocation.
Cell* values_of(uint32_t node);
uint32_t word_block_node(uint32_t node);
uint32_t word_count(uint32_t node);
// Word #index of the word block; valid until the next allocation.
Cell* word_at(uint32_t node, uint32_t index);

// A new context record (both cells unset!) with a word table for `slots` words (0 counts as 1)
// and, unless stack-held, a values block with room for as many. With a words source (a context
// node, 0 for none) the word table starts as a copy of the source's, still bound to the source,
// and the values block holds one unset! per copied word. Not rooted yet. May allocate.
uint32_t create(uint32_t slots, bool stack_held, bool self, uint32_t words_source, Kind kind);
// A context sized by the spec block's length from its head holding, in order, each word!,
// get-word!, lit-word! and refinement! of it (case-insensitively once); unless stack-held, with
// one unset! value per word. Not rooted yet. May allocate.
uint32_t make_from_spec(const Cell& spec, bool stack_held, bool self, Kind kind);

// Index of the symbol's value, or -1.
int32_t find_symbol(uint32_t node, uint32_t symbol, bool any_case);
// The index when present; else appends a word for the symbol to the word block (no value),
// stores its index in *added and returns -1. May allocate.
int32_t find_or_add_symbol(uint32_t node, uint32_t symbol, bool any_case, int32_t* added);
// Finds or adds the word's symbol case-insensitively, a new word of a heap context with an
// unset! value; returns the index. May allocate.
uint32_t add_word(uint32_t node, const Cell& word);
// Adds a word for each symbol in order (and, to a heap context, its unset! value) while none is
// there already: returns -1, or the position in `symbols` of the first one found in the context
// (any case), the words before it added. The symbols must not lie in series memory. May
// allocate.
int32_t add_new_words(uint32_t node, const uint32_t* symbols, uint32_t count);
// A new word with a copy of the value: its value cell; null when the word was there already.
// May allocate.
Cell* add_word_with_value(uint32_t node, const Cell& word, const Cell& value);
// Adds the word when absent and copies the value into its value cell, which is returned. May
// allocate.
Cell* put_word_value(uint32_t node, const Cell& word, const Cell& value);
// Adds each set-word! of the block from its head; true when the context grew. May allocate.
bool add_set_words(uint32_t node, const Cell& block);

// The value cell of the symbol (any case), the global context standing in for a stack-held
// one; null when the context lacks it. Valid until the next allocation.
Cell* value_cell_of_symbol(uint32_t symbol, uint32_t node);
// Whether the word's name is self, in any letter case.
bool is_self(const Cell& word);

// The word's value cell in the context: an unbound self gives the context's owner cell; another
// unbound word raises script/no-value, a context outside its call script/not-in-context.
// Valid until the next allocation.
Cell* word_value_cell_in(const Cell& word, uint32_t node);
Cell* word_value_cell(const Cell& word);  // in the word's own context
// Stores a copy of the value as the word's value in the context. An unresolved word is looked
// up first (and added when absent); a word bound to this context learns its index before
// anything is allocated. A context without values raises script/not-defined; in an object
// context the word's cell in the word block is marked assigned. Returns the value cell. May
// allocate.
Cell* write_word_value(Cell& word, const Cell& value, uint32_t node);
Cell* write_word(Cell& word, const Cell& value);  // in the word's own context
// Copies the value into value #index (script/not-defined with word #index when the context has
// no values); an object's word #index is marked assigned. Returns the value cell, valid until
// the next allocation.
Cell* set_value_at(uint32_t node, uint32_t index, const Cell& value);

// The global word of the symbol (this very spelling), added when absent. May allocate.
Cell intern_global_word(uint32_t symbol);
// The global word of the symbol found with the case mode, added when absent (with an unset!
// value, shared with an existing case variant). With any_case and keep_case a word found under
// another spelling is returned with the asked symbol. May allocate.
Cell add_global_word(uint32_t symbol, bool any_case, bool keep_case);

// Binds the word to the context when the context has its symbol (any case): returns the index,
// or -1 and the word is left as it was.
int32_t bind_word(uint32_t node, Cell& word);
// Binds the words of the block from its head, and of the blocks and paths in it, to the
// context; with self_too each word! self gets the context with no index, so that it reads as
// the context's owner. A block met again inside itself is skipped. Allocates nothing. Returns
// the block.
const Cell& bind_block(const Cell& block, uint32_t node, bool self_too);
// Gives the cell (word 1 a context node) a new context of the kind with the same words, rebound
// to it, with unset! values. Returns the new node. May allocate.
uint32_t renew_with_same_words(Cell& cell, Kind kind);

}  // namespace context
