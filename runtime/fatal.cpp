// Start-up guards and fatal runtime errors. The signal filter is the counterpart of an exception
// filter: machine faults become numbered fatal errors with the faulting instruction's address.
// The machine-stack guard keeps deep recursion a language error instead of a fault.
// Relies on the tracked heap (argument copies) and platform::error_box (the report).
#include "runtime/fatal.h"

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "platform/os/platform.h"
#include "runtime/heap.h"

namespace rt {

StdHandles std_handles{STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
constinit thread_local uintptr_t stack_limit = 0;

namespace {

// --- Fatal error table ---------------------------------------------------------------------

struct FatalEntry {
  int number;
  const char* text;
};

constexpr FatalEntry kFatalTable[] = {
    {1, "access violation"},
    {2, "invalid alignment"},
    {3, "breakpoint"},
    {4, "single step"},
    {5, "bounds exceeded"},
    {6, "float denormal operan"},
    {7, "float divide by zero"},
    {8, "float inexact result"},
    {9, "float invalid operation"},
    {10, "float overflow"},
    {11, "float stack check"},
    {12, "float underflow"},
    {13, "integer divide by zero"},
    {14, "integer overflow"},
    {15, "privileged instruction"},
    {16, "invalid virtual address"},
    {17, "illegal instruction"},
    {18, "non-continuable exception"},
    {kFatalStackError, "stack error or overflow"},
    {20, "invalid disposition"},
    {21, "guard page"},
    {22, "invalid handle"},
    {23, "illegal operand"},
    {24, "illegal addressing mode"},
    {25, "illegal trap"},
    {26, "coprocessor error"},
    {27, "non-existent physical address"},
    {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"},
    {30, "hardware memory error consumed AO"},
    {31, "privileged register"},
    {32, "segmentation fault"},
    {33, "FPU error"},
    {34, "Bus error"},
    {kFatalOutOfMemory, "out of memory"},
    {kFatalNoCatch, "no CATCH for THROW"},
    {kFatalAssertion, "assertion failed"},
    {kFatalUnknown, "unknown error"},
    {kFatalNoCaseMatch, "no value matched in CASE"},
    {kFatalNoSwitchMatch, "no value matched in SWITCH"},
};

// On 64-bit a code address is shown as its offset inside the loaded object (the executable or a
// shared library) that contains it, which `addr2line -e OBJECT` turns into a source line. An
// address outside every object (generated code) shows its low 32 bits.
uint32_t shown_address(const void* address) {
  uintptr_t a = reinterpret_cast<uintptr_t>(address);
  Dl_info object;
  if (address && dladdr(address, &object) && object.dli_fbase)
    a -= reinterpret_cast<uintptr_t>(object.dli_fbase);
  return static_cast<uint32_t>(a);
}

// Formats into a fixed buffer: no allocation, since the report may follow a fault inside the
// allocator.
void report(int number, const void* address) {
  char text[512];
  std::snprintf(text, sizeof text, "*** Runtime Error %d: %s\n*** at: %08Xh", number,
                fatal_text(number), shown_address(address));
  platform::error_box("Zel App Error", text);
}

// --- Signal filter -------------------------------------------------------------------------

constexpr int kAnyCode = INT_MIN;

struct SignalEntry {
  int signal;
  int code;  // si_code, or kAnyCode
  int number;
};

// First matching row wins. An installed signal without a row is kFatalUnknown.
constexpr SignalEntry kSignalTable[] = {
    {SIGSEGV, kAnyCode, 1},   {SIGBUS, kAnyCode, 2},    {SIGTRAP, kAnyCode, 3},
    {SIGFPE, FPE_INTDIV, 13}, {SIGFPE, FPE_INTOVF, 14}, {SIGFPE, FPE_FLTDIV, 7},
    {SIGFPE, FPE_FLTOVF, 10}, {SIGFPE, FPE_FLTUND, 12}, {SIGFPE, FPE_FLTRES, 8},
    {SIGFPE, FPE_FLTINV, 9},  {SIGFPE, FPE_FLTSUB, 5},  {SIGILL, ILL_PRVOPC, 15},
    {SIGILL, kAnyCode, 17},
};
// SIGINT is left alone: an interrupt ends the process as usual.
constexpr int kFilteredSignals[] = {SIGSEGV, SIGBUS, SIGTRAP, SIGFPE, SIGILL, SIGSYS};

// Below the stack's lowest address: the guard page of a thread, or the gap the kernel keeps
// below the main thread's stack (256 pages). A fault there is the stack running out.
constexpr uintptr_t kGuardZone = 1 << 20;
constexpr size_t kStackMargin = 256 * 1024;  // room left for raising and unwinding
constexpr size_t kAltStackSize = 128 * 1024;

constinit thread_local uintptr_t stack_low = 0;

int fatal_number(const siginfo_t& info) {
  uintptr_t fault = reinterpret_cast<uintptr_t>(info.si_addr);
  if (info.si_signo == SIGSEGV && stack_low && fault < stack_low && fault >= stack_low - kGuardZone)
    return kFatalStackError;
  for (const SignalEntry& e : kSignalTable)
    if (e.signal == info.si_signo && (e.code == kAnyCode || e.code == info.si_code))
      return e.number;
  return kFatalUnknown;
}

// The process state after a machine fault is suspect: the report is written, and the process
// ends without exit handlers or freeing, which could deadlock on a lock the fault left taken.
// Not instrumented by AddressSanitizer, whose stack cleanup before a call that does not return
// would misread the alternate stack.
__attribute__((no_sanitize("address"))) void signal_filter(int, siginfo_t* info, void* context) {
  auto* machine = static_cast<ucontext_t*>(context);
  auto* at = reinterpret_cast<const void*>(machine->uc_mcontext.gregs[REG_RIP]);
  int number = fatal_number(*info);
  report(number, at);
  _exit(number);
}

}  // namespace

void install_signal_filter() {
  struct sigaction action {};
  action.sa_sigaction = signal_filter;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : kFilteredSignals) sigaction(signal, &action, nullptr);
}

namespace {

// --- Per-thread guard ----------------------------------------------------------------------

// The alternate signal stack of a guarded thread (a stack overflow leaves no room for the filter
// on the thread's own stack), and the one the thread had before (a sanitizer's, say).
struct AltStack {
  void* memory;
  stack_t previous;
};

// Sets the stack limit of the thread that is to run the interpreter, and its alternate stack.
AltStack guard_thread() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    void* low;
    size_t size;
    if (pthread_attr_getstack(&attr, &low, &size) == 0) {
      stack_low = reinterpret_cast<uintptr_t>(low);
      stack_limit = stack_low + kStackMargin;
    }
    pthread_attr_destroy(&attr);
  }
  AltStack alt{nullptr, {}};
  void* p =
      mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return alt;
  stack_t stack{};
  stack.ss_sp = p;
  stack.ss_size = kAltStackSize;
  if (sigaltstack(&stack, &alt.previous) == 0)
    alt.memory = p;
  else
    munmap(p, kAltStackSize);
  return alt;
}

void unguard_thread(const AltStack& alt) {
  if (!alt.memory) return;
  sigaltstack(&alt.previous, nullptr);
  munmap(alt.memory, kAltStackSize);
}

// --- Arguments -----------------------------------------------------------------------------

struct Arguments {
  int count;
  char** vector;
};
Arguments arguments{0, nullptr};

void copy_arguments(int count, char** vector) {
  arguments.vector =
      static_cast<char**>(heap_alloc(sizeof(char*) * static_cast<size_t>(count + 1)));
  for (int i = 0; i < count; ++i) {
    size_t size = std::strlen(vector[i]) + 1;
    arguments.vector[i] = static_cast<char*>(heap_alloc(size));
    std::memcpy(arguments.vector[i], vector[i], size);
  }
  arguments.vector[count] = nullptr;
  arguments.count = count;
}

// --- Interpreter thread --------------------------------------------------------------------

struct InterpreterRun {
  int (*fn)();
  int result;
  std::exception_ptr error;
};

void* run_interpreter(void* data) {
  auto* run = static_cast<InterpreterRun*>(data);
  AltStack alt = guard_thread();
  try {
    run->result = run->fn();
  } catch (...) {
    run->error = std::current_exception();
  }
  unguard_thread(alt);
  return nullptr;
}

}  // namespace

// --- Start-up ------------------------------------------------------------------------------

void start(int argc, char** argv) {
  guard_thread();  // the main thread's guard serves until the process ends
  if (!kSanitized) install_signal_filter();
  copy_arguments(argc, argv);
}

int argc() { return arguments.count; }
char** argv() { return arguments.vector; }

// --- Fatal errors --------------------------------------------------------------------------

const char* fatal_text(int number) {
  for (const FatalEntry& e : kFatalTable)
    if (e.number == number) return e.text;
  return "unknown error code!";
}

void runtime_error(int number, const void* address) {
  if (number != 0) report(number, address);
  free_at_exit();
  std::exit(number);
}

void uncaught_throw() {
  runtime_error(kFatalNoCatch, reinterpret_cast<const void*>(&uncaught_throw));
}

void free_at_exit() { heap_free_all(); }

// --- Interpreter stack ---------------------------------------------------------------------

// The main thread's stack is bounded by RLIMIT_STACK (usually 8 MB), too small for the language's
// 12,000 call frames, above all under the sanitizers whose frames are several times larger. So
// the interpreter runs on a thread of its own whose 512 MB stack is only reserved: the kernel
// commits its pages as they are touched. The calling thread only waits.
int run_on_interpreter_stack(int (*fn)()) {
  constexpr size_t kStackSize = size_t{512} << 20;
  // The interpreter thread allocates nearly everything: from the main arena, which grows a
  // stretch at a time, rather than an arena of its own, which grows by a system call a page.
  mallopt(M_ARENA_MAX, 1);
  InterpreterRun run{fn, 0, nullptr};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, kStackSize);
  pthread_attr_setguardsize(&attr, kGuardZone);
  pthread_t thread;
  int failed = pthread_create(&thread, &attr, run_interpreter, &run);
  pthread_attr_destroy(&attr);
  // Without a thread the interpreter runs on this one, still guarded by its stack limit.
  if (failed) return fn();
  pthread_join(thread, nullptr);
  if (run.error) std::rethrow_exception(run.error);
  return run.result;
}

}  // namespace rt
