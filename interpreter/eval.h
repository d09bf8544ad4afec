// The evaluator: a tree walker over the cells of a block. An expression starts at a position and
// consumes as many cells as it needs (a word naming a function takes that function's arguments);
// operators apply strictly left to right. Calls and argument gathering are interpreter/call.h.
//
// Positions are (block node, cell index) pairs, re-read from the node after every step that can
// allocate or run code: the code being evaluated may itself be cleared, shortened or moved, and
// the walk then stops at the block's current tail.
//
// Non-local exits. Errors are C++ throws (rt::Throw, frames::throw_error). break, continue,
// return, exit and throw are cheap: frames::throw_* reshapes the stacks for the target frame and
// sets `pending`; every evaluator function returns at once while it is set, and the target
// (a loop, a function body, catch) clears it. C++ code that runs language code but knows nothing
// of pending exits (change handlers, sort comparators) calls raise_pending() afterwards; the
// evaluator turns such a C++ throw back into a pending exit where it calls a native.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "datatypes/context.h"
#include "datatypes/stack.h"
#include "datatypes/word.h"
#include "runtime/cell.h"
#include "runtime/throw.h"

namespace interp {

// The exit code travelling up the evaluator (rt::kThrowBreak ... rt::kThrowValue), or 0.
extern uint32_t pending;
inline bool exiting() { return pending != 0; }
// Turns a pending exit into a C++ throw of its code (for code outside the evaluator).
void raise_pending();

// Runs code that raises exits as C++ throws (a change handler, called from the evaluator): such an
// exit becomes pending again. Errors travel on.
template <class Body>
void absorb_exits(Body&& body) {
  try {
    body();
  } catch (const rt::Throw& t) {
    if (t.code < rt::kThrowThrow || t.code > rt::kThrowBreak) throw;
    pending = t.code;
  }
}

// A copy of the block being evaluated, its head index at the current expression: the `near` of
// every new error. Saved and restored by each block evaluation.
extern Cell eval_position;

// Where an expression's arguments come from: the cells of a block from `index` to `limit`
// (exclusive, capped at the block's live tail).
struct Feed {
  Cell block;  // block!/paren! (or any series of cells): word 2 the node
  uint32_t index;
  uint32_t limit;
};
constexpr uint32_t kToTail = 0xFFFFFFFF;
// The cell at the feed's position, or null at its end. Valid until the next allocation.
const Cell* feed_cell(const Feed& feed);

// The value cell of a word, looked up through its binding; raises as the word's context does.
// Valid until the next allocation.
inline Cell* word_value(const Cell& word) {
  if (word::context_of(word) && word::index_of(word) != context::kUnresolved) {
    const Cell* record = context::context_cell(word::context_of(word));
    uint32_t position = context::values_position_of(*record);
    uint32_t index = word::index_of(word);
    if (record->header & context::kStackHeld) {
      if (position != context::kNoValues) return stack::bottom + position + index;
    } else if (position) {
      return cell::cells_of(position) + index;
    }
  }
  return context::word_value_cell(word);
}

// context::write_word with its most common case inline (a loop sets its word once per turn): a
// resolved word of a context whose values are a block and whose words note no assignment.
inline void write_word(Cell& word, const Cell& value) {
  if (word::context_of(word) && word::index_of(word) != context::kUnresolved) {
    const Cell* record = context::context_cell(word::context_of(word));
    const uint32_t position = context::values_position_of(*record);
    if (!(record->header & (context::kStackHeld | context::kKindMask)) && position) {
      cell::cells_of(position)[word::index_of(word)] = value;
      return;
    }
  }
  context::write_word(word, value);
}

// The infix look-ahead: while the next cell names an operator, the value just produced (the cell
// at `operand`) becomes the operator's first argument.
void apply_operators(Feed& feed, Cell* operand, bool push);

// The evaluation-position cell and the interpreter's root cell; fills the upcalls the datatypes
// make (datatypes/upcall.h) and installs the error raiser (frames::raise). Once the error
// catalog exists.
void init();

// make object! and make error!: evaluates the spec block; its value stays as the newest cell and
// a pending exit is thrown.
void run_spec(const Cell& block);

// A script's `Zel [...]` header, when the block starts with one, is stepped over (the block's
// index moves past it).
void skip_header(Cell* block);

// Evaluates the whole block (block!, paren! or any cell series, from its head index) in an eval
// frame named <body>. An empty block gives unset!. keep: the result goes to the caller's
// arguments[0]; else it stays as the caller's newest cell.
void eval_block(const Cell& block, bool keep);

// Evaluates source text followed by the values, each quoted (it stays data: a paren, a function),
// as one block; the result is the newest cell on the data stack. For C++ that runs library code
// (`system/codecs/png/encode: value`, `read/binary file`). May allocate.
Cell* eval_text_with(std::string_view code, std::span<const Cell> values);

// Evaluates the whole block (from its head index) in the innermost frame, above its cells: the
// value goes to the frame's arguments[0] (top = arguments + 1). For natives that run a block
// they hold among their cells (branches, loop bodies, conditions, do): a planned block needs no
// frame of its own.
void eval_block_in_frame(const Cell& block);

// How one expression is evaluated.
struct ExpressionOptions {
  bool no_infix = false;           // no operator look-ahead after it
  bool push = false;               // the value is pushed as a new cell; else it becomes the
                                   // current frame's arguments[0] (the top is then arguments + 1)
  bool literal_functions = false;  // a callable met directly is taken as data
};
// One expression at the feed's position, advanced past it.
void eval_expression(Feed& feed, ExpressionOptions options);

// The expression at the feed when it starts with a value that needs no call: a cell of data that
// evaluates to itself (no path, paren, callable or issue) or a word holding data. Pushes the value,
// applies the operators after it (unless no_infix: those may call code, so check pending) and
// returns true. Else false, nothing done: the caller evaluates the expression.
bool quick_expression(Feed& feed, bool no_infix);

// One expression in a native frame of its own named <body>: push leaves the value as the caller's
// newest cell, else it goes to the caller's arguments[0]. Returns the index after it.
uint32_t eval_next(Feed& feed, bool push);

// How a path is evaluated: read (neither set nor get: a function it selects is called with the
// path's remaining elements as refinements and its arguments from the feed), get mode (nothing
// is called) or set mode (the last element is set to the value, a cell that stays put).
struct PathOptions {
  bool set = false;
  bool get = false;
  bool push = false;             // the value is pushed; else it becomes the frame's only result
  const Cell* value = nullptr;   // set mode's value
  bool case_sensitive = false;   // handed to every path step
};
void eval_path(const Cell& path, Feed* feed, const PathOptions& options);

// The value of a path (path!, lit-path!, get-path! or set-path!) read without calling anything
// it selects, as `get` does; pushed.
void get_path(const Cell& path, bool case_flag);
// Sets the path's target to the value (a cell that stays put: a stack cell), as `set` does; the
// value is pushed as the result.
void set_path(const Cell& path, const Cell* value, bool case_flag);

}  // namespace interp
