// tag!, email! and ref!: small string types.
// (Being built.)
#include "datatypes/tag.h"

namespace tag {

void register_datatypes() {}

}  // namespace tag
