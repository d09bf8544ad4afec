// Action dispatch: the dispatchers that action! values call (one per action slot), each reading
// the frame's cells and calling the implementation the registry (datatypes/datatype.h) holds for
// the first argument's type; comparison by operator code, the path step, and the fast paths
// compiled code takes for arithmetic, comparison, block picks and series navigation. Relies on
// the frame convention of datatypes/stack.h: arguments in the current frame's cells, the result
// in stack::arg(0).
#pragma once
#include <cstdint>
#include <optional>
#include <span>

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

// By slot - 1; set-path (slot 8) has none.
extern Dispatcher dispatchers[action::kSlotCount];
inline Dispatcher dispatcher(action::Slot slot) { return dispatchers[slot - 1]; }

void init();  // fills the table in slot order
// Copies the entries into the table from slot 1 on.
void register_dispatchers(std::span<const Dispatcher> entries);

// --- Lookup ------------------------------------------------------------------------------------

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

Cell* call_eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grandparent,
                     Cell* previous, int32_t index, bool case_flag, bool get, bool last,
                     bool notify);

// --- Compiled fast paths -------------------------------------------------------------------------
// Operands are cells; `word` names the native frame that the general path runs in (and that
// errors report). "push" variants push the result, "top" variants replace the newest cell with
// it, "int" variants take an integer constant as the second operand.

// op is an arithmetic code of integer::Op (the fast paths take add, subtract, multiply, or~,
// and~ and xor~). Two integer!s: 32-bit arithmetic (an overflowing add, subtract or multiply
// gives the float! of the exact double result) or bitwise; two float!s: double add, subtract or
// multiply; anything else: the action.
Cell* math_push(int32_t op, const Cell& word, const Cell& first, const Cell& second);
Cell* math_int_push(int32_t op, const Cell& word, const Cell& first, int32_t k);
Cell* math_top(int32_t op, const Cell& word, const Cell& second);
Cell* math_top_int(int32_t op, const Cell& word, int32_t k);

// Two integer!s under equal?, not-equal?, strict-equal? or an ordering compare directly;
// anything else through compare_op.
Cell* compare_push(int32_t op, const Cell& word, const Cell& first, const Cell& second);
Cell* compare_int_push(int32_t op, const Cell& word, const Cell& first, int32_t k);
Cell* compare_top(int32_t op, const Cell& word, const Cell& second);
Cell* compare_top_int(int32_t op, const Cell& word, int32_t k);
bool compare_test(int32_t op, const Cell& word, const Cell& first, const Cell& second,
                  bool negate);
bool compare_int_test(int32_t op, const Cell& word, const Cell& first, int32_t k, bool negate);
void compare_set_result(int32_t op, const Cell& word, const Cell& first, const Cell& second);
void compare_int_set_result(int32_t op, const Cell& word, const Cell& first, int32_t k);

// A block!: pushes its element number `index` counted from 1 at its head, or none! when there is
// none; other types: the path step with the integer! index.
Cell* pick_int_push(const Cell& value, int32_t index, const Cell& word);

// Series navigation by code; pushes the result.
enum NavigateOp : int32_t {
  NAV_LENGTH_Q = 1, NAV_INDEX_Q, NAV_HEAD_Q, NAV_TAIL_Q, NAV_NEXT, NAV_BACK, NAV_HEAD, NAV_TAIL,
};
Cell* navigate_push(const Cell& value, int32_t op, const Cell& word);

}  // namespace dispatch
