// Plans: the pre-resolved form of the blocks the evaluator walks again and again (function
// bodies, loop bodies, branches, parens). A block's plan is made the second time the block is
// evaluated and kept by block node until the collector frees the node. Each statement of the
// block is planned when the walk first reaches it, as a tree of expressions that records what
// the general walk would decide there: a literal, a word holding data, a call of a known callable
// with its arguments' expressions, an operator after a value, a set-word, a paren.
//
// A plan never runs stale code. Blocks are data that running code may change, and words may be
// re-set at any time, so:
//   - the plan keeps a copy of the block's cells; the walk compares the block with it on entry,
//     and again, over the rest of the statement, whenever a block may have changed since (every
//     native and action that may write a block's cells, and every path, bumps `epoch`); a block
//     found changed is walked by the general evaluator from there on, and planned again at its
//     next evaluation;
//   - a call site holds only while its word still holds the same callable, an operator while its
//     word still holds the same op, a word's data while the word holds no callable: otherwise
//     that expression is evaluated by the general evaluator, and the walk goes on by position
//     (an expression whose planned start is not where the walk stands is evaluated generally).
// Evaluation order, error positions (near and where) and results are the general walk's: the plan
// skips its decisions, and the frames of conditionals, operators and set-words only where nothing
// could fail or look at them before a deeper frame is made (the `stack` depth of an error may
// then be smaller).
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "runtime/zero_table.h"

namespace interp {
struct Feed;
}

namespace plan {

// Counts the runs of code that may change a block's cells.
extern uint64_t epoch;
// The epoch of the last such run whose target is not known: any block may have changed.
extern uint64_t unknown_epoch;
inline void bump() { unknown_epoch = ++epoch; }
// The epoch of the last run that may have changed each series node's cells (by node; 0: none).
// A plan whose block no run wrote since it was last checked holds without comparing its cells.
extern rt::ZeroTable<uint64_t> written;
void grow_written(uint32_t node);
// A run that may change the cells of this series node only.
inline void bump_node(uint32_t node) {
  if (node >= written.size()) [[unlikely]] grow_written(node);
  written[node] = ++epoch;
}

// Evaluates the block as interp::eval_block does, when the block has a plan (or is evaluated
// often enough to get one); false when it has none yet: the caller walks it.
bool run_block(const Cell& block, bool keep);

// Walks the block's statements in the innermost frame, above its cells, when the block has a
// plan; the value goes to the frame's arguments[0] (top = arguments + 1). The frame's cells (or
// those below it) must keep the block alive. False, nothing done, when the block has no plan yet.
bool walk_in_frame(const Cell& block);

// One expression of the feed's block from its position, as eval_expression evaluates it (its
// value pushed, the feed moved past it), when the block has a plan; false, nothing done, when
// it has none yet or the position is at its tail. The evaluation position is left as it is.
bool eval_statement(interp::Feed& feed);

// How many expressions the block holds from its position, when its plan is made, still holds
// and has planned each of them; -1 otherwise (no plan is made or counted as an evaluation here).
int32_t expression_count(const Cell& block);

// Drops every plan that no walk is using (tests); the others go when their walks end.
void clear();
// How many blocks have a plan now (tests).
uint32_t planned_blocks();

}  // namespace plan
