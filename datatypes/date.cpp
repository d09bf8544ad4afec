// date!: a calendar date with an optional time of day and zone.
// (Being built.)
#include "datatypes/date.h"

namespace date {

void register_datatype() {}

}  // namespace date
