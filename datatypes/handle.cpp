// handle!: an OS handle held as a value.
// (Being built.)
#include "datatypes/handle.h"

namespace handle {

void register_datatype() {}

}  // namespace handle
