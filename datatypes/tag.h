// tag!, email! and ref!: small string types.
// (Being built: registers nothing yet.)
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace tag {

void register_datatypes();  // after string!, their parent

}  // namespace tag
