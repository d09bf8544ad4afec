// tuple!: 3 to 12 bytes (colours, versions).
// (Being built.)
#include "datatypes/tuple.h"

namespace tuple {

void register_datatype() {}

}  // namespace tuple
