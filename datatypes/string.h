// string!: text values. Construction and conversion (make, to), printing (form, mold) and
// comparison, plus the series actions taken from series!. Its row is the parent row of url!
// (and through it file!), binary!, tag!, email! and ref!, so make and to serve every type id.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace string_type {

// make and to of a text type: the new value goes into proto (which must stay put: the
// dispatcher's frame cell) and the cell is returned. May allocate.
Cell* make(Cell* proto, Cell* spec, uint8_t type);
Cell* to(Cell* proto, Cell* spec, uint8_t type);

void register_datatype();

}  // namespace string_type
