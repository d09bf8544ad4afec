// The object natives: construct, extend, in and context?. They follow the native protocol of
// interpreter/natives.h (arguments checked against their specs in boot/env/20-objects.zel, the
// result in stack::arg(0)) and build on the object datatype (datatypes/object.h).
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/stack.h"
#include "datatypes/word.h"
#include "interpreter/natives.h"

namespace natives {

// construct block /with object /only
void construct(const int32_t* refinements) {
  enum { WITH, ONLY };
  const Cell* prototype = refinements[WITH] >= 0 ? stack::arg(refinements[WITH]) : nullptr;
  Cell* made = object::construct(*stack::arg(0), prototype, refinements[ONLY] >= 0);
  stack::set_result(*made);
}

// extend obj spec /case: a map takes the spec's pairs and is the result; an object raises
// internal/not-done, the defined answer (objects are extended by make).
void extend(const int32_t* refinements) {
  if (cell::type_of(*stack::arg(0)) != TYPE_MAP) cell::fire_not_done();
  map::extend(*stack::arg(0), *stack::arg(1), refinements[0] >= 0);
}

// in object word
void in(const int32_t*) {
  Cell word = *stack::arg(1);
  uint8_t type = cell::type_of(word);
  if (type == TYPE_BLOCK || type == TYPE_PAREN) return;  // the result stays the first argument
  const Cell& owner = *stack::arg(0);
  uint32_t context = types::any_function(cell::type_of(owner)) ? function::context_of(owner)
                                                                : object::context_of(owner);
  if (context::bind_word(context, word) < 0) {
    stack::set_result(constants::none);
    return;
  }
  if (type == TYPE_REFINEMENT) cell::set_type(word, TYPE_WORD);
  stack::set_result(word);
}

// context? word: the object or function that owns the word's context; none! for a word bound
// to no context.
void context_q(const int32_t*) {
  uint32_t context = word::context_of(*stack::arg(0));
  stack::set_result(context ? *context::owner_cell(context) : constants::none);
}

}  // namespace natives
