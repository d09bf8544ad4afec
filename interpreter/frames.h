// The call-frame stack: every call, protected evaluation, loop and function body is a frame
// record here, saving the caller's arguments base of the data stack (datatypes/stack.h). The
// frame stack lives on the tracked heap and never moves. Non-local exits (errors, break,
// continue, return, exit, throw) find their target frame here, reshape both stacks for it, then
// throw their code (runtime/throw.h).
#pragma once
#include <cstdint>

#include "datatypes/context.h"
#include "datatypes/stack.h"
#include "datatypes/word.h"
#include "interpreter/eval.h"
#include "runtime/cell.h"
#include "runtime/throw.h"

namespace frames {

constexpr uint32_t kFrameRecords = 12000;

// Frame header: bits 0-23 the naming word's symbol id, 24-27 the kind, 28 the body flag (target
// of return/exit), 30 the keep-trace flag of try frames, 31 the interpreter flag.
enum FrameHeader : uint32_t {
  kCall = 0x1000000,
  kInterpCall = 0x81000000,
  kNative = 0x2000000,
  kInterpNative = 0x82000000,
  kBody = 0x12000000,
  kTry = 0x4000000,
  kTryAll = 0x5000000,
  kCatch = 0x6000000,
  kEval = 0x87000000,
  kLoop = 0x8000000,
};
constexpr uint32_t kKindMask = 0x0F000000;
constexpr uint32_t kBodyFlag = 0x10000000;
constexpr uint32_t kInterpFlag = 0x80000000;
constexpr uint32_t kSymbolMask = 0x00FFFFFF;
// On a try frame: the error it catches keeps the names of the calls it was raised in, which are
// gathered before the frames unwind.
constexpr uint32_t kKeepTraceFlag = 0x40000000;

struct Frame {
  uint32_t header;
  uint32_t saved_base;      // the caller's arguments base, as a cell index from the bottom
  uint32_t context;         // context node of the naming word (0 when none)
  uint32_t callee_context;  // local context of a called function (call frames), else 0
  uint32_t saved_values;    // that context's values position at the call, else 0
  Cell callable;  // kept alive by the frame: what a call runs, the block an evaluation walks
};

extern Frame* frame_bottom;
extern Frame* frame_top;  // the next free record; the innermost frame is frame_top - 1
extern Frame* frame_end;

void init();  // makes the frame stack (on the tracked heap)

// The slow end of mark: a full frame stack raises stack-overflow (from a reserve of frames kept
// for the report).
[[noreturn]] void frames_full();
extern Frame* frame_limit;

// Frames. A word cell names each frame (its symbol id and context).
inline void mark(const Cell& word, uint32_t header) {
  if (frame_top >= frame_limit) [[unlikely]] frames_full();
  *frame_top++ =
      Frame{header | (word::symbol_of(word) & kSymbolMask), stack::cell_index(stack::args),
            word::context_of(word), 0, 0, Cell{}};
  stack::args = stack::top;
}
// The common kinds are inline: every call and block walk makes one.
inline void mark_call(const Cell& word, uint32_t callee_context) {
  mark(word, kCall);
  if (callee_context) {
    Frame* f = frame_top - 1;
    f->callee_context = callee_context;
    f->saved_values = context::values_position(callee_context);
  }
}
inline void mark_native(const Cell& word) { mark(word, kNative); }
void mark_try(const Cell& word, bool keep_trace = false);
void mark_try_all(const Cell& word, bool keep_trace = false);
void mark_catch(const Cell& word);
inline void mark_loop(const Cell& word) { mark(word, kLoop); }
inline void mark_eval(const Cell& word) { mark(word, kEval); }
inline void mark_interp_native(const Cell& word) { mark(word, kInterpNative); }
inline void mark_interp_call(const Cell& word, uint32_t callee_context) {
  mark_call(word, callee_context);
  (frame_top - 1)->header |= kInterpFlag;
}
void mark_body(const Cell& word, uint32_t function_context);
inline void unwind() {
  Frame* f = --frame_top;
  stack::top = stack::args + 1;
  stack::args = stack::bottom + f->saved_base;
}
inline void unwind_last() {
  Cell result = *stack::args;
  unwind();
  *stack::args = result;
}
// Writes a call frame's saved values position back into its callee context.
inline void restore_callee_context(const Frame* f) {
  if (f->callee_context) context::set_values_position(f->callee_context, f->saved_values);
}
// Inline: every function call closes with it.
inline void unwind_call() {
  restore_callee_context(frame_top - 1);
  unwind();
}
void unwind_call_last();
void unwind_drop();
void unwind_call_drop();
void unwind_revert();
Frame* unwind_to_kind(uint32_t kind, bool keep);
void unwind_to_kind_last(uint32_t kind);
void unwind_to_loop(bool keep);
void reset_all();  // both stacks empty (top-level recovery after an uncaught error)
inline Frame* top_frame() { return frame_top - 1; }
void set_ctop(Frame* position);
void set_body_flag(bool on);
Frame* claim_body_flag();
void clear_body_flag(Frame* frame);
void set_interp_flag();
bool interpreted_below(Frame* from, bool only_next);

// Errors: unwinds to the nearest try frame and throws the error code.
[[noreturn]] void throw_error(Cell* error);
// rt::fire_error's raiser (interp::init installs it once the error catalog exists): builds the
// error from the catalog's names and throws it as throw_error does.
[[noreturn]] void raise(const char* category, const char* id, const Cell* arg1, const Cell* arg2,
                        const Cell* arg3);
// The other exits reshape the stacks for their target (the target frame innermost, its cells
// emptied, the exit's value in its arguments[0]; a thrown value and its name as its two cells)
// and set interp::pending to their code; no target raises the throw-category error.
void exit_break(bool with_value, bool is_continue);  // value: arguments[0]
void exit_return(bool with_value);                   // value: arguments[0]
void exit_throw();  // value: arguments[0], its name: arguments[1] when pushed

// Runs body under a try frame named by `name`, as the try native does: an error raised inside
// unwinds to that frame. Returns 0, or rt::kThrowError when an error was caught; the error value
// is then the newest cell. Other codes travel on.
template <class Body>
uint32_t try_catch(const Cell& name, Body&& body) {
  Cell* caller_top = stack::top;
  const Cell position = interp::eval_position;
  mark_try(name);
  try {
    body();
  } catch (const rt::Throw& t) {
    if (t.code != rt::kThrowError) throw;
    // The evaluations the error cut short left their position behind: the catcher's is current.
    interp::eval_position = position;
    return t.code;  // throw_error has popped the try frame
  }
  unwind_drop();
  stack::top = caller_top;  // the caller's own cells stay; what the body pushed goes
  return 0;
}

// Reports.
void save_error_frame(Cell* error);
Cell call_name();  // the word naming the innermost named frame
// The spec word of parameter #ordinal (words and refinements counted in spec order) of the
// callee of the innermost named frame, found through its name; none! when that names no
// callable or the callable has no such parameter.
Cell callee_parameter_word(int ordinal);
void collect_trace(int level, Cell* block, uint32_t limit_frame);
// When the value is an error! whose stack field holds the frame position saved at its throw,
// replaces it by the block of the names of the calls up to there. May allocate.
void capture_trace(Cell* value);
int32_t form_trace(int level, const Cell* limit, Cell* out, int32_t part);
void collect_calls(Cell* block);
Frame* throwing_frame_position();  // where the last throw started, or null
void clear_throwing_frame();

void mark_frames();  // collector pass over the frames

}  // namespace frames
