// path!, lit-path!, set-path! and get-path!: blocks of path elements (a/b/c) that the evaluator
// walks. They share block!'s payload and implementation and add their own make, to, form and
// mold; paren! lives with block!. Relies on the cycle stack (datatypes/cycles.h) for paths that
// contain themselves and on the rooting rule of runtime/gc.h.
#pragma once
#include <cstdint>

#include "datatypes/datatype.h"
#include "runtime/cell.h"

namespace path {

// Makes the cell, which must stay put, an empty path! with room for capacity cells. May allocate.
Cell* init_empty(Cell* cell, int32_t capacity);

// --- Actions -------------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint8_t type);
Cell* to(Cell* proto, Cell* spec, uint8_t type);
int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent);

// Registers path! and then its three variants. Their rows copy block!'s: every module that fills
// block!'s row registers first.
void register_datatypes();

}  // namespace path
