// url! and file!: text values that name resources.
// (Being built.)
#include "datatypes/url.h"

namespace url {

void register_datatypes() {}

}  // namespace url
