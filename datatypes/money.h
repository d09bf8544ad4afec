// money!: exact decimal amounts with an optional currency. The cell keeps 22 packed BCD digits
// (17 before the point, 5 after), the sign in header bit 14 and a currency index in byte 4: the
// 1-based position of the code in system/locale/currencies/list, 0 for none. Arithmetic is exact
// (digits past the fifth fraction digit are dropped, never rounded) and raises on overflow.
#pragma once
#include <cstdint>

#include "datatypes/integer.h"
#include "runtime/cell.h"

namespace money {

constexpr uint32_t kSignFlag = 1u << 14;
constexpr int kDigits = 22;
constexpr int kIntegerDigits = 17;
constexpr int kFractionDigits = 5;
constexpr int32_t kMaxCurrency = 255;  // the largest index the currency byte holds

// Builds the money from scanned text into the cell: integer digits [digits, point or end),
// fraction digits after the point (null: none), "'" separators skipped, an optional 3-letter
// currency code. Null when the amount has too many digits or the code is not in the list; a
// code whose position does not fit the cell raises script/size-limit. May allocate (the code's
// symbol): the text must not lie in series memory, the cell must stay put.
Cell* make_at_digits(Cell* cell, bool negative, const uint8_t* currency, const uint8_t* digits,
                     const uint8_t* point, const uint8_t* end);

Cell from_int(int32_t value);  // no currency; -2147483648 converts exactly
// The float's shortest decimal digits read as money, digits past the fifth fraction digit
// dropped. Infinite or NaN: script/bad-make-arg; beyond 17 integer digits: script/type-limit.
Cell from_float(double value);
// The integer part; past 32 bits script/type-limit with integer!.
int32_t to_int(const Cell& value);
double to_float(const Cell& value);  // the nearest double to the amount

// as-money: the amount (an integer!, or a float! read as make money! reads it) in the currency
// the word names; a code the list lacks raises script/bad-denom with the word.
Cell in_currency(const Cell& currency, const Cell& amount);

int32_t sign(const Cell& value);  // -1, 0, +1 (a negative zero is 0)
bool zero_q(const Cell& value);
// The symbol's 1-based position in the currency list (any case), or -1.
int32_t currency_index(uint32_t symbol);

// The action's arithmetic on the current frame (add .. remainder): arg(0) op arg(1), either of
// which may be the number; the result replaces arg(0), which is returned.
Cell* do_math(integer::Op op);
// a is the money; -1, 0, 1, or action::kNotComparable.
int32_t compare(Cell* a, Cell* b, int32_t op);

void register_datatype();

}  // namespace money
