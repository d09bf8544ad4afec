// integer!: the signed 32-bit integer, the cell operations that hand integers to and from the
// data stack, and the 32-bit arithmetic core that char! and the other numeric types call.
// Arithmetic never wraps: a sum, difference or product past the 32-bit range, or an inexact
// quotient, becomes a float!; overflow is detected with the compiler's checked builtins.
#pragma once
#include <cstdint>

#include "datatypes/datatype.h"
#include "runtime/cell.h"

namespace integer {

// Operation codes of the arithmetic core, shared by every numeric type.
enum Op : int32_t { ADD = 0, SUBTRACT, MULTIPLY, DIVIDE, REMAINDER, OR, AND, XOR };

inline Cell make(int32_t value) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(value), 0}; }

Cell* push(int32_t value);
void set_result(int32_t value);              // arg(0) becomes the integer, flags cleared
Cell* set_cell(Cell* cell, int32_t value);   // flags kept
Cell* append_to_block(const Cell* block, int32_t value);

// Payload word 2 of any cell: integer!, char! and every type that keeps a 32-bit value there.
inline int32_t get_value(const Cell& c) { return static_cast<int32_t>(c.w2); }
inline void set_value(Cell& c, int32_t value) { c.w2 = static_cast<uint32_t>(value); }
int32_t last_value();          // of arg(0), whatever its type
int32_t last_value_or_zero();  // of arg(0) when it is an integer!, else 0

int32_t sign(int32_t value);
int32_t abs_checked(int32_t value);  // -2147483648 raises math/overflow
// Whether a float! (or percent!/time!) double lies outside -2147483648.0 .. 2147483647.0 or is
// NaN: the test to pass before converting it.
bool float_out_of_range(const Cell& value);
// Decimal text, valid until the next call.
const char* to_decimal_text(int32_t value);
// form of the integer as a new string! (what the form action writes into the empty string its
// dispatcher makes, without the dispatch or the append). The cell is not rooted. May allocate.
Cell form_new_string(int32_t value);

// left op right. Add, subtract and multiply past the range make `result` a float! of the exact
// double operation (without a result cell they raise math/overflow); an inexact divide does the
// same, or truncates toward zero when `result` is null. Divide and remainder by 0 raise
// math/zero-divide, -2147483648 by -1 math/overflow. An integer result is stored in `result`'s
// payload (header untouched) and returned.
int32_t do_math(int32_t left, int32_t right, Op op, Cell* result);
// The action's arithmetic on the current frame: arg(0) the integer, arg(1) the operand; the
// result replaces arg(0), which is returned.
Cell* do_math_args(Op op);

// Mixed arithmetic goes to the other type's own entries: the slot of an operation code, and the
// run of a type's on-frame slot (internal/not-done while that type has no such entry).
action::Slot slot_of(Op op);
void run_slot(uint8_t type, action::Slot slot);

void init();

}  // namespace integer
