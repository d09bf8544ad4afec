// point2D! and point3D!: two or three 32-bit float coordinates, x in payload word 1, y in word 2
// and z (point3D!) in word 3, for geometry and drawing. Both types share one set of action
// entries that read the coordinate count from the type. Arithmetic is worked in doubles through
// the float! core (datatypes/float.h) and stored back as single precision.
#pragma once
#include <cstdint>

#include "datatypes/integer.h"
#include "runtime/cell.h"

namespace point {

// The coordinate count of a point type: 2 or 3.
inline int count_of(uint8_t type) { return type == TYPE_POINT3D ? 3 : 2; }

// The single-precision bits of coordinate axis (1 x, 2 y, 3 z: 0 on a point2D!).
inline uint32_t bits_of(const Cell& point, int axis) {
  return axis == 1 ? point.w1 : axis == 2 ? point.w2 : point.w3;
}
inline void set_bits(Cell& point, int axis, uint32_t bits) {
  (axis == 1 ? point.w1 : axis == 2 ? point.w2 : point.w3) = bits;
}

// A double in single precision; values beyond the single range become infinities, as the IEEE
// conversion rounds them.
float to_single(double value);

// Retypes the cell as the point, flags kept (z is ignored for a point2D!).
Cell* make_at(Cell* cell, uint8_t type, double x, double y, double z = 0.0);
float coordinate(const Cell& point, int axis);  // axis 1, 2 or 3

// The point of the type whose coordinates are left (doubles: a pair's integers stay exact) op
// the right operand: a number for every coordinate, a pair! (point2D! only) or a point of the
// same type coordinate by coordinate; another operand raises script/invalid-type, an op past
// remainder script/cannot-use.
Cell combine(integer::Op op, uint8_t type, const double* left, const Cell& right);

// Registers point2D! and point3D!.
void register_datatypes();

}  // namespace point
