// tuple!: 3 to 12 bytes (colours, versions).
// (Being built: registers nothing yet.)
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace tuple {

void register_datatype();

}  // namespace tuple
