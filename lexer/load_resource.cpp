// Loaders of file and url literals.
// (Being built: reports the datatype's syntax error for now.)
#include "lexer/state.h"

namespace lexer {

// A url token led by ' or : is a broken lit-word! or get-word!.
void load_url(State& s, const uint8_t* text, const uint8_t*, uint32_t, bool) {
  throw_error(s, text, *text == ':' ? TYPE_GET_WORD : *text == '\'' ? TYPE_LIT_WORD : TYPE_URL);
}

void load_file(State& s, const uint8_t* text, const uint8_t*, uint32_t, bool) {
  throw_error(s, text, s.token_type);
}

}  // namespace lexer
