// Calls: a native!, action!, op!, function! or routine! value handed over by the evaluator, with
// where its arguments come from (the code after it, the refinements of a path, or an argument
// block given to `apply`). The dispatcher pushes a frame, gathers and type-checks the arguments
// into it following the callable's parameter list (cached once per callable as an argument
// cache), fills in refinements and runs the callable.
#pragma once
#include <cstdint>
#include <span>

#include "datatypes/constants.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/stack.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "runtime/cell.h"
#include "runtime/fatal.h"

namespace interp {

// The values the dispatcher calls (an op! is called as the value it wraps).
[[gnu::always_inline]] inline bool callable(uint8_t type) {
  constexpr uint64_t kCallables = uint64_t(1) << TYPE_NATIVE | uint64_t(1) << TYPE_ACTION |
                                  uint64_t(1) << TYPE_FUNCTION | uint64_t(1) << TYPE_ROUTINE;
  return type < 64 && (kCallables >> type & 1);
}

// How the arguments are read: an ordinary call, or `apply` (ApplyAll: every argument and a truth
// value per refinement; Apply: the mandatory arguments, then refinement! values each followed by
// an expression for its truth). Safer may be added to either apply mode: each argument is exactly
// the next single value, and the arguments of unused refinements are skipped unevaluated.
enum CallMode : uint32_t { kOrdinary = 0, kApplyAll = 1, kApply = 2, kSafer = 4 };

struct CallSite {
  const Cell* path = nullptr;   // the path whose elements after `first_refinement` are refinements
  uint32_t first_refinement = 0;
  const Cell* name = nullptr;   // the frame's name (a word!), else <anon>
  const Cell* owner = nullptr;  // the object a method is selected from
  uint32_t mode = kOrdinary;
  bool infix = false;           // the first argument is already the caller's newest cell
  bool push = true;             // the result is pushed; else it goes to the caller's arguments[0]
};

// Calls the callable (any of the five callable types) with its arguments from the feed, which is
// advanced past them.
void call(const Cell& callable, Feed& feed, const CallSite& site);

// The lean call: a call named by a word alone (no refinement named) whose mandatory arguments
// are plain evaluated ones, the case of most calls. For those, what the argument cache says is
// copied once per callable into a CallInfo, kept in a side table by the callable's internal
// block and dropped by the collector with it. The call needs no gathering state: one frame
// (which holds the callable), the arguments evaluated straight into it and checked by one bit
// test each, then a function's unused refinements and locals filled in.
constexpr uint32_t kLeanArgs = 8;
static_assert(TYPE_COUNT <= 64, "a type mask is 64 bits");
struct CallInfo {
  Cell callable;       // the value it describes: a callable with the same cell is the same one
  bool lean = false;   // plain mandatory arguments
  uint8_t arity = 0;
  uint32_t tail = 0;        // function: the cells after the arguments (refinements, locals)...
  uint64_t tail_false = 0;  // ... bit i set: cell i is false (a refinement, /local), else none
  uint64_t masks[kLeanArgs] = {};
};
// The same callable: its payload names the same nodes (flags such as new-line may differ).
inline bool same_callable(const Cell& a, const Cell& b) {
  // Two 8-byte comparisons without branches: the header's flag bits are masked out.
  uint64_t a0, a1, b0, b1;
  std::memcpy(&a0, &a, 8);
  std::memcpy(&b0, &b, 8);
  std::memcpy(&a1, &a.w2, 8);
  std::memcpy(&b1, &b.w2, 8);
  constexpr uint64_t kTypeAndW1 = uint64_t(0xFFFFFFFF) << 32 | cell::kTypeMask;
  return (((a0 ^ b0) & kTypeAndW1) | (a1 ^ b1)) == 0;
}
// The callable's CallInfo, made on first use (may allocate: the callable must be rooted). Its
// memory stays valid for good; it describes the callable while a frame or a word holds it, and
// may later describe another one (check its callable).
const CallInfo& call_info(const Cell& callable);

// The call of a callable named by a word, when its CallInfo is lean: the arguments come from
// the feed. infix: the first argument is the caller's newest cell. False when the callable
// takes more (refinements, literal or get-word parameters...): nothing is done, call() makes it.
bool call_lean(const Cell& callable, Feed& feed, const Cell& name, bool push, bool infix);
// Its steps, for callers that evaluate the arguments themselves: enter marks the frame; each
// argument is then pushed and checked; finish runs the callable and closes the frame (check
// pending after it).
// Inline: every planned call makes its frame with it.
[[gnu::always_inline]] inline void lean_enter(const Cell& callable, const Cell& name, bool infix) {
  rt::check_stack();
  // An infix call's left operand, the caller's newest cell, becomes the frame's first cell.
  if (infix) --stack::top;
  if (cell::type_of(callable) == TYPE_FUNCTION) {
    frames::mark_interp_call(name, function::context_of(callable));
  } else {
    frames::mark_interp_native(name);
  }
  frames::top_frame()->callable = callable;
  if (infix) ++stack::top;
}
[[noreturn, gnu::noinline]] void fire_lean_arg(const Cell& callable, const Cell& name,
                                               uint32_t index, const Cell* got);
inline void check_lean_arg(const CallInfo& info, const Cell& callable, const Cell& name,
                           uint32_t index, const Cell* value) {
  if (!(info.masks[index] >> cell::type_of(*value) & 1)) {
    fire_lean_arg(callable, name, index, value);
  }
}
void lean_finish(const CallInfo& info, const Cell& callable, bool push, bool infix);
// A function's unused refinements and its locals, pushed after its arguments.
inline void push_tail(const CallInfo& info) {
  for (uint32_t i = 0; i < info.tail; i++) {
    stack::push_copy(info.tail_false >> i & 1 ? constants::false_value : constants::none);
  }
}

// Runs a function! whose call frame is marked and complete (arguments and locals pushed), as a
// change handler is: points its context at the frame's cells, evaluates the body and leaves the
// result in the frame's arguments[0]. A return or exit ends here; other pending exits travel on.
// While a trace session runs, trace::run_function runs it.
void run_function(const Cell& function);
// The same without the trace's part.
void run_function_body(const Cell& function);
// A change handler's call (upcall::Interpreter::call_handler): marks the call frame, pushes the
// arguments and locals, runs the function and drops the frame and its cells; an exit leaving it
// is thrown.
Cell call_handler(const Cell& name, const Cell& function, uint32_t self,
                  std::span<const Cell> arguments, uint32_t params, int32_t locals);
// The same, its parameters and locals counted from the function (upcall call_function).
Cell call_function(const Cell& name, const Cell& function, std::span<const Cell> arguments);
// The same for a trace callback of the lexer (upcall call_back), which may move its input:
// afterwards each argument cell but the first holds what the function left in its own.
Cell call_back(const Cell& name, const Cell& function, std::span<Cell> arguments);

// The common operators over numbers, computed without a call: + - * % and the comparisons over
// two integers, + - * / with a float on the left and a float or integer on the right; the same
// result as the action or native would give. False when the call must be made (other callables,
// other operands, and the cases that raise an error).
bool integer_operator(const Cell& callable, const Cell& left, const Cell& right, Cell* result);
bool float_operator(const Cell& callable, const Cell& left, const Cell& right, Cell* result);
// The operators over two integers that need no overflow path beyond giving up, by code: what
// a plan keeps for an operator so that it computes them without looking at the callable.
enum class IntegerOp : uint8_t { kNone, kAdd, kSubtract, kMultiply, kRemainder, kEqual, kNotEqual,
                                 kLesser, kGreater, kLesserOrEqual, kGreaterOrEqual };
IntegerOp integer_op_of(const Cell& callable);
// The integer operator's result, as integer_operator gives it; false when an operand is no
// integer or the result needs the action (overflow, division by zero).
[[gnu::always_inline]] inline bool integer_op(IntegerOp op, const Cell& left, const Cell& right,
                                              Cell* result) {
  if (cell::type_of(left) != TYPE_INTEGER || cell::type_of(right) != TYPE_INTEGER) return false;
  const int32_t a = integer::get_value(left), b = integer::get_value(right);
  int32_t r;
  switch (op) {
    case IntegerOp::kAdd: if (__builtin_add_overflow(a, b, &r)) return false; break;
    case IntegerOp::kSubtract: if (__builtin_sub_overflow(a, b, &r)) return false; break;
    case IntegerOp::kMultiply: if (__builtin_mul_overflow(a, b, &r)) return false; break;
    case IntegerOp::kRemainder:
      if (b == 0 || (b == -1 && a == INT32_MIN)) return false;
      r = a % b;
      break;
    case IntegerOp::kEqual: *result = logic::make(a == b); return true;
    case IntegerOp::kNotEqual: *result = logic::make(a != b); return true;
    case IntegerOp::kLesser: *result = logic::make(a < b); return true;
    case IntegerOp::kGreater: *result = logic::make(a > b); return true;
    case IntegerOp::kLesserOrEqual: *result = logic::make(a <= b); return true;
    case IntegerOp::kGreaterOrEqual: *result = logic::make(a >= b); return true;
    default: return false;
  }
  *result = integer::make(r);
  return true;
}
inline bool number_operator(const Cell& callable, const Cell& left, const Cell& right,
                            Cell* result) {
  if (cell::type_of(left) == TYPE_INTEGER) {
    return cell::type_of(right) == TYPE_INTEGER && integer_operator(callable, left, right, result);
  }
  return cell::type_of(left) == TYPE_FLOAT && float_operator(callable, left, right, result);
}

// Signatures of the native and action slots: a native's or action's code reads the arguments
// its start-up definition declares, trusting their types. Between start_signatures and
// seal_signatures (while the environment loads) each slot's first definition is kept as its
// signature; a native! or action! made afterwards with another spec is called through its
// slot's signature (its argument types limited to the slot's, its arguments brought to the
// slot's layout, no-arg for an argument it does not provide). Before start-up nothing is kept.
void start_signatures();
void seal_signatures();
// Builds the argument cache of a native! or action! just made (a rooted cell) from its spec as
// it is now, as its argument context was: the spec block is the caller's and may change later.
// While the environment loads, also keeps it as its slot's signature.
void make_native_cache(const Cell& callable);

}  // namespace interp
