// float!, percent! and triple!: the 64-bit IEEE number (in payload words 2-3), the same number
// shown as a percentage (50% holds 0.5), and the print-only triple of 32-bit integers. Also the
// float text every type that prints floating-point values uses, the tolerant comparison, the
// arithmetic with its mixing rules (integer! operands arrive already made float!), and round.
// Relies on runtime/dtoa.h for shortest round-trip text and datatypes/integer.h for op codes.
#pragma once
#include <cstdint>

#include "datatypes/integer.h"
#include "runtime/cell.h"

namespace float_ {

// --- Cells -----------------------------------------------------------------------------------

inline Cell make(double value) {
  Cell c{TYPE_FLOAT, 0, 0, 0};
  cell::set_double(c, value);
  return c;
}
inline double get(const Cell& value) { return cell::get_double(value); }
Cell* make_at(Cell* cell, double value);  // retypes in place, flags kept
Cell* push(double value);
Cell* push_halves(uint32_t high, uint32_t low);  // the double's high and low 32-bit words
Cell* append_to_block(const Cell* block, uint32_t high, uint32_t low);
void set_result(double value);  // arg(0) becomes the float!, flags cleared

// Truncation of value + 0.49999999999999994 (the largest double below 0.5): pixel values.
// Values beyond the 32-bit range (or NaN) clamp to it.
int32_t to_int_rounded(double value);

// A draw between 0 and the value: value x r / 2147483647 with one draw of the generator, or
// with /secure value x (s2 + s1 / 2147483647) / 2^31 with two secure draws.
double random_between_zero_and(double value, bool secure);

bool nan_q(double value);
bool special_q(double value);  // an infinity or NaN
bool nan32_q(float value);
// Equal within 10 units in the last place (32-bit floats; points use it).
bool almost_equal32(float a, float b);

// --- Text ------------------------------------------------------------------------------------

// Percent modes take the value already multiplied by 100. kSingleExact writes the fewest digits
// that read back as the same 32-bit float, without the pretty rules (the loadable form).
enum TextMode { kSingle, kDouble, kSinglePercent, kPercent, kTimeSeconds, kSingleExact };
constexpr int kTextSize = 40;  // room for the longest text and its NUL
// Writes the value's text into out (kTextSize bytes); returns its length.
int32_t to_text(double value, TextMode mode, char* out);
// The pretty flag: system/options/float/pretty? (a flag of its own, on at start, while the
// system object lacks that field).
void set_pretty(bool on);
bool pretty();

// --- Actions shared with integer!, time!, the points and tuples ------------------------------

// Arithmetic of the current frame: arg(0) op arg(1); the result replaces arg(0), which is
// returned. Ops are integer::ADD .. integer::REMAINDER; others raise script/cannot-use.
Cell* do_math(integer::Op op);
// The double operation of do_math (ADD .. REMAINDER), which the points and tuples apply to their
// coordinates and bytes: IEEE, never an error.
double apply(integer::Op op, double x, double y);
// -1, 0, 1, or action::kNotComparable; under the equality operators 0 means equal.
int32_t compare(Cell* a, Cell* b, int32_t op);
// Registers float! and percent! (percent! inherits from float!).
void register_datatypes();

}  // namespace float_

namespace percent {

Cell* make_at(Cell* cell, double value);
Cell* append_to_block(const Cell* block, uint32_t high, uint32_t low);

}  // namespace percent

namespace triple {

inline Cell make(int32_t a, int32_t b, int32_t c) {
  return Cell{TYPE_TRIPLE, static_cast<uint32_t>(a), static_cast<uint32_t>(b),
              static_cast<uint32_t>(c)};
}
inline uint32_t first_of(const Cell& triple) { return triple.w1; }
inline uint32_t second_of(const Cell& triple) { return triple.w2; }
inline uint32_t third_of(const Cell& triple) { return triple.w3; }
void register_datatype();

}  // namespace triple
