// url! and file!: text values that name resources.
// (Being built: registers nothing yet.)
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace url {

void register_datatypes();  // after string!, their parent

}  // namespace url
