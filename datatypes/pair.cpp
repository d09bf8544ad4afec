// pair!: two 32-bit integers (sizes and positions).
// (Being built.)
#include "datatypes/pair.h"

namespace pair {

void register_datatype() {}

}  // namespace pair
