// Trace events (interpreter/trace.h): the session state, the callback's call, the events of
// function bodies and of the runtime's own callbacks. The firing points are in the evaluator
// (eval.cpp, eval_path.cpp), the calls (call.cpp), the error raiser (frames_error.cpp) and the
// natives do, throw and catch.
#include "interpreter/trace.h"

#include <bit>

#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/call.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "runtime/gc.h"

namespace trace {

uint32_t events = 0;
bool session = false;

namespace {

uint32_t mask = 0;            // the session's events
bool in_callback = false;     // the callback runs: a trace attribute turns nothing on
Cell callback{TYPE_NONE, 0, 0, 0};

constexpr uint32_t kEventCount = 16;
Cell event_words[kEventCount];    // by bit number
uint32_t event_symbols[kEventCount];  // canonical symbols, for the callback's mask block

// The runtime's callbacks by frame name, and their bits in the callback mask of system/state.
struct RuntimeKind {
  const Cell* name;
  uint32_t bit;
};
uint32_t state_symbol = 0, callbacks_symbol = 0, bits_symbol = 0;

// The events whose ref argument reaches the callback.
constexpr uint32_t kRefEvents = kSet | kEpilog | kProlog | kReturn | kCall;

inline uint32_t bit_number(uint32_t event) { return uint32_t(std::countr_zero(event)); }

// The word naming the innermost frame (a call's name).
Cell frame_name() {
  const frames::Frame* f = frames::top_frame();
  const uint32_t symbol = f->header & frames::kSymbolMask;
  return word::lookup_in_context(f->context ? f->context : context::global, symbol);
}

// The callback's call with tracing off; tracing comes back on however it ends.
struct CallbackScope {
  uint32_t saved_events = events;
  bool saved_in_callback = in_callback;
  CallbackScope() {
    events = 0;
    in_callback = true;
  }
  ~CallbackScope() {
    events = saved_events;
    in_callback = saved_in_callback;
  }
};

}  // namespace

void init() {
  const auto& w = runtime_words::words;
  const auto& s = runtime_words::symbols;
  const Cell words[kEventCount] = {
      w.init,   context::intern_global_word(s.end), w.prolog, w.epilog,
      w.enter,  w.exit,   w.open,  w.return_,
      w.fetch,  w.push,   context::intern_global_word(s.set), w.call,
      w.error,  w.throw_, w.catch_, w.expr,
  };
  for (uint32_t i = 0; i < kEventCount; i++) {
    event_words[i] = words[i];
    event_symbols[i] = symbol::resolve_alias(word::symbol_of(words[i]));
  }
  state_symbol = symbol::intern_c_string("state");
  callbacks_symbol = symbol::intern_c_string("callbacks");
  bits_symbol = symbol::intern_c_string("bits");
  callback = constants::none;
  events = 0;
  session = false;
  static bool hooked = false;
  if (!hooked) {
    gc::add_marker([] { gc::mark_value(callback); });
    hooked = true;
  }
}

uint32_t event_mask(const Cell& function) {
  const Cell body = function::body_of(function);
  if (cell::type_of(body) != TYPE_BLOCK ||
      cell::series_index(body) >= cell::cell_count(cell::series_node(body))) {
    return kEveryEvent;
  }
  const Cell first = cell::cells_of(cell::series_node(body))[cell::series_index(body)];
  if (cell::type_of(first) != TYPE_BLOCK) return kEveryEvent;
  uint32_t wanted = 0;
  const uint32_t node = cell::series_node(first);
  for (uint32_t i = cell::series_index(first); i < cell::cell_count(node); i++) {
    const Cell& item = cell::cells_of(node)[i];
    if (cell::type_of(item) != TYPE_WORD) continue;
    const uint32_t symbol = symbol::resolve_alias(word::symbol_of(item));
    for (uint32_t bit = 0; bit < kEventCount; bit++) {
      if (event_symbols[bit] == symbol) wanted |= 1u << bit;
    }
  }
  return wanted;
}

void fire(uint32_t event, const Cell* code, uint32_t index, const Cell* ref, const Cell* value) {
  // The arguments, copied before anything can allocate (the cells may lie in series).
  Cell arguments[6];
  arguments[0] = event_words[bit_number(event)];
  arguments[1] = code ? *code : constants::none;
  int32_t offset = -1;
  if (code && index != kNoPosition && types::any_series(cell::type_of(*code))) {
    const uint32_t head = cell::series_index(*code);
    if (index >= head && index <= cell::cell_count(cell::series_node(*code))) {
      offset = int32_t(index - head);
    }
  }
  arguments[2] = integer::make(offset);
  arguments[3] = value && cell::type_of(*value) != 0 ? *value : constants::none;
  arguments[4] = ref && (event & kRefEvents) ? *ref : constants::none;
  arguments[5] = pair::make(int32_t(stack::cell_index(stack::args)),
                            int32_t(stack::cell_index(stack::top)));
  frames::Frame* const frame_top = frames::frame_top;
  Cell* const top = stack::top;
  stack::push_copy(constants::none);  // the cell at the top may be one being produced
  {
    CallbackScope scope;
    const Cell function = callback;
    interp::call_function(runtime_words::words.frame_interp_callback, function, arguments);
  }
  stack::top = top;
  frames::set_ctop(frame_top);
}

bool start(const Cell& function) {
  if (session) return false;
  callback = function;
  mask = event_mask(function);
  session = true;
  events = mask;
  in_callback = false;
  fire_if(kInit, nullptr, kNoPosition, nullptr, nullptr);
  return true;
}

void finish() {
  const uint32_t saved = interp::pending;
  interp::pending = 0;
  auto reset = [] {
    callback = constants::none;
    session = false;
    events = 0;
    mask = 0;
  };
  try {
    fire_if(kEnd, nullptr, kNoPosition, nullptr, nullptr);
  } catch (...) {
    reset();
    throw;
  }
  reset();
  interp::pending = saved;
}

EventsScope* innermost_scope = nullptr;

void set_tracing(bool on) {
  events = on && session ? mask : 0;
  if (innermost_scope) innermost_scope->saved = events;
}

void run_function(const Cell& function_in) {
  const Cell function = function_in;
  gc::Guard keep_function(function);
  EventsScope scope;
  if (function.header & function::kNoTrace) {
    events = 0;
  } else if (function.header & function::kTrace) {
    events = session && !in_callback ? mask : 0;
  }
  if (!(events & (kProlog | kEpilog))) return interp::run_function_body(function);
  const Cell name = frame_name();
  gc::Guard keep_name(name);
  const Cell body = function::body_of(function);
  gc::Guard keep_body(body);
  fire_if(kProlog, &body, kNoPosition, &name, &function);
  interp::run_function_body(function);
  if (events & kEpilog) {
    const uint32_t saved = interp::pending;  // an exit passing through waits for the callback
    interp::pending = 0;
    fire(kEpilog, &body, kNoPosition, &name, &function);
    interp::pending = saved;
  }
}

bool enter_runtime_call(const Cell& name, const Cell& function) {
  static const RuntimeKind kinds[] = {
      {&runtime_words::words.frame_lexer_callback, 0x1},
      {&runtime_words::words.frame_parse_callback, 0x2},
      {&runtime_words::words.frame_compare_callback, 0x4},
      {&runtime_words::words.on_change, 0x8},
      {&runtime_words::words.on_deep_change, 0x10},
  };
  uint32_t bit = 0;
  for (const RuntimeKind& kind : kinds) {
    if (word::symbol_of(*kind.name) == word::symbol_of(name)) bit = kind.bit;
  }
  const Cell bits = object::system_field({state_symbol, callbacks_symbol, bits_symbol});
  if (!bit || cell::type_of(bits) != TYPE_INTEGER ||
      !(uint32_t(integer::get_value(bits)) & bit)) {
    return false;
  }
  fire_if(kCall, nullptr, kNoPosition, &name, &function);
  return true;
}

void leave_runtime_call(const Cell& name, const Cell& result) {
  fire_if(kReturn, nullptr, kNoPosition, &name, &result);
}

}  // namespace trace
