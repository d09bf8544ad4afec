// Case folding: one code point to one code point (simple case mapping), so no text changes
// length. Used wherever text is compared without regard to case and by uppercase/lowercase.
// The mappings are generated at build time from UnicodeData.txt (runtime/gen_casefold.py).
// change_case writes through the string layer (datatypes/string_buffer.h) and may allocate.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace casefold {

// Fills the two direct lookup tables of the BMP (on the tracked heap, kept until exit) from the
// pair lists. Once, at start-up.
void init_tables();

// The code point mapped to upper case (upper) or to lower case; unchanged when it has no mapping.
uint32_t fold_char(uint32_t code_point, bool upper);

// The body of uppercase and lowercase: a char! is folded in place; a string-family value from
// its head for `part` units (null: to the tail; an integer!, or a position in the same series;
// anything else raises script/invalid-refine-arg; a negative count changes nothing, and the
// count never reaches past the tail). A string widens when a folded code point needs it; its
// owner, if any, is then told once (uppercase or lowercase, index 0, the count). Returns the
// value. May allocate: the value's buffer must be rooted, and the cell itself is only read
// before the first allocation.
Cell* change_case(Cell* value, const Cell* part, bool upper);

}  // namespace casefold
