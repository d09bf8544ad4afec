// print and prin: a block is reduced into a shared scratch block, the value is formed into text
// and handed to the print hooks (runtime/print.h) with the newline flag. Relies on the reduce
// native of the flow family and on the rooting rule of runtime/gc.h: the scratch block hangs off
// the runtime's root block, and everything made while printing sits on the data stack.
#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/constants.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "interpreter/dispatch.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "interpreter/natives.h"
#include "runtime/print.h"
#include "runtime/throw.h"

namespace natives {

bool last_lf = false;

namespace {

// The reduced arguments of every print in progress: each print appends from the tail it finds
// and cuts the block back to that tail when done, so a print nested in another's block (run
// while that block is being reduced) leaves the outer print's values alone.
constexpr int32_t kScratchCells = 32;
uint32_t scratch = 0;

Cell scratch_at(int32_t index) { return Cell{TYPE_BLOCK, uint32_t(index), scratch, 0}; }

// reduce/into of the block into the scratch block at `mark`, in a native frame of its own.
// Returns false when an exit (break, return...) is on its way to a frame further out.
bool reduce_into_scratch(const Cell& block, int32_t mark) {
  Cell* caller_top = stack::top;
  frames::mark_native(runtime_words::words.frame_anon);
  stack::push_copy(block);
  stack::push_copy(scratch_at(mark));
  const int32_t into[] = {1};
  entry(REDUCE)(into);
  if (interp::exiting()) return false;  // the stacks are already shaped for the exit's target
  frames::unwind();
  stack::top = caller_top;
  return true;
}

// Reduces a block value arg(0) into the scratch block from `mark`, forms the value into text and
// hands it to the print hooks. False when an exit (break, return...) left the block's reduction
// for a frame further out.
bool emit(int newline, int32_t mark) {
  Cell* value = stack::arg(0);
  if (cell::type_of(*value) == TYPE_BLOCK) {
    if (!reduce_into_scratch(*value, mark)) return false;
    *value = scratch_at(mark);  // only the values just reduced
  }
  stack::keep();
  if (cell::type_of(*value) == TYPE_STRING) {
    string::rest_length(*value);  // clamps the head to the tail
  } else {
    Cell* text = stack::push_new();
    *text = constants::none;
    string::init_empty(text, 64);
    datatype::call_form(stack::arg(0), text, nullptr, INT32_MAX);
    *stack::arg(0) = *text;
  }
  rt::run_print_hooks(stack::arg(0), newline);
  return true;
}

// The print core: newline 1 for print, 0 for prin.
void print_value(int newline) {
  const Cell scratch_block = scratch_at(0);
  int32_t mark = block::rest_length(scratch_block);
  bool done;
  try {
    done = emit(newline, mark);
  } catch (...) {
    block::set_tail_index(scratch_block, mark);
    throw;
  }
  block::set_tail_index(scratch_block, mark);
  if (!done) return;
  last_lf = newline != 0;
  stack::set_only_result(constants::unset);
}

}  // namespace

void print(const int32_t*) { print_value(1); }
void prin(const int32_t*) { print_value(0); }

void init_print() { scratch = cell::series_node(*block::append_to_block(nullptr, kScratchCells)); }

}  // namespace natives
