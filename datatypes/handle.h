// handle!: an OS handle held as a value.
// (Being built: registers nothing yet.)
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace handle {

void register_datatype();  // after integer!, its parent

}  // namespace handle
