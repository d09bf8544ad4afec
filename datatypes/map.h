// map! and hash!: keyed values and blocks with a hash index.
// (Being built: registers nothing yet.)
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace map {

void register_datatypes();  // after block!, hash!'s parent

}  // namespace map
