// Data stack and call frames: limits, frame unwinding, and the targets of break, continue,
// return, exit and throw.
#include <gtest/gtest.h>

#include <utility>

#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "runtime/throw.h"

namespace {

Cell word(uint32_t symbol) { return Cell{TYPE_WORD, 0, symbol, 0}; }
Cell integer(int32_t n) { return Cell{TYPE_INTEGER, 0, uint32_t(n), 0}; }

// Each test starts and ends with empty stacks. The stack's own mechanics are tested with the
// plain raiser (names only), so that no error value takes cells or frames of its own.
class Stack : public testing::Test {
 protected:
  void SetUp() override {
    frames::reset_all();
    saved_raiser_ = rt::set_error_raiser(nullptr);
  }
  void TearDown() override {
    frames::reset_all();
    rt::set_error_raiser(saved_raiser_);
  }
  rt::ErrorRaiser saved_raiser_ = nullptr;
};

TEST_F(Stack, PushingPastTheLimitRaisesStackOverflowAndLeavesRoom) {
  rt::raised = {};
  uint32_t code = rt::catch_codes(rt::kThrowError, [] {
    for (;;) stack::push_new();
  });
  EXPECT_EQ(code, rt::kThrowError);
  EXPECT_STREQ(rt::raised.id, "stack-overflow");
  EXPECT_EQ(stack::top, stack::end - 5);  // 19,999 cells at most, then 5 given back
  for (int i = 0; i < 4; i++) stack::push_new();  // the room kept for the error is usable
}

TEST_F(Stack, OverflowIsAnErrorValueThatATryFrameCatches) {
  rt::set_error_raiser(saved_raiser_);
  // Filled cells: building the error may collect, and the collector marks every pushed cell.
  uint32_t code = frames::try_catch(runtime_words::words.try_, [] {
    for (;;) stack::push_copy(integer(0));
  });
  EXPECT_EQ(code, rt::kThrowError);
  ASSERT_EQ(cell::type_of(*stack::top_cell()), TYPE_ERROR);
  EXPECT_STREQ(rt::raised.id, "stack-overflow");
  // The runtime goes on: the stacks are usable again once the error is dropped.
  frames::reset_all();
  for (int i = 0; i < 100; i++) stack::push_copy(integer(0));
  frames::mark_native(word(1));
  frames::unwind();
}

// Building the error value may itself mark frames: this raiser does, as the real one may.
int frames_marked_while_raising = 0;
void raiser_that_marks_frames(const char*, const char* id, const Cell*, const Cell*, const Cell*) {
  for (int i = 0; i < 8; i++) frames::mark_native(word(2));
  frames_marked_while_raising = 8;
  rt::raised = {"internal", id};
  throw rt::Throw{rt::kThrowError};
}

TEST_F(Stack, FrameStackOverflowKeepsAReserveForTheError) {
  rt::ErrorRaiser previous = rt::set_error_raiser(raiser_that_marks_frames);
  uint32_t code = rt::catch_codes(rt::kThrowError, [] {
    for (;;) frames::mark_native(word(1));
  });
  rt::set_error_raiser(previous);
  EXPECT_EQ(code, rt::kThrowError);
  EXPECT_STREQ(rt::raised.id, "stack-overflow");
  EXPECT_EQ(frames_marked_while_raising, 8);
  EXPECT_LE(frames::frame_top, frames::frame_end);
  // Once the frames are unwound the reserve is closed again: the next overflow raises the same way.
  frames::reset_all();
  frames_marked_while_raising = 0;
  previous = rt::set_error_raiser(raiser_that_marks_frames);
  code = rt::catch_codes(rt::kThrowError, [] {
    for (;;) frames::mark_native(word(1));
  });
  rt::set_error_raiser(previous);
  EXPECT_EQ(code, rt::kThrowError);
  EXPECT_EQ(frames_marked_while_raising, 8);
}

TEST_F(Stack, MarkAndUnwindKeepTheCallersCells) {
  stack::push_copy(integer(1));
  stack::push_copy(integer(2));
  Cell* caller_args = stack::args;
  frames::mark_native(word(7));
  EXPECT_EQ(stack::args, stack::top);
  EXPECT_EQ(frames::top_frame()->header, frames::kNative | 7u);
  stack::push_copy(integer(42));
  stack::push_copy(integer(43));
  frames::unwind_last();  // the callee's result lands in the caller's result slot
  EXPECT_EQ(stack::args, caller_args);
  EXPECT_EQ(stack::args[0].w2, 42u);
  EXPECT_EQ(stack::top, caller_args + 3);  // the popped frame's result slot is the newest cell
}

TEST_F(Stack, UnwindToKindStopsAtATryAllFrame) {
  frames::mark_loop(word(1));
  frames::mark_try_all(word(2));
  frames::mark_native(word(3));
  frames::Frame* found = frames::unwind_to_kind(frames::kLoop, false);
  EXPECT_EQ(found->header & frames::kKindMask, frames::kTryAll & frames::kKindMask);
}

// The exits, as a table: what frames stand below the exit native's own, the exit, and where it
// must land (the index of the target frame counted from the bottom, or -1 for the throw error).
struct ExitCase {
  const char* name;
  std::vector<uint32_t> frames;  // headers from the bottom up; the innermost is the native's own
  int exit;                       // 0 break, 1 continue, 2 return, 3 exit, 4 throw
  int target;
  uint32_t code;
  const char* error_id;
};

const ExitCase kExits[] = {
    {"break reaches its loop", {frames::kLoop, frames::kNative, frames::kNative}, 0, 0,
     rt::kThrowBreak, nullptr},
    {"continue reaches the inner loop", {frames::kLoop, frames::kLoop, frames::kNative}, 1, 1,
     rt::kThrowContinue, nullptr},
    {"break through a try frame", {frames::kLoop, frames::kTry, frames::kNative}, 0, 0,
     rt::kThrowBreak, nullptr},
    {"try-all between break and loop", {frames::kLoop, frames::kTryAll, frames::kNative}, 0, -1,
     rt::kThrowError, "break"},
    {"continue with no loop", {frames::kNative, frames::kNative}, 1, -1, rt::kThrowError,
     "continue"},
    {"return reaches the body", {frames::kBody, frames::kLoop, frames::kNative}, 2, 0,
     rt::kThrowReturn, nullptr},
    {"exit reaches the body", {frames::kNative, frames::kBody, frames::kNative}, 3, 1,
     rt::kThrowExit, nullptr},
    {"return outside a function", {frames::kLoop, frames::kNative}, 2, -1, rt::kThrowError,
     "return"},
    {"throw reaches its catch", {frames::kCatch, frames::kLoop, frames::kNative}, 4, 0,
     rt::kThrowThrow, nullptr},
    {"throw blocked by try-all", {frames::kCatch, frames::kTryAll, frames::kNative}, 4, -1,
     rt::kThrowError, "throw"},
};

TEST_F(Stack, ExitsReachTheirTargets) {
  for (const ExitCase& c : kExits) {
    frames::reset_all();  // not SetUp(): that would save the plain raiser as the one to restore
    std::vector<Cell*> bases;
    for (uint32_t header : c.frames) {
      stack::push_copy(integer(0));
      frames::mark(word(10), header);
      bases.push_back(stack::args);
    }
    stack::push_copy(integer(5));  // the exit native's argument
    frames::Frame* before = frames::frame_top;
    rt::raised = {};
    uint32_t code = rt::catch_codes(rt::kCatchAll, [&] {
      switch (c.exit) {
        case 0: return frames::exit_break(true, false);
        case 1: return frames::exit_break(false, true);
        case 2: return frames::exit_return(true);
        case 3: return frames::exit_return(false);
        default: return frames::exit_throw();
      }
    });
    if (code == 0) code = std::exchange(interp::pending, 0u);  // exits travel as a pending code
    EXPECT_EQ(code, c.code) << c.name;
    if (c.target < 0) {
      EXPECT_STREQ(rt::raised.id, c.error_id) << c.name;
      EXPECT_STREQ(rt::raised.category, "throw") << c.name;
      EXPECT_EQ(frames::frame_top, before) << c.name << ": stacks left as before";
      continue;
    }
    EXPECT_EQ(frames::frame_top - frames::frame_bottom, c.target + 1) << c.name;
    EXPECT_EQ(stack::args, bases[c.target]) << c.name;
    uint8_t result = cell::type_of(stack::args[0]);
    if (c.exit == 0 || c.exit == 2) {
      EXPECT_EQ(result, TYPE_INTEGER) << c.name;
      EXPECT_EQ(stack::args[0].w2, 5u) << c.name;
    } else if (c.exit == 4) {
      EXPECT_EQ(stack::top, stack::args + 2) << c.name << ": thrown value and name pushed";
      EXPECT_EQ(stack::args[0].w2, 5u) << c.name;
    } else {
      EXPECT_EQ(result, TYPE_UNSET) << c.name;
    }
  }
}

TEST_F(Stack, BodyFlagIsClaimedOnlyOnce) {
  frames::mark_native(word(1));
  frames::mark_native(word(2));
  frames::Frame* claimed = frames::claim_body_flag();
  ASSERT_NE(claimed, nullptr);
  EXPECT_EQ(frames::claim_body_flag(), nullptr);
  frames::clear_body_flag(claimed);
  EXPECT_EQ(frames::claim_body_flag(), claimed);
}

TEST_F(Stack, InterpretedBelowFindsTheInterpreterFlag) {
  frames::mark_interp_native(word(1));
  frames::mark_native(word(2));
  frames::mark_native(word(3));
  EXPECT_TRUE(frames::interpreted_below(nullptr, false));
  EXPECT_FALSE(frames::interpreted_below(nullptr, true));
}

}  // namespace
