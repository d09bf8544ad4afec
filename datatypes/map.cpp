// map! and hash!: keyed values and blocks with a hash index.
// (Being built.)
#include "datatypes/map.h"

namespace map {

void register_datatypes() {}

}  // namespace map
