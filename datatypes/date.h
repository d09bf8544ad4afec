// date!: a calendar date with an optional time of day and zone.
// (Being built: registers nothing yet.)
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace date {

void register_datatype();

}  // namespace date
