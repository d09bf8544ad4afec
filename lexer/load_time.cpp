// Loader of time literals.
// (Being built: reports the datatype's syntax error for now.)
#include "lexer/state.h"

namespace lexer {

void load_time(State& s, const uint8_t* text, const uint8_t*, uint32_t, bool) {
  throw_error(s, text, s.token_type);
}

}  // namespace lexer
