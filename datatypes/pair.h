// pair!: two 32-bit integers (sizes and positions).
// (Being built: registers nothing yet.)
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace pair {

void register_datatype();

}  // namespace pair
