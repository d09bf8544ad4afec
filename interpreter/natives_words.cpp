// The word, context and function natives: func, function, does, has (function makers over
// datatypes/function.h), get, set, unset, value?, bind, new-line and new-line?, and the setting
// of a block of words from a value that `set` and the iteration natives share.
// Relies on the native protocol of interpreter/natives.h and on the rooting rule of runtime/gc.h:
// every value in the making sits on the data stack; cells read from blocks are copied first.
#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/dispatch.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "interpreter/natives.h"
#include "runtime/throw.h"

namespace natives {

namespace {

inline bool present(const int32_t* refinements, int i) { return refinements[i] >= 0; }

bool is_path(uint8_t type) {
  return type == TYPE_PATH || type == TYPE_LIT_PATH || type == TYPE_SET_PATH ||
         type == TYPE_GET_PATH;
}

// --- Function makers -----------------------------------------------------------------------------

// The function of the spec arg(0) and the body arg(1) becomes the result.
void make_function() {
  uint32_t flags = function::validate_spec(*stack::arg(0));
  Cell* made = function::make_function_value(*stack::arg(0), *stack::arg(1), 0, 0, 0, flags);
  stack::set_only_result(*made);
}

}  // namespace

void func(const int32_t*) { make_function(); }

// The spec is a copy the local collector may extend; /extern is read from inside the spec.
void function_native(const int32_t*) {
  block::head_cell(*stack::arg(0));
  *stack::arg(0) = *block::push_clone(*stack::arg(0), false, false);
  function::collect_local_words(*stack::arg(0), *stack::arg(1));
  make_function();
}

void does(const int32_t*) {
  stack::keep();
  stack::push_copy(*stack::arg(0));  // the body moves to arg(1)
  *stack::arg(0) = Cell{TYPE_BLOCK, 0, 0, 0};
  block::init_empty(stack::arg(0), 1);
  make_function();
}

void has(const int32_t*) {
  block::head_cell(*stack::arg(0));
  Cell* spec = block::push_clone(*stack::arg(0), false, false);
  block::insert_value(*spec, runtime_words::refinements.local, false, true);
  *stack::arg(0) = *spec;
  make_function();
}

// --- Reading and writing words -------------------------------------------------------------------

namespace {

}  // namespace

// get word /any /case
void get(const int32_t* refinements) {
  const Cell target = *stack::arg(0);
  uint8_t type = cell::type_of(target);
  if (is_path(type)) {
    interp::get_path(target, present(refinements, 1));
    if (interp::pending) return;
    stack::set_only_result(*stack::top_cell());
  } else if (type == TYPE_OBJECT) {
    object::reflect(stack::arg(0), runtime_words::symbols.values);
  } else {
    const Cell* value = context::word_value_cell(target);
    if (!present(refinements, 0) && cell::type_of(*value) == TYPE_UNSET) {
      rt::fire_error("script", "no-value", &target);
    }
    stack::set_only_result(*value);
  }
}

// set word value /any /case /only /some
void set(const int32_t* refinements) {
  const object::SetOptions options{.any = present(refinements, 0),
                                   .only = present(refinements, 2),
                                   .some = present(refinements, 3)};
  Cell target = *stack::arg(0);
  Cell* value = stack::arg(1);
  if (!options.any && cell::type_of(*value) == TYPE_UNSET) {
    rt::fire_error("script", "need-value", &target);
  }
  uint8_t type = cell::type_of(target);
  if (is_path(type)) {
    interp::set_path(target, value, present(refinements, 1));
    if (interp::pending) return;
    stack::set_only_result(*stack::top_cell());
    return;
  }
  if (type == TYPE_OBJECT) {
    object::set_many(stack::arg(0), value, options);
  } else if (type == TYPE_BLOCK) {
    Cell* caller_top = stack::top;
    frames::mark_native(runtime_words::words.frame_anon);  // names the frame of its errors
    set_words_from(target, *value, block::rest_length(target), options);
    frames::unwind();
    stack::top = caller_top;
  } else {
    object::write_word(target, *value);
  }
  stack::set_only_result(*stack::arg(1));
}

void unset(const int32_t*) {
  const Cell target = *stack::arg(0);
  if (cell::type_of(target) == TYPE_WORD) {
    Cell word = target;
    context::write_word(word, constants::unset);
  } else {
    // Indexes, not addresses: adding a word to its context may move the block's buffer.
    const int32_t head = cell::series_index_signed(target);
    for (int32_t i = head; i < head + block::rest_length(target); i++) {
      Cell item = *block::cell_at(target, i);
      if (cell::type_of(item) == TYPE_WORD) context::write_word(item, constants::unset);
    }
  }
  stack::set_only_result(constants::unset);
}

namespace {

// A word that cannot be read (unbound, or not in its context's table) has no value: the answer
// is false, not the no-value error a read would raise.
bool has_value(const Cell& value) {
  if (!is_settable_word(cell::type_of(value))) return cell::type_of(value) != TYPE_UNSET;
  if (!word::context_of(value)) return false;
  if (word::index_of(value) == context::kUnresolved &&
      symbol::resolve_alias(word::symbol_of(value)) != runtime_words::symbols.self) {
    return false;
  }
  return cell::type_of(*context::word_value_cell(value)) != TYPE_UNSET;
}

}  // namespace

void value_q(const int32_t*) {
  bool answer = has_value(*stack::arg(0));
  stack::set_only_result(logic::make(answer));
}

// --- Binding -------------------------------------------------------------------------------------

namespace {

}  // namespace

// bind word context /copy
void bind(const int32_t* refinements) {
  const Cell context_arg = *stack::arg(1);
  const uint8_t context_type = cell::type_of(context_arg);
  uint32_t node = context_type == TYPE_FUNCTION ? function::context_of(context_arg)
                  : context_type == TYPE_OBJECT ? object::context_of(context_arg)
                                                : word::context_of(context_arg);
  if (!node) rt::fire_error("script", "not-in-context", &context_arg);
  if (cell::type_of(*stack::arg(0)) != TYPE_BLOCK) {
    context::bind_word(node, *stack::arg(0));
    stack::keep();
    return;
  }
  if (present(refinements, 0)) *stack::arg(0) = *block::push_clone(*stack::arg(0), true, true);
  context::bind_block(*stack::arg(0), node, cell::type_of(context_arg) == TYPE_OBJECT);
  stack::keep();
}

// --- New-line markers ----------------------------------------------------------------------------

namespace {

}  // namespace

// new-line list value /all /skip size
void new_line(const int32_t* refinements) {
  Cell list = *stack::arg(0);
  bool value = logic::value_of(*stack::arg(1)) != 0;
  int32_t step = 1;
  if (present(refinements, 1)) {
    const Cell size = *stack::arg(refinements[1]);
    step = cell::get_integer_arg(size);
    if (step <= 0) rt::fire_error("script", "out-of-range", &size);
  }
  Cell* first = block::head_cell(list);
  Cell* end = block::tail_cell(list);
  if (!present(refinements, 0) && !present(refinements, 1) && first < end) end = first + 1;
  for (Cell* c = first; c < end; c++) {
    bool marked = (c - first) % step == 0 ? value : !value;
    c->header = marked ? c->header | cell::kNewLine : c->header & ~cell::kNewLine;
  }
  stack::keep();
}

void new_line_q(const int32_t*) {
  Cell list = *stack::arg(0);
  const Cell* head = block::head_cell(list);
  bool marked = head < block::tail_cell(list) && (head->header & cell::kNewLine);
  stack::set_only_result(logic::make(marked));
}

bool is_settable_word(uint8_t type) {
  return type == TYPE_WORD || type == TYPE_SET_WORD || type == TYPE_GET_WORD ||
         type == TYPE_LIT_WORD;
}

Cell pick_element(const Cell& series, int32_t i) {
  Cell holder = series;  // pick writes its result over the value it is given
  Cell index = integer::make(i);
  return *datatype::resolve<action::PICK>(cell::type_of(series), series)(&holder, i, &index);
}

Cell settable_word(const Cell& words, int32_t i) {
  Cell word = pick_element(words, i);
  if (!is_settable_word(cell::type_of(word))) rt::fire_error("script", "invalid-arg", &word);
  return word;
}

void set_words_from(const Cell& words, const Cell& source, int32_t n,
                    const object::SetOptions& options) {
  uint8_t type = cell::type_of(source);
  bool from_series = !options.only && (types::any_block(type) || type == TYPE_MAP);
  // Everything is checked before the first word changes, whatever the source: a bad words
  // block must not leave its first words set.
  for (int32_t i = 1; i <= n; i++) {
    Cell word = settable_word(words, i);
    if (from_series && !options.any && cell::type_of(pick_element(source, i)) == TYPE_UNSET) {
      rt::fire_error("script", "need-value", &word);
    }
  }
  for (int32_t i = 1; i <= n; i++) {
    Cell value = from_series ? pick_element(source, i) : source;
    if (options.some && cell::type_of(value) == TYPE_NONE) continue;
    Cell word = pick_element(words, i);
    context::write_word(word, value);
  }
}

}  // namespace natives
