// time!: a signed duration or time of day in seconds, held as a double (payload words 2-3).
// It shares float!'s arithmetic and comparison and adds the h:mm:ss text, construction from
// blocks and text, and the hour/minute/second fields. Values stay below 2147483647 hours.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace time_ {

void register_datatype();  // after float!, its parent
// Whether seconds make a time: finite, and whole hours that fit an integer!.
bool in_range(double seconds);
// Makes the cell a time! of the seconds, its flags kept.
Cell* set_cell(Cell* cell, double seconds);
// Whether the h:mm:ss text of the seconds shows them rounded up into the next minute (seconds
// of 59.99995 and above).
bool rounds_to_next_minute(double seconds);
// Appends the h:mm:ss text of the seconds to the string out; returns part less the characters
// appended. Seconds outside in_range raise script/out-of-range.
int32_t form_hms(double seconds, Cell* out, int32_t part);

}  // namespace time_
