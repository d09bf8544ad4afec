// Start-up guards and fatal runtime errors: the first code the entry runs, and the last resort
// when something fails below the language. Machine faults (signals) become numbered fatal errors
// reported in one format; deep recursion is stopped by a machine-stack guard before it faults.
// Relies on the tracked heap (arguments) and platform::error_box (the report).
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/throw.h"

// Whether a sanitizer that reports machine faults itself (AddressSanitizer, ThreadSanitizer,
// MemorySanitizer, UndefinedBehaviorSanitizer where the compiler tells) is built in. Its report
// shows where a fault happened, with a stack; the signal filter's would not.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZEL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define ZEL_SANITIZED 1
#endif
#endif

namespace rt {

#ifdef ZEL_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// The low-level start, once, before anything else: signal filter on an alternate signal stack
// (not under a sanitizer, which keeps machine faults to report them), the machine-stack guard of
// this thread, the standard handles and the UTF-8 argument vector.
void start(int argc, char** argv);

// The signal filter: machine faults become numbered fatal errors. start installs it.
void install_signal_filter();

// The arguments copied onto the tracked heap; argv()[argc()] is null.
int argc();
char** argv();

// Standard input, output and error of the process.
struct StdHandles {
  int input, output, error;
};
extern StdHandles std_handles;

// The numbers of the fatal errors the runtime raises itself (rows of the fatal table; the signal
// filter's numbers come from its own table in fatal.cpp).
enum FatalCode : int {
  kFatalStackError = 19,     // "stack error or overflow": the machine or frame stack ran out
  kFatalOutOfMemory = 94,    // no memory where no language error can be raised
  kFatalNoCatch = 95,        // a throw reached the root catch site
  kFatalAssertion = 98,      // a broken invariant of the heap or the runtime
  kFatalUnknown = 99,        // a filtered signal without a row of its own
  kFatalNoCaseMatch = 100,   // a combination of values the code does not handle
  kFatalNoSwitchMatch = 101, // a value outside a switch's cases (a bad unit or operator code)
};

// The fatal report: "*** Runtime Error N: text" and the code address, shown through
// platform::error_box; then the tracked heap is freed and the process exits with N.
// Number 0 exits with 0 and no message.
[[noreturn]] void runtime_error(int number, const void* address);
const char* fatal_text(int number);  // the table's text ("unknown error code!" when unlisted)

// The handler of the root catch site: kFatalNoCatch, reported at its own address.
[[noreturn]] void uncaught_throw();

void free_at_exit();  // the whole tracked heap back to the system

// --- Machine-stack guard ---------------------------------------------------------------------

// Lowest frame address the current thread may reach before the language's stack-overflow error
// is raised; it keeps a margin above the real end so the raise and the unwinding have room.
extern constinit thread_local uintptr_t stack_limit;

// Where the machine stack stands. The stack pointer read directly: taking the frame's address
// would make each caller keep a frame pointer, a register less on the evaluator's hot paths.
// (The sanitizers' builds keep frame pointers anyway.)
inline uintptr_t stack_position() {
#if defined(__x86_64__) && !defined(ZEL_SANITIZED)
  uintptr_t sp;
  asm("mov %%rsp, %0" : "=r"(sp));
  return sp;
#else
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
#endif
}

// Called on every level of a recursion the language drives: raises internal/stack-overflow.
inline void check_stack() {
  if (stack_position() < stack_limit) [[unlikely]] fire_error("internal", "stack-overflow");
}

// Runs fn on a thread of its own with a 512 MB stack and returns its result; an exception that
// leaves fn is thrown again in the caller. The interpreter runs here (see fatal.cpp).
int run_on_interpreter_stack(int (*fn)());

}  // namespace rt
