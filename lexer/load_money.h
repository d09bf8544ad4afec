// The money scanner: reads a money amount straight from text of any unit width (1, 2 or 4 bytes a
// code unit) for `to money!` on strings, sharing the literal's rules for separators. It never
// raises for bad text: failure sets the out cell's header to kScanFailed and the caller words its
// own conversion error. The money literal's loader (lexer/state.h) lives beside it.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace lexer {

constexpr uint32_t kScanFailed = 0xFFFFFFFF;

// An optional sign, an optional 3-letter code followed by "$" ("$" optional without a code),
// digits with "'" separators and at most one ".". The whole text must be used. Returns out.
// May allocate (the code's symbol); text may lie in series memory: it is copied first.
Cell* scan_money(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out);

}  // namespace lexer
