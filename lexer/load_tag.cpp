// Loaders of tag, email and ref literals.
// (Being built: reports the datatype's syntax error for now.)
#include "lexer/state.h"

namespace lexer {

void load_email(State& s, const uint8_t* text, const uint8_t*, uint32_t, bool) {
  throw_error(s, text, s.token_type);
}

void load_tag(State& s, const uint8_t* text, const uint8_t*, uint32_t, bool) {
  throw_error(s, text, s.token_type);
}

void load_ref(State& s, const uint8_t* text, const uint8_t*, uint32_t, bool) {
  throw_error(s, text, s.token_type);
}

}  // namespace lexer
