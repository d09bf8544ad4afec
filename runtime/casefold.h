// Case folding: one code point to one code point (simple case mapping), so no text changes
// length. Used wherever text is compared without regard to case and by uppercase/lowercase.
// The mappings are generated at build time from UnicodeData.txt (runtime/gen_casefold.py).
// Changing the case of a string value is the string layer's (string::change_case).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace casefold {

// Fills the two direct lookup tables of the BMP (on the tracked heap, kept until exit) from the
// pair lists. Made at the first fold beyond ASCII (most runs fold none); again, nothing is done.
void init_tables();

// The code point mapped to upper case (upper) or to lower case; unchanged when it has no mapping.
// ASCII, most of the text compared and hashed, is mapped here; the rest through the tables.
uint32_t fold_char_from_tables(uint32_t code_point, bool upper);
inline uint32_t fold_char(uint32_t code_point, bool upper) {
  if (code_point >= 0x80) return fold_char_from_tables(code_point, upper);
  if (upper) return code_point - 'a' < 26 ? code_point - 0x20 : code_point;
  return code_point - 'A' < 26 ? code_point + 0x20 : code_point;
}

}  // namespace casefold
