// money!: exact decimal amounts with an optional currency.
// (Being built.)
#include "datatypes/money.h"

namespace money {

void register_datatype() {}

}  // namespace money
