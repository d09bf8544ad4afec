// Cell helpers on words and contexts: storing the newest data-stack cell as a word's or a
// context's value, checked reads, and the refinement arguments of a call.
// Relies on datatypes/context.h; the data stack never moves, so its cells stay valid here.
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/stack.h"
#include "runtime/throw.h"

namespace cell {

namespace {

[[noreturn]] void fire_word_error(const char* id, Cell word) {
  rt::fire_error("script", id, &word);
}

// The newest stack cell, which must not be unset!; the word names the error.
const Cell& value_to_store(const Cell& word) {
  const Cell* value = stack::top_cell();
  if (type_of(*value) == TYPE_UNSET) fire_word_error("need-value", word);
  return *value;
}

}  // namespace

Cell* set_word_from_stack(const Cell& word) {
  Cell target = word;  // the caller's cell keeps its index; the lookup happens again next time
  return context::write_word(target, value_to_store(word));
}

Cell* set_word_from_stack_reset(const Cell& word) {
  Cell* slot = set_word_from_stack(word);
  stack::reset();
  return slot;
}

Cell* set_context_value_from_stack(uint32_t context, uint32_t index) {
  const Cell& value = value_to_store(*context::word_at(context, index));
  Cell* slot = get_context_value_cell(context, index);
  *slot = value;
  return slot;
}

Cell* set_context_value_from_stack_reset(uint32_t context, uint32_t index) {
  Cell* slot = set_context_value_from_stack(context, index);
  stack::reset();
  return slot;
}

Cell* set_context_value_unchecked(uint32_t context, uint32_t index) {
  Cell* slot = context::set_value_at(context, index, *stack::top_cell());
  stack::reset();
  return slot;
}

Cell* get_word_checked(const Cell& word) {
  Cell* value = context::word_value_cell(word);
  if (type_of(*value) == TYPE_UNSET) fire_word_error("no-value", word);
  return value;
}

Cell* get_context_value_cell(uint32_t context, uint32_t index) {
  if (!context::has_values(context)) {
    fire_word_error("not-defined", *context::word_at(context, index));
  }
  return context::values_of(context) + index;
}

// `first_arg` is the refinement's own cell in the callee's frame; its arguments follow it.
void set_refinement_args(const Cell& refinement, Cell* first_arg, uint32_t count) {
  if (!logic::falsy(refinement)) {
    logic::set_value(*first_arg, 1);
    return;
  }
  for (uint32_t i = 1; i <= count; i++) first_arg[i].header = TYPE_NONE;
}

}  // namespace cell
