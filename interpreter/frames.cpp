// The call-frame stack: marks, unwinds and the non-local exits break, continue, return, exit and
// throw. Errors and the reports that name frames are in frames_error.cpp.
#include "interpreter/frames.h"

#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "interpreter/eval.h"
#include "runtime/alloc.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace frames {

using stack::args;
using stack::bottom;
using stack::push_copy;
using stack::top;

Frame* frame_bottom = nullptr;
Frame* frame_top = nullptr;
Frame* frame_end = nullptr;

namespace {

uint32_t frame_node = 0;
Frame* throwing_frame = nullptr;  // where the last throw started, for the error that names it

// Frames kept back so that raising stack-overflow (which builds an error value and may call
// into the error machinery) never needs a frame that is not there.
constexpr uint32_t kFrameReserve = 16;


}  // namespace

Frame* frame_limit = nullptr;


// The frame stack is full: open the reserve for the report and raise. The cells stay as they
// are: few may be in use, and those below top belong to frames that may catch the error. Should
// the report itself use up the reserve, nothing sound is left to do but end the process.
void frames_full() {
  if (frame_limit == frame_end) {
    rt::runtime_error(rt::kFatalStackError, reinterpret_cast<const void*>(&frames_full));
  }
  frame_limit = frame_end;
  cycles::reset();
  rt::fire_error("internal", "stack-overflow");
}

namespace {

// Closes the reserve again once the frames are back below it.
void close_reserve() {
  if (frame_top < frame_end - kFrameReserve) frame_limit = frame_end - kFrameReserve;
}

inline uint32_t kind_of(const Frame* f) { return f->header & kKindMask; }

Cell* base_of(uint32_t index) { return bottom + index; }

void mark_roots() {
  gc::mark_node(frame_node);
  mark_frames();
}

}  // namespace

void init() {
  frame_node = alloc::new_series_on_heap(kFrameRecords * sizeof(Frame) / sizeof(Cell),
                                         sizeof(Cell));
  frame_bottom = frame_top = reinterpret_cast<Frame*>(alloc::series_of(frame_node)->data());
  frame_end = frame_bottom + kFrameRecords;
  frame_limit = frame_end - kFrameReserve;
  throwing_frame = nullptr;
  gc::add_marker(mark_roots);
}

// --- Frames ---------------------------------------------------------------------------------------



void mark_try(const Cell& word, bool keep_trace) {
  mark(word, kTry | (keep_trace ? kKeepTraceFlag : 0));
}
void mark_try_all(const Cell& word, bool keep_trace) {
  mark(word, kTryAll | (keep_trace ? kKeepTraceFlag : 0));
}
void mark_catch(const Cell& word) { mark(word, kCatch); }

void mark_body(const Cell& word, uint32_t function_context) {
  context::set_values_position(function_context, stack::cell_index(args));
  mark(word, kBody);
}


void unwind_call_last() {
  Cell result = *args;
  unwind_call();
  *args = result;
}

void unwind_drop() {
  Frame* f = --frame_top;
  args = top = base_of(f->saved_base);
}

void unwind_call_drop() {
  restore_callee_context(frame_top - 1);
  unwind_drop();
}

void unwind_revert() {
  Frame* f = --frame_top;
  close_reserve();
  if (kind_of(f) == kCall) restore_callee_context(f);
  if (frame_top == frame_bottom) {
    args = top = bottom;
  } else {
    top = args;
    args = base_of(f->saved_base);
  }
}

Frame* unwind_to_kind(uint32_t kind, bool keep_found) {
  Cell* entry_args = args;
  Frame* entry_top = frame_top;
  Frame* f;
  do {
    f = --frame_top;
    if (kind_of(f) == kCall) restore_callee_context(f);
  } while (f != frame_bottom && kind_of(f) != kind && kind_of(f) != kTryAll);
  if (keep_found) frame_top = f + 1;
  close_reserve();
  if (frame_top == entry_top) {
    top = args + 1;  // the innermost frame itself was the one
  } else if (frame_top == frame_bottom) {
    args = top = bottom;
  } else {
    top = entry_args + 1;
    args = base_of(frame_top->saved_base);  // the record just above the frame top
  }
  frame_top = f + 1;  // the found frame stays; the caller finishes with it
  return f;
}

void unwind_to_kind_last(uint32_t kind) {
  Cell result = *args;
  Frame* f = unwind_to_kind(kind, false);
  args = top = base_of((f + 1)->saved_base);  // the found frame's own cells
  *args = result;
}

void unwind_to_loop(bool keep_found) { unwind_to_kind(kLoop, keep_found); }

void reset_all() {
  frame_top = frame_bottom;
  args = top = bottom;
  close_reserve();
}

void set_ctop(Frame* position) { frame_top = position; }

void set_body_flag(bool on) {
  Frame* f = frame_top - 1;
  f->header = on ? f->header | kBodyFlag : f->header & ~kBodyFlag;
}

Frame* claim_body_flag() {
  Frame* below = frame_top - 2;
  if (below < frame_bottom || (below->header & kBodyFlag)) return nullptr;
  below->header |= kBodyFlag;
  return below;
}

void clear_body_flag(Frame* frame) { frame->header &= ~kBodyFlag; }
void set_interp_flag() { (frame_top - 1)->header |= kInterpFlag; }

bool interpreted_below(Frame* from, bool only_next) {
  for (Frame* f = (from ? from : frame_top) - 1; f >= frame_bottom; f--) {
    if (f->header & kInterpFlag) return true;
    if (only_next) return false;
  }
  return false;
}

// --- break, continue, return, exit, throw ---------------------------------------------------------

namespace {

// Walks down from the innermost frame (the exit native's own) to the first frame below it that
// is a target. A try-all frame in the way, or none down to the bottom, gives null.
template <class IsTarget>
Frame* exit_target(IsTarget is_target) {
  for (Frame* f = frame_top - 1; f > frame_bottom; ) {
    if (kind_of(f) == kTryAll) return nullptr;
    --f;
    if (is_target(f)) return f;
  }
  return nullptr;
}

// Makes the target the innermost frame, its own cells emptied: args = top = its base.
void enter_target(Frame* target) {
  for (Frame* f = frame_top - 1; f > target; f--) {
    if (kind_of(f) == kCall) restore_callee_context(f);
  }
  frame_top = target + 1;
  args = top = base_of((target + 1)->saved_base);
}

}  // namespace

void exit_break(bool with_value, bool is_continue) {
  Cell value = *args;
  Frame* loop = exit_target([](Frame* f) { return kind_of(f) == kLoop; });
  if (!loop) rt::fire_error("throw", is_continue ? "continue" : "break");
  enter_target(loop);
  *args = with_value && !is_continue ? value : constants::unset;
  interp::pending = is_continue ? rt::kThrowContinue : rt::kThrowBreak;
}

void exit_return(bool with_value) {
  Cell value = *args;
  Frame* body = exit_target([](Frame* f) { return (f->header & kBodyFlag) != 0; });
  if (!body) rt::fire_error("throw", "return");
  enter_target(body);
  *args = with_value ? value : constants::unset;
  interp::pending = with_value ? rt::kThrowReturn : rt::kThrowExit;
}

void exit_throw() {
  Cell thrown = args[0];
  Cell name = top > args + 1 ? args[1] : constants::unset;
  if (!throwing_frame) throwing_frame = frame_top - 1;
  Frame* target = exit_target([](Frame* f) { return kind_of(f) == kCatch; });
  if (!target) rt::fire_error("throw", "throw", &thrown);
  enter_target(target);
  push_copy(thrown);
  push_copy(name);
  interp::pending = rt::kThrowThrow;
}

Frame* throwing_frame_position() { return throwing_frame; }
void clear_throwing_frame() { throwing_frame = nullptr; }

// --- Collector -------------------------------------------------------------------------------------

void mark_frames() {
  for (Frame* f = frame_bottom; f < frame_top; f++) {
    gc::mark_value(f->callable);
    if (f->context) gc::mark_block(f->context);
    if (f->callee_context) {
      gc::mark_block(f->callee_context);
      if (!context::stack_held(f->callee_context) && f->saved_values) {
        gc::mark_block(f->saved_values);
      }
    }
  }
}

}  // namespace frames
