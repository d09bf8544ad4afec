// Trace events: while a trace session runs (`do/trace`), the evaluator, the calls, error raising
// and `throw`/`catch` report each step to a user function, the trace callback, as an event word
// with the code, the offset in it, a value, a ref and the stack frame. The debugger, the tracers
// and the profiler of the library stand on it.
//
// Cost when no session runs: every firing point tests `events`, one global word, and does
// nothing else; while it is nonzero the evaluator leaves its fast roads (plans, lean calls,
// computed operators) for the general ones, which fire the events.
//
// The callback runs with tracing off (its own evaluation is never traced), in a call frame named
// <interp-callback> above everything the traced code holds: it leaves both stacks as it found
// them, and its value is dropped. An error raised inside it travels on to the traced code's
// catchers; another exit (break, throw...) too, as a C++ throw of its code (the traced block
// evaluation, or the nearest native, turns it back into a pending exit).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace trace {

// Event bits, and the mask of a callback that names none.
enum Event : uint32_t {
  kInit = 0x1,
  kEnd = 0x2,
  kProlog = 0x4,
  kEpilog = 0x8,
  kEnter = 0x10,
  kExit = 0x20,
  kOpen = 0x40,
  kReturn = 0x80,
  kFetch = 0x100,
  kPush = 0x200,
  kSet = 0x400,
  kCall = 0x800,
  kError = 0x1000,
  kThrow = 0x2000,
  kCatch = 0x4000,
  kExpr = 0x8000,
};
constexpr uint32_t kEveryEvent = 0x1FFFF;
constexpr uint32_t kNoPosition = 0xFFFFFFFF;

// The events that fire now: the session's mask while tracing is on, else 0.
extern uint32_t events;
// A session is running (set by do/trace for its whole call, also while its callback runs).
extern bool session;

// The event words and the collector root of the callback. Once, after the runtime's words.
void init();

// Calls the callback for the event (one of the bits in `events`): code is the block or path
// being walked (or null), index the position in its series (kNoPosition: none), ref and value
// cells or null. The cells may lie anywhere (they are copied first). May run any code.
[[gnu::cold]] void fire(uint32_t event, const Cell* code, uint32_t index, const Cell* ref,
                        const Cell* value);
inline void fire_if(uint32_t event, const Cell* code, uint32_t index, const Cell* ref,
                    const Cell* value) {
  if (events & event) [[unlikely]] fire(event, code, index, ref, value);
}

// The mask a callback asks for: the words of the block that opens its body, else every event.
uint32_t event_mask(const Cell& callback);

// do/trace: starts a session with the callback (mask and callback stored, tracing on, init
// fired). False, nothing done, when a session runs already.
bool start(const Cell& callback);
// Ends the session: end fired (the pending exit set aside meanwhile), the callback dropped, the
// flags cleared. Also when the end callback raises.
void finish();

// A function's body run while a session runs: a trace attribute sets tracing for the body
// (trace: on, unless the callback runs; no-trace: off), prolog and epilog fire around it, and
// tracing is restored after, however the body ends.
void run_function(const Cell& function);

// A function called by the runtime as a callback (a change handler, a sort comparator, a parse or
// lexer callback, named by its frame word), while tracing is on: runs untraced unless the kind's
// bit is in the runtime's callback mask (system/state/callbacks/bits), then traced with call and
// return fired around it. `run` makes the call and returns its value.
template <class Run>
Cell runtime_call(const Cell& name, const Cell& function, Run&& run);

// --- Internals of runtime_call -------------------------------------------------------------------

// Whether the runtime callback named so is traced; when it is, fires call.
bool enter_runtime_call(const Cell& name, const Cell& function);
void leave_runtime_call(const Cell& name, const Cell& result);
struct EventsScope;
extern EventsScope* innermost_scope;
struct EventsScope {  // restores `events` however the scope ends
  uint32_t saved = events;
  EventsScope* outer = innermost_scope;
  EventsScope() { innermost_scope = this; }
  ~EventsScope() {
    events = saved;
    innermost_scope = outer;
  }
  EventsScope(const EventsScope&) = delete;
  EventsScope& operator=(const EventsScope&) = delete;
};

// Turns tracing on (the session's events; nothing outside a session) or off for the rest of the
// code that called the function asking: the innermost scope, that function's own, is made to
// restore the new setting when it returns.
void set_tracing(bool on);

template <class Run>
Cell runtime_call(const Cell& name, const Cell& function, Run&& run) {
  EventsScope scope;
  if (!enter_runtime_call(name, function)) {
    events = 0;
    return run();
  }
  Cell result = run();
  leave_runtime_call(name, result);
  return result;
}

}  // namespace trace
