// Fatal runtime errors (report text, exit statuses, machine faults through the signal filter),
// the machine-stack guard, the interpreter's own stack, and the arithmetic helpers.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstring>
#include <string>

#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "interpreter/frames.h"
#include "runtime/fatal.h"
#include "runtime/heap.h"
#include "runtime/throw.h"

namespace {

// The report's second line: the code address as eight upper-case hex digits and 'h'.
const std::string kAt = "\n\\*\\*\\* at: [0-9A-F]{8}h\n$";

struct ReportCase {
  int number;
  const char* text;  // the report's text; null: no report at all
};

const ReportCase kReportCases[] = {
    {0, nullptr},
    {1, "access violation"},
    {6, "float denormal operan"},
    {34, "Bus error"},
    {94, "out of memory"},
    {96, "unknown error code!"},
    {98, "assertion failed"},
    {101, "no value matched in SWITCH"},
    {102, "unknown error code!"},
};

TEST(FatalDeathTest, ReportTextAndExitStatus) {
  for (const ReportCase& c : kReportCases) {
    std::string expected =
        c.text ? "^\\*\\*\\* Runtime Error " + std::to_string(c.number) + ": " + c.text + kAt
               : "^$";
    EXPECT_EXIT(rt::runtime_error(c.number, reinterpret_cast<const void*>(&rt::start)),
                testing::ExitedWithCode(c.number), expected)
        << c.number;
  }
}

TEST(FatalDeathTest, UncaughtThrowIsFatal95) {
  EXPECT_EXIT(rt::uncaught_throw(), testing::ExitedWithCode(95),
              "^\\*\\*\\* Runtime Error 95: no CATCH for THROW" + kAt);
}

// --- Machine faults ----------------------------------------------------------------------------

// The sanitizers must not see these faults coming: the signal filter is what is tested.
__attribute__((no_sanitize("undefined", "address"))) void write_through_null() {
  volatile int* volatile p = nullptr;
  *p = 1;
}

__attribute__((no_sanitize("undefined"))) void divide_by_zero() {
  volatile int dividend = 7, zero = 0;
  volatile int quotient = dividend / zero;
  (void)quotient;
}

void illegal_instruction() { __builtin_trap(); }

void breakpoint() { asm volatile("int3"); }

void overflow_stack();

struct FaultCase {
  const char* name;
  void (*fault)();
  int number;
  const char* text;
};

const FaultCase kFaultCases[] = {
    {"null write", write_through_null, 1, "access violation"},
    {"integer division", divide_by_zero, 13, "integer divide by zero"},
    {"trap", illegal_instruction, 17, "illegal instruction"},
    {"int3", breakpoint, 3, "breakpoint"},
    {"stack overflow", overflow_stack, 19, "stack error or overflow"},
};

// Under a sanitizer start leaves the faults to it, so these install the filter themselves.
TEST(FatalDeathTest, MachineFaultsBecomeNumberedErrors) {
  for (const FaultCase& c : kFaultCases) {
    EXPECT_EXIT(
        {
          rt::install_signal_filter();
          c.fault();
        },
        testing::ExitedWithCode(c.number),
                "^\\*\\*\\* Runtime Error " + std::to_string(c.number) + ": " + c.text + kAt)
        << c.name;
  }
}

TEST(FatalDeathTest, FaultsOnTheInterpreterStackToo) {
  EXPECT_EXIT(rt::run_on_interpreter_stack([] {
                rt::install_signal_filter();
                overflow_stack();
                return 0;
              }),
              testing::ExitedWithCode(19),
              "^\\*\\*\\* Runtime Error 19: stack error or overflow" + kAt);
  EXPECT_EXIT(rt::run_on_interpreter_stack([] {
                rt::install_signal_filter();
                write_through_null();
                return 0;
              }),
              testing::ExitedWithCode(1), "^\\*\\*\\* Runtime Error 1: access violation" + kAt);
}

// Whether the handler of SIGSEGV is the signal filter; installs it to find out.
bool filter_was_installed() {
  struct sigaction at_start {};
  struct sigaction filtered {};
  sigaction(SIGSEGV, nullptr, &at_start);
  rt::install_signal_filter();
  sigaction(SIGSEGV, nullptr, &filtered);
  return at_start.sa_sigaction == filtered.sa_sigaction;
}

// Under a sanitizer the process start installs no filter: the sanitizer reports a fault with
// where it happened. Elsewhere the filter is in place from the start.
TEST(FatalDeathTest, StartLeavesFaultsToASanitizer) {
  EXPECT_EXIT(std::_Exit(filter_was_installed() != rt::kSanitized ? 0 : 1),
              testing::ExitedWithCode(0), "");
  EXPECT_DEATH(write_through_null(),
               rt::kSanitized ? "Sanitizer" : "Runtime Error 1: access violation");
}

// --- Stack guard -----------------------------------------------------------------------------

uintptr_t deepest_frame;

// Large frames of which only one page is touched (so a 512 MB stack costs little memory): the
// guard must act before the stack's end whatever the frame size.
constexpr size_t kFrameSize = 64 * 1024;

__attribute__((noinline)) int recurse(int depth, bool guarded) {
  volatile char frame[kFrameSize];
  frame[0] = static_cast<char>(depth);
  deepest_frame = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  if (guarded) rt::check_stack();
  if (depth < 0) return 0;
  return recurse(depth + 1, guarded) + frame[0];
}

void overflow_stack() { recurse(0, false); }

// Recurses until the guard raises; true when that came as internal/stack-overflow.
bool overflow_is_a_language_error() {
  rt::raised = {nullptr, nullptr};
  Cell* saved_top = stack::top;
  uint32_t code = frames::try_catch(runtime_words::words.try_, [] { recurse(0, true); });
  stack::top = saved_top;  // drops the error value: the data stack is shared with later suites
  return code == rt::kThrowError && rt::raised.id &&
         std::strcmp(rt::raised.id, "stack-overflow") == 0 &&
         std::strcmp(rt::raised.category, "internal") == 0;
}

TEST(StackGuard, DeepRecursionRaisesStackOverflow) {
  EXPECT_TRUE(overflow_is_a_language_error());
  EXPECT_GE(deepest_frame, rt::stack_limit - kFrameSize - 1024);
  // The guard is re-armed: a second overflow behaves the same.
  EXPECT_TRUE(overflow_is_a_language_error());
}

TEST(StackGuard, InterpreterStackHoldsFarMoreThanTheMainStack) {
  static uintptr_t top;
  int result = rt::run_on_interpreter_stack([] {
    top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    return overflow_is_a_language_error() ? 1 : 0;
  });
  EXPECT_EQ(result, 1);
  EXPECT_GT(top - deepest_frame, size_t{400} << 20);
}

TEST(StackGuard, InterpreterStackPassesResultsAndThrowsBack) {
  EXPECT_EQ(rt::run_on_interpreter_stack([] { return 42; }), 42);
  uint32_t code = rt::catch_codes(rt::kCatchAll, [] {
    rt::run_on_interpreter_stack([]() -> int { rt::throw_code(rt::kThrowExit); });
  });
  EXPECT_EQ(code, rt::kThrowExit);
}

// --- Start-up ----------------------------------------------------------------------------------

TEST(Start, ArgumentsAreCopiedOntoTheTrackedHeap) {
  ASSERT_GE(rt::argc(), 1);
  EXPECT_EQ(rt::argv()[rt::argc()], nullptr);
  for (void* wanted : {static_cast<void*>(rt::argv()), static_cast<void*>(rt::argv()[0])}) {
    bool found = false;
    for (rt::HeapBlock* b = rt::heap.first; b; b = b->next) found = found || b->data() == wanted;
    EXPECT_TRUE(found);
  }
}

}  // namespace
