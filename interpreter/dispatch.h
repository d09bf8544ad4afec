// Action dispatch: the dispatchers that action! values call (one per action slot), each reading
// the frame's cells and calling the implementation the registry (datatypes/datatype.h) holds for
// the first argument's type; comparison by operator code, the path step, and the integer
// operations the evaluator computes without a call. Relies on the frame convention of
// datatypes/stack.h: arguments in the current frame's cells, the result in stack::arg(0).
#pragma once
#include <array>
#include <cstdint>
#include <optional>

#include "datatypes/datatype.h"
#include "datatypes/stack.h"
#include "runtime/cell.h"

namespace dispatch {

// Every dispatcher is called the same way, so the interpreter can call any of them through the
// table: the action's arguments are the current frame's cells (stack::arg(0) is the first
// argument and receives the result), and `refinements` holds one entry per refinement of the
// action, in the order of the action's spec: -1 when the refinement is absent, else the position
// of its first argument cell counted from stack::args (a refinement without arguments: any
// position from 0 on). Actions without refinements ignore it, so null is fine for them.
using Dispatcher = void (*)(const int32_t* refinements);

// By slot - 1, each slot's dispatcher bound by its name (set-path's raises the unsupported-action
// error: no type fills that slot).
extern const std::array<Dispatcher, action::kSlotCount> dispatchers;
inline Dispatcher dispatcher(action::Slot slot) { return dispatchers[slot - 1]; }

// --- Lookup ------------------------------------------------------------------------------------

// The implementation of slot S for the frame's first argument (datatype::resolve_for).
template <action::Slot S>
action::Fn<S> lookup_by_result() {
  return datatype::resolve_for<S>(*stack::arg(0));
}

// The path step of the value's type. Unsupported: without a path, script/bad-path-type2 (the
// element, the type); with one, script/bad-path-type (the path, the type, and a copy of the path
// up to the value that refused the step). `index` counts the path's elements after its head from
// 0, so the copy keeps the head and the `index` elements before the failing one.
action::Fn<action::EVAL_PATH> lookup_for_path(const Cell& value, const Cell* path,
                                              const Cell& element, int32_t index);

// stack::arg(1) as the index of pick and poke: an integer! its value, a char! its code point,
// true 1 and false 2, anything else 0.
int32_t index_arg();

// --- Comparison ----------------------------------------------------------------------------------

// Compares arg(0) with arg(1) and leaves the logic! in arg(0): the comparison natives.
void compare_op(int32_t op);

// --- Integer operations without a call ----------------------------------------------------------
// What the action or comparison gives for two integer!s, computed directly (the arithmetic
// overflowing to float! as the action does); nullopt where the call must be made: an operation
// that raises (division or remainder by 0 or of -2147483648 by -1) or an operator without a
// direct form.

std::optional<Cell> integer_math(int32_t op, const Cell& first, const Cell& second);  // integer::Op
std::optional<bool> integer_compare(int32_t op, int32_t a, int32_t b);  // action::CompareOp

// --- Direct calls --------------------------------------------------------------------------------
// The implementation of the value's type called with the operands as given, no frame built.

Cell* call_eval_path(Cell* parent, Cell* element, const action::PathStep& step);

}  // namespace dispatch
