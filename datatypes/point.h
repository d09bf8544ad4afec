// point2D! and point3D!: two or three 32-bit float coordinates.
// (Being built: registers nothing yet.)
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace point {

void register_datatypes();

}  // namespace point
