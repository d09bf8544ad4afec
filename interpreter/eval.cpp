// The block walker: block evaluation, one expression by the datatype of its first cell, the
// left-to-right operator look-ahead, set-words and set-paths. Paths are eval_path.cpp, calls
// call.cpp. Relies on the frame convention of datatypes/stack.h and on the rooting rule:
// values that must outlive a step sit on the data stack, positions are (node, index) pairs.
#include "interpreter/eval.h"

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/native.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "interpreter/call.h"
#include "interpreter/dispatch.h"
#include "interpreter/frames.h"
#include "interpreter/plan.h"
#include "interpreter/trace.h"
#include "runtime/alloc.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"

namespace interp {

uint32_t pending = 0;
Cell eval_position = constants::unset;

namespace {


// The operator a word names, when the word is bound to a context whose values exist; else null.
inline const Cell* operator_of(const Cell& word) {
  if (cell::type_of(word) != TYPE_WORD || !word::context_of(word) ||
      word::index_of(word) == context::kUnresolved) {
    return nullptr;
  }
  if (!context::has_values(word::context_of(word))) return nullptr;
  const Cell* value = word_value(word);
  return cell::type_of(*value) == TYPE_OP ? value : nullptr;
}

// Closes a native frame the way a nested evaluation does: push leaves the result as the caller's
// newest cell, else it goes to the caller's arguments[0].
inline void close_frame(bool push) {
  if (push) {
    frames::unwind();
  } else {
    frames::unwind_last();
  }
}

void set_word_expression(Feed& feed, const Cell& set_word, bool push) {
  Cell name = set_word;
  frames::mark_native(name);
  stack::push_copy(name);
  if (!feed_cell(feed)) rt::fire_error("script", "need-value", &name);
  eval_expression(feed, {.push = true});
  if (pending) return;
  trace::fire_if(trace::kSet, &feed.block, feed.index, &name, stack::top - 1);
  absorb_exits([] { word::set_from_stack(*stack::arg(0)); });
  if (pending) return;
  close_frame(push);
}

void set_path_expression(Feed& feed, const Cell& target, bool push) {
  Cell path = target;
  if (!feed_cell(feed)) rt::fire_error("script", "need-value", &path);
  frames::mark_native(runtime_words::words.set_path);
  eval_expression(feed, {.push = true});
  if (pending) return;
  gc::Guard guard(path);
  trace::fire_if(trace::kSet, &feed.block, feed.index, &path, stack::top - 1);
  set_path(path, stack::arg(0), false);
  if (pending) return;
  *stack::arg(0) = *stack::top_cell();
  close_frame(push);
}

bool is_system_issue(const Cell& issue) {
  uint32_t symbol = symbol::resolve_alias(word::symbol_of(issue));
  return symbol == symbol::resolve_alias(runtime_words::symbols.system) ||
         symbol == symbol::resolve_alias(runtime_words::symbols.system_global);
}

// An operator's right operand when it is exactly one cell that needs no evaluation: an integer!
// or float! literal, or a word that holds one. Null otherwise.
inline bool plain_number(const Cell& value) {
  return cell::type_of(value) == TYPE_INTEGER || cell::type_of(value) == TYPE_FLOAT;
}
const Cell* plain_number_operand(const Cell* cell) {
  if (!cell) return nullptr;
  if (plain_number(*cell)) return cell;
  if (cell::type_of(*cell) != TYPE_WORD || !word::context_of(*cell) ||
      word::index_of(*cell) == context::kUnresolved ||
      !context::has_values(word::context_of(*cell))) {
    return nullptr;
  }
  const Cell* held = word_value(*cell);
  return plain_number(*held) ? held : nullptr;
}

// The cell after the feed's position, or null.
inline const Cell* next_cell(const Feed& feed) {
  return feed_cell(Feed{feed.block, feed.index + 1, feed.limit});
}

// An operator word met while tracing: fetched (fired; the callback may change the code), then
// called the general way. False when no operator is there any more.
[[gnu::noinline, gnu::cold]] bool traced_operator(Feed& feed, Cell* operand, bool push) {
  trace::fire_if(trace::kFetch, &feed.block, feed.index, nullptr, feed_cell(feed));
  const Cell* next = feed_cell(feed);
  const Cell* op = next ? operator_of(*next) : nullptr;
  if (!op) return false;
  Cell name = *next;
  Cell function = native::unwrap_op(*op);
  feed.index++;
  stack::top = operand + 1;
  CallSite site;
  site.name = &name;
  site.infix = true;
  site.push = push;
  call(function, feed, site);
  return true;
}

// While tracing, the value a data expression (the one at `start`) delivered.
template <bool kTraced>
inline void traced_push(const Feed& feed, uint32_t start, bool push) {
  if constexpr (kTraced) {
    trace::fire_if(trace::kPush, &feed.block, start, nullptr, push ? stack::top - 1 : stack::args);
  }
}

// The general walk of a block in an eval frame of its own.
void walk_block(const Cell& block, bool keep) {
  Cell saved = eval_position;
  Feed feed{block, cell::series_index(block), kToTail};
  frames::mark_eval(runtime_words::words.frame_body);
  // The walked block may lose its last holder while it runs (a paren whose code clears the
  // block around it): its frame keeps it alive.
  frames::top_frame()->callable = block;
  trace::fire_if(trace::kEnter, &feed.block, feed.index, nullptr, nullptr);
  if (!feed_cell(feed)) {
    stack::set_only_result(constants::unset);
  } else {
    for (;;) {
      eval_position = feed.block;
      cell::set_series_index(eval_position, feed.index);
      eval_expression(feed, {});
      if (pending) {
        eval_position = saved;
        return;
      }
      if (!feed_cell(feed)) break;
      stack::reset();
    }
  }
  trace::fire_if(trace::kExit, &feed.block, cell::cell_count(cell::series_node(feed.block)),
                 nullptr, stack::args);
  eval_position = saved;
  close_frame(!keep);
}

// While tracing: an exit that a trace callback raised as a C++ throw becomes pending here, where
// the natives that are its targets (loops, catch, function bodies) look for it.
[[gnu::noinline, gnu::cold]] void traced_block(const Cell& block, bool keep) {
  const Cell saved = eval_position;
  try {
    walk_block(block, keep);
  } catch (const rt::Throw& t) {
    if (t.code < rt::kThrowThrow || t.code > rt::kThrowBreak) throw;
    pending = t.code;
    eval_position = saved;
  }
}

}  // namespace

void apply_operators(Feed& feed, Cell* operand, bool push) {
  for (;;) {
    const Cell* next = feed_cell(feed);
    if (!next) return;
    const Cell* op = operator_of(*next);
    if (!op) return;
    if (trace::events) [[unlikely]] {
      if (!traced_operator(feed, operand, push) || pending) return;
      continue;
    }
    const Cell* right = plain_number_operand(next_cell(feed));
    if (right && number_operator(native::unwrap_op(*op), *operand, *right, operand)) {
      feed.index += 2;
      stack::top = operand + 1;
      continue;
    }
    Cell name = *next;
    Cell function = native::unwrap_op(*op);
    feed.index++;
    stack::top = operand + 1;  // the operand stays the newest live cell through the call
    if (call_lean(function, feed, name, push, true)) {
      if (pending) return;
      continue;
    }
    CallSite site;
    site.name = &name;
    site.infix = true;
    site.push = push;
    call(function, feed, site);
    if (pending) return;
  }
}

bool quick_expression(Feed& feed, bool no_infix) {
  alloc::Series* series = alloc::series_of(cell::series_node(feed.block));
  const uint32_t length = series->used() / sizeof(Cell);
  const uint32_t end = feed.limit < length ? feed.limit : length;
  const uint32_t index = feed.index;
  if (index >= end) return false;
  const Cell* cells = reinterpret_cast<const Cell*>(series->head_ptr());
  const Cell* value = cells + index;
  switch (cell::type_of(*value)) {
    case TYPE_WORD:
      value = word_value(*value);
      switch (cell::type_of(*value)) {
        case TYPE_UNSET: case TYPE_OP: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION:
        case TYPE_ROUTINE:
          return false;
        default:
          break;
      }
      break;
    case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_PATH: case TYPE_SET_PATH:
    case TYPE_GET_PATH: case TYPE_LIT_PATH: case TYPE_PAREN: case TYPE_NATIVE: case TYPE_ACTION:
    case TYPE_FUNCTION: case TYPE_ROUTINE: case TYPE_OP: case TYPE_ISSUE:
      return false;
    default:
      break;
  }
  Cell* operand = stack::push_copy(*value);
  feed.index = index + 1;
  if (!no_infix && index + 1 < end && cell::type_of(cells[index + 1]) == TYPE_WORD) {
    apply_operators(feed, operand, true);
  }
  return true;
}

void raise_pending() {
  if (!pending) return;
  uint32_t code = pending;
  pending = 0;
  throw rt::Throw{code};
}

const Cell* feed_cell(const Feed& feed) {
  uint32_t length = cell::cell_count(cell::series_node(feed.block));
  uint32_t end = feed.limit < length ? feed.limit : length;
  if (feed.index >= end) return nullptr;
  return cell::cells_of(cell::series_node(feed.block)) + feed.index;
}

void run_spec(const Cell& block) {
  eval_block(block, false);
  if (exiting()) raise_pending();
}

void init() {
  eval_position = constants::unset;
  gc::add_marker([] { gc::mark_series_cell(eval_position); });
  upcall::interpreter = upcall::Interpreter{
      .run_spec = run_spec,
      .call_handler = call_handler,
      .call_function = call_function,
      .call_back = call_back,
      .native_made = make_native_cache,
      .call_name = frames::call_name,
      .parameter_word = frames::callee_parameter_word,
      .eval_position = [] { return eval_position; },
      .enter_frame = frames::mark_native,
      .leave_frame = [] { frames::unwind(); },
  };
  rt::set_error_raiser(frames::raise);  // the error catalog exists by now
  trace::init();
}

void skip_header(Cell* block) {
  Feed feed{*block, cell::series_index(*block), kToTail};
  const Cell* first = feed_cell(feed);
  if (!first || cell::type_of(*first) != TYPE_WORD) return;
  if (symbol::resolve_alias(word::symbol_of(*first)) !=
      symbol::resolve_alias(symbol::intern_c_string("Zel"))) {
    return;
  }
  feed.index++;
  const Cell* header = feed_cell(feed);
  if (header && cell::type_of(*header) == TYPE_BLOCK) {
    cell::set_series_index(*block, feed.index + 1);
  }
}

namespace {

[[gnu::noinline]] void run_block(const Cell& block, bool keep) {
  if (plan::run_block(block, keep)) return;
  walk_block(block, keep);
}

}  // namespace

// The trace's test comes before anything else the block's walk sets up.
void eval_block(const Cell& block, bool keep) {
  if (trace::events) [[unlikely]] return traced_block(block, keep);
  run_block(block, keep);
}

namespace {

[[gnu::noinline]] void run_in_frame(const Cell& block) {
  if (plan::walk_in_frame(block)) return;
  eval_block(block, true);
  if (!pending) stack::top = stack::args + 1;
}

}  // namespace

void eval_block_in_frame(const Cell& block) {
  if (trace::events) [[unlikely]] {  // walked generally, in a frame of its own
    eval_block(block, true);
    if (!pending) stack::top = stack::args + 1;
    return;
  }
  run_in_frame(block);
}

uint32_t eval_next(Feed& feed, bool push) {
  frames::mark_interp_native(runtime_words::words.frame_body);
  eval_expression(feed, {});
  if (pending) return feed.index;
  close_frame(push);
  return feed.index;
}

namespace {

// One expression; traced: with its events, and by the general roads only.
template <bool kTraced>
void expression(Feed& feed, ExpressionOptions options) {
  const bool push = options.push;
  Cell* operand = stack::top;
  const uint32_t start = feed.index;
  const Cell* at = feed_cell(feed);
  if constexpr (kTraced) {
    if (trace::events & trace::kFetch) {
      trace::fire(trace::kFetch, &feed.block, start, nullptr, at);
      at = feed_cell(feed);  // the callback may have changed the code
      if (!at) return stack::deliver(constants::unset, push);
    }
  }
  feed.index++;
  switch (cell::type_of(*at)) {
    case TYPE_WORD: {
      const Cell* value = word_value(*at);
      switch (cell::type_of(*value)) {
        case TYPE_UNSET:
          rt::fire_error("script", "no-value", at);
        case TYPE_OP:
          rt::fire_error("script", "no-op-arg", at);
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE: {
          Cell function = *value;
          Cell name = *at;
          if (!kTraced && call_lean(function, feed, name, push, false)) {
            if (pending) return;
            break;
          }
          CallSite site;
          site.name = &name;
          site.push = push;
          call(function, feed, site);
          if (pending) return;
          break;
        }
        default:
          stack::deliver(*value, push);
          traced_push<kTraced>(feed, start, push);
      }
      break;
    }
    case TYPE_SET_WORD:
      set_word_expression(feed, *at, push);
      if (pending) return;
      break;
    case TYPE_PAREN:
      // The block evaluation's own frame places the value as push asks.
      eval_block(Cell(*at), !push);
      if (pending) return;
      break;
    case TYPE_GET_WORD:
      stack::deliver(*context::word_value_cell(*at), push);
      traced_push<kTraced>(feed, start, push);
      break;
    case TYPE_LIT_WORD: {
      Cell plain = *at;
      plain.header = TYPE_WORD;
      stack::deliver(plain, push);
      traced_push<kTraced>(feed, start, push);
      break;
    }
    case TYPE_PATH: case TYPE_GET_PATH: {
      Cell path = *at;
      gc::Guard guard(path);
      eval_path(path, &feed, {.get = cell::type_of(path) == TYPE_GET_PATH, .push = push});
      if (pending) return;
      break;
    }
    case TYPE_SET_PATH:
      set_path_expression(feed, *at, push);
      if (pending) return;
      break;
    case TYPE_LIT_PATH: {
      Cell path = *at;
      path.header = TYPE_PATH;
      cell::set_series_extra(path, 0);
      stack::deliver(path, push);
      traced_push<kTraced>(feed, start, push);
      break;
    }
    case TYPE_OP:
      cell::fire_not_done();  // an op! met directly: the defined answer (it has no left operand)
    case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE: {
      if (options.literal_functions) {
        stack::deliver(*at, push);
        traced_push<kTraced>(feed, start, push);
        break;
      }
      Cell function = *at;
      CallSite site;
      site.push = push;
      call(function, feed, site);
      if (pending) return;
      break;
    }
    case TYPE_ISSUE: {
      const Cell* next = feed_cell(feed);
      if (next && cell::type_of(*next) == TYPE_BLOCK && is_system_issue(*at)) {
        rt::fire_error("internal", "zel-system");
      }
      stack::deliver(*at, push);
      traced_push<kTraced>(feed, start, push);
      break;
    }
    default:
      stack::deliver(*at, push);
      traced_push<kTraced>(feed, start, push);
  }
  if (!options.no_infix) apply_operators(feed, push ? operand : stack::args, push);
  if constexpr (kTraced) {
    if ((trace::events & trace::kExpr) && !push && !pending) {
      trace::fire(trace::kExpr, &feed.block, feed.index, nullptr, stack::args);
    }
  }
}

}  // namespace

void eval_expression(Feed& feed, ExpressionOptions options) {
  if (trace::events) [[unlikely]] return expression<true>(feed, options);
  expression<false>(feed, options);
}

}  // namespace interp
