// Errors on the call-frame stack: raising an error to its try frame, the uncaught-error report,
// the names that errors report as their "where", and the traces of call names.
#include <cstdlib>
#include <string>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/frames.h"
#include "interpreter/trace.h"
#include "platform/os/platform.h"
#include "runtime/gc.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace frames {

using stack::args;
using stack::bottom;
using stack::push_copy;
using stack::top;

namespace {

constexpr int kUncaughtStatus = 254;  // the -2 of the language's exit status, as a process sees it

bool unnamed(const Frame* f) {
  uint32_t symbol = f->header & kSymbolMask;
  return symbol == word::symbol_of(runtime_words::words.frame_body) ||
         symbol == word::symbol_of(runtime_words::words.frame_anon);
}

uint32_t symbol_of(const Frame* f) { return f->header & kSymbolMask; }

// Frames from the bottom up to the limit that a trace names: named ones, and at level 1 or
// below only those whose word refers to a function!.
template <class Visit>
void for_each_traced_frame(int level, uint32_t limit_frame, Visit visit) {
  Frame* limit = frame_bottom + limit_frame;
  for (Frame* f = frame_bottom; f < limit && f < frame_top; f++) {
    if (unnamed(f)) continue;
    if (level <= 1) {
      Cell* value = context::value_cell_of_symbol(symbol_of(f), f->context ? f->context
                                                                           : context::global);
      if (!value || cell::type_of(*value) != TYPE_FUNCTION) continue;
    }
    visit(context::intern_global_word(symbol_of(f)));
  }
}

// Shows the formed error and ends the process: nothing is left to catch it.
[[noreturn]] void report_uncaught(const Cell& error) {
  *args = error;
  Cell text{};
  gc::Guard guard(text);
  string::init_empty(&text, 256);
  datatype::lookup<action::FORM>(TYPE_ERROR)(args, &text, nullptr, INT32_MAX);
  int64_t count = -1;
  const uint8_t* bytes = unicode::string_to_utf8(text, count);
  std::string report(reinterpret_cast<const char*>(bytes), size_t(count));
  // The script's title captions the report once the system object exists.
  platform::error_box(" Zel NoName App", report.c_str());
  std::exit(kUncaughtStatus);
}

// Whether the try frame that will catch an error raised now wants the error's trace.
bool catcher_keeps_trace() {
  for (Frame* f = frame_top - 1; f >= frame_bottom; f--) {
    uint32_t kind = f->header & kKindMask;
    if (kind == kTry || kind == kTryAll) return (f->header & kKeepTraceFlag) != 0;
  }
  return false;
}

}  // namespace

void throw_error(Cell* error) {
  Cell e = *error;
  gc::Guard guard(e);
  bool caught = false;
  if (frame_top > frame_bottom) {
    error::set_where_if_none(e, call_name());
    save_error_frame(&e);
    if (catcher_keeps_trace()) capture_trace(&e);
    Cell* remembered_top = top;
    Frame* found = unwind_to_kind(kTry, false);
    uint32_t kind = found->header & kKindMask;
    caught = kind == kTry || kind == kTryAll;
    unwind_drop();
    top = remembered_top;
  }
  if (!caught) report_uncaught(e);
  push_copy(e);
  throw rt::Throw{rt::kThrowError};
}

void save_error_frame(Cell* error) {
  Cell* slot = error::field(*error, error::stack_field_index());
  if (cell::type_of(*slot) == TYPE_BLOCK) return;
  *slot = Cell{TYPE_INTEGER, 0, uint32_t(frame_top - frame_bottom), 0};
}

Cell call_name() {
  Frame* f = throwing_frame_position();
  if (!f) f = frame_top - 1;
  clear_throwing_frame();
  while (f >= frame_bottom && unnamed(f)) f--;
  if (f < frame_bottom) return runtime_words::words.frame_not_found;
  if (!f->context) return context::intern_global_word(symbol_of(f));
  return word::lookup_in_context(f->context, symbol_of(f));
}

Cell callee_parameter_word(int ordinal) {
  Frame* f = throwing_frame_position();
  if (!f) f = frame_top - 1;
  while (f >= frame_bottom && unnamed(f)) f--;
  if (f < frame_bottom || ordinal < 0) return constants::none;
  uint32_t parameters = f->callee_context;
  if (!parameters) {
    const Cell* value;
    if (symbol_of(f) == word::symbol_of(runtime_words::words.frame_applied)) {
      // apply calls a value that no word names; the call keeps it just below its arguments.
      Cell* frame_args = f + 1 < frame_top ? bottom + (f + 1)->saved_base : args;
      value = frame_args > bottom ? frame_args - 1 : nullptr;
    } else {
      value = context::value_cell_of_symbol(symbol_of(f), f->context ? f->context
                                                                     : context::global);
    }
    if (!value) return constants::none;
    Cell callee = cell::type_of(*value) == TYPE_OP ? native::unwrap_op(*value) : *value;
    switch (cell::type_of(callee)) {
      case TYPE_NATIVE: case TYPE_ACTION: parameters = native::arg_context(callee); break;
      case TYPE_FUNCTION: case TYPE_ROUTINE: parameters = function::context_of(callee); break;
      default: return constants::none;
    }
  }
  if (uint32_t(ordinal) >= context::word_count(parameters)) return constants::none;
  return *context::word_at(parameters, uint32_t(ordinal));
}

void collect_trace(int level, Cell* block, uint32_t limit_frame) {
  for_each_traced_frame(level, limit_frame, [&](const Cell& word) { block::append_cell(*block, word); });
}

int32_t form_trace(int level, const Cell* limit, Cell* out, int32_t part) {
  for_each_traced_frame(level, uint32_t(integer::get_value(*limit)), [&](const Cell& word) {
    Cell w = word;
    part = datatype::lookup<action::FORM>(TYPE_WORD)(&w, out, nullptr, part);
    part -= cell::append_text(out, " ");
  });
  return part;
}

void capture_trace(Cell* value) {
  if (cell::type_of(*value) != TYPE_ERROR) return;
  Cell error = *value;
  const Cell* position = error::field(error, error::kStack);
  if (cell::type_of(*position) != TYPE_INTEGER) return;
  uint32_t limit = uint32_t(integer::get_value(*position));
  Cell trace = constants::none;
  gc::Guard guard_error(error), guard_trace(trace);
  block::init_empty(&trace, 20);
  // The stack-trace setting of the system object comes with it; until then, level 1.
  collect_trace(1, &trace, limit);
  *error::field(error, error::kStack) = trace;
}

namespace {

bool raising = false;  // an error is being built for the raiser

struct Raising {
  Raising() { raising = true; }
  ~Raising() { raising = false; }
};

}  // namespace

// An error raised while the error is being built (memory or stacks exhausted) is thrown without
// a value: nothing sound is left.
void raise(const char* category, const char* id, const Cell* arg1, const Cell* arg2,
           const Cell* arg3) {
  rt::raised = rt::RaisedError{category, id};
  if (raising) rt::throw_code(rt::kThrowError);
  Cell* error;
  {
    Raising building;
    error = error::create_from_names(category, id, arg1, arg2, arg3);
  }
  if (trace::events & trace::kError) [[unlikely]] {
    // An exit in progress waits while the callback runs.
    const uint32_t saved = interp::pending;
    interp::pending = 0;
    trace::fire(trace::kError, nullptr, trace::kNoPosition, nullptr, error);
    interp::pending = saved;
  }
  throw_error(error);
}

void collect_calls(Cell* block) {
  for (Frame* f = frame_top - 1; f > frame_bottom; f--) {
    if (unnamed(f)) continue;
    uint32_t symbol = symbol_of(f);
    Cell name = word::lookup_in_context(f->callee_context ? f->callee_context : context::global,
                                        symbol);
    block::append_cell(*block, name);
    block::append_cell(*block, Cell{TYPE_INTEGER, 0, f->saved_base, 0});
  }
}

}  // namespace frames
