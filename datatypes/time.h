// time!: a duration or time of day in seconds (float! arithmetic, h:mm:ss text).
// (Being built: registers nothing yet.)
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace time_ {

void register_datatype();  // after float!, its parent
// Appends the h:mm:ss text of the seconds to the string out; returns part less the characters appended.
int32_t form_hms(double seconds, Cell* out, int32_t part);

}  // namespace time_
