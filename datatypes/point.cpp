// point2D! and point3D!: two or three 32-bit float coordinates.
// (Being built.)
#include "datatypes/point.h"

namespace point {

void register_datatypes() {}

}  // namespace point
