// The runtime's own symbols, words, refinements and issue, made once at start-up from the lists
// of runtime_words.h, and the runtime's root block.
// Relies on datatypes/symbol.h and datatypes/word.h; the collector reaches the root block
// through a marker, and the word cells kept here need none (their context and symbols are roots).
#include "datatypes/runtime_words.h"

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"

namespace runtime_words {

Symbols symbols;
Words words;
Refinements refinements;
Cell issue_ooo;
uint32_t root_block = 0;

namespace {

constexpr uint32_t kRootCells = 1000;

void mark_root_block() { gc::mark_block(root_block); }

template <class Record, class Field>
struct Entry {
  Field Record::*field;
  const char* text;
};

#define ZEL_SYMBOL(field, text) {&Symbols::field, text},
#define ZEL_WORD(field, text) {&Words::field, text},
#define ZEL_REFINEMENT(field, text) {&Refinements::field, text},
constexpr Entry<Symbols, uint32_t> kSymbols[] = {ZEL_RUNTIME_SYMBOLS(ZEL_SYMBOL)};
constexpr Entry<Words, Cell> kWords[] = {ZEL_RUNTIME_WORDS(ZEL_WORD)};
constexpr Entry<Refinements, Cell> kRefinements[] = {ZEL_RUNTIME_REFINEMENTS(ZEL_REFINEMENT)};
#undef ZEL_SYMBOL
#undef ZEL_WORD
#undef ZEL_REFINEMENT

}  // namespace

void init_root_block() {
  root_block = alloc::new_series_on_heap(kRootCells, sizeof(Cell));
  gc::add_marker(mark_root_block);
}

void init() {
  for (const auto& e : kSymbols) symbols.*e.field = symbol::intern_c_string(e.text);
  for (const auto& e : kWords) words.*e.field = word::from_c_string(e.text);
  for (const auto& e : kRefinements) {
    refinements.*e.field = Cell{TYPE_REFINEMENT, 0, 0, context::kUnresolved};
    refinement::from_c_string(e.text, &(refinements.*e.field));
  }
  word::init_issue_from_c_string(&issue_ooo, "ooo");
}

}  // namespace runtime_words
