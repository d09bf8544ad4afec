// Loaders of tag, email and ref literals: their text, between the delimiters, becomes a string
// of the literal's type through the string loader. A ^ in them is a plain character.
#include "lexer/state.h"

namespace lexer {

void load_email(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load) {
  load_text(s, text, end, flags, load, TYPE_EMAIL, false);
}

// <text>: the closing > is part of the token.
void load_tag(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load) {
  if (*text != '<') throw_error(s, text, TYPE_TAG);
  s.position = end + 1;
  load_text(s, text + 1, end, flags, load, TYPE_TAG, false);
}

// @text
void load_ref(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load) {
  load_text(s, text + 1, end, flags, load, TYPE_REF, false);
}

}  // namespace lexer
