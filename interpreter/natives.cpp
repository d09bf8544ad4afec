// The native table, made at compile time from the native list (interpreter/native_list.h); the
// evaluator calls a native!'s entry through its index. Also the two truth tests that the control
// natives share.
#include "interpreter/natives.h"

#include "interpreter/parse.h"

namespace natives {

constexpr std::array<Native, kTableSize> table = [] {
  std::array<Native, kTableSize> entries{};
#define ZEL_NATIVE_ENTRY(index, id, name, function) entries[index - 1] = function;
#define ZEL_NATIVE_RESERVED(index, id, name)
  ZEL_NATIVES(ZEL_NATIVE_ENTRY, ZEL_NATIVE_RESERVED)
#undef ZEL_NATIVE_ENTRY
#undef ZEL_NATIVE_RESERVED
  return entries;
}();

void init() {
  init_print();
  init_checksum();
  init_compress();
  parse::init();
}

}  // namespace natives
