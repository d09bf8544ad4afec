// The parse dialect engine: matches a series (any block type, any string type, binary!) against
// a block of rules, extracting (set, copy, collect/keep) and editing (insert, change, remove) the
// input while it matches.
//
// One loop over two explicit stacks, never machine recursion per rule level: sub-rule blocks and
// the commands that wait for a sub-rule (repetitions, to/thru, copy, set, not, ahead, into,
// remove, change, collect, keep, case) are entries of the rule stack, completed when their
// sub-rule ends; the input stack holds the input of each `into` level and of each nested run. Both
// stacks are shared by nested runs (a parse called from a paren works above the one that called
// it) and are limited: reaching the limit raises script/parse-stack. Every way out of a run
// (result, error, a break or return leaving through a paren) leaves both stacks as it found them.
//
// Code run from parens may change the input or the rules: positions are indexes, re-read and
// kept within the tails after every evaluation and edit; both stacks are collector roots.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace parse {

// No /part limit.
constexpr int64_t kNoLimit = -1;

// Runs the rules over the input from its position: true when they matched and consumed the
// input up to its tail (or up to `limit`, an absolute index); the collected block! instead when
// the outermost collect has no target. case_sensitive: the comparison mode that `case` changes.
// With an exit pending afterwards (interp::pending) the result means nothing. May allocate; the
// result must be stored before the next allocation.
//
// With a trace callback (a function! in a cell that stays put), each step reports its events to
// it: (event match? rule input stack), the event one of push (a sub-rule begins), pop (it ends),
// fetch (a rule item is taken), match (a value was tried at the input), iterate (a repetition or
// a to/thru search goes on), paren (a paren was evaluated) and end (the run's result); rule is the
// rule block at its position, input the input at its, stack the sub-rules running. An answer of
// none or false stops the run at once: its result is then the last match result.
Cell run(const Cell& input, const Cell& rules, bool case_sensitive, int64_t limit,
         const Cell* callback = nullptr);

// Entries on the rule stack and levels on the input stack (both 0 outside any run).
uint32_t rule_depth();
uint32_t input_depth();

// The cells one stack may hold; a rule-stack entry counts kCellsPerEntry.
constexpr uint32_t kStackCells = 10001;
constexpr uint32_t kCellsPerEntry = 2;

// Fast paths on (the default) or off: with them off every repetition of a single value runs its
// sub-rule through the general path, and to and thru a text compare at each position, for the
// differential tests.
void set_fast_paths(bool on);

// The keyword table and the stacks' collector root. Once, at start-up.
void init();

}  // namespace parse
