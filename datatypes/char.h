// char!: one Unicode code point (0 to 10FFFF) as a scalar, kept where an integer! keeps its
// value; a child of integer! that shares its arithmetic core, with results held to the code
// point range.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace char_ {

inline Cell make(uint32_t code_point) { return Cell{TYPE_CHAR, 0, code_point, 0}; }
inline uint32_t code_point_of(const Cell& c) { return c.w2; }
inline void set_code_point(Cell& c, uint32_t code_point) { c.w2 = code_point; }

Cell* push(uint32_t code_point);
Cell* append_to_block(const Cell* block, uint32_t code_point);

void init();  // after integer!

}  // namespace char_
