// money!: exact decimal amounts with an optional currency.
// (Being built: registers nothing yet.)
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace money {

void register_datatype();

}  // namespace money
