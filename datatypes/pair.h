// pair!: two 32-bit integers, x in payload word 2 and y in word 3 (sizes and positions).
// Arithmetic that leaves the integers (a float factor, an inexact quotient, an overflow) goes on
// in point2D! (datatypes/point.h). Also what the small compound values (pair!, tuple!, the
// points) share: loading one value of their type from text, and the coordinate words.
#pragma once
#include <cstdint>

#include "datatypes/integer.h"
#include "runtime/cell.h"

namespace pair {

inline Cell make(int32_t x, int32_t y) {
  return Cell{TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
}
inline int32_t x_of(const Cell& pair) { return static_cast<int32_t>(pair.w2); }
inline int32_t y_of(const Cell& pair) { return static_cast<int32_t>(pair.w3); }
inline void set_x(Cell& pair, int32_t x) { pair.w2 = static_cast<uint32_t>(x); }
inline void set_y(Cell& pair, int32_t y) { pair.w3 = static_cast<uint32_t>(y); }
// Retypes the cell as the pair, flags kept.
Cell* make_at(Cell* cell, int32_t x, int32_t y);

// arg(0) (the pair) op arg(1); the result (a pair! or a point2D!) replaces arg(0).
Cell* do_math(integer::Op op);

void register_datatype();

}  // namespace pair

namespace compound {

// make and to from text: the first value the text loads into, which must be of the type; the
// value is written over result. Anything else raises script/bad-to-arg (the type, the text).
// May allocate.
Cell* load_from_text(Cell* result, const Cell& text, uint8_t type);

// The coordinate words x, y and z: 1, 2 or 3 for a word! of that name (any case), else 0.
int32_t axis_of_word(const Cell& element);

}  // namespace compound
