// Loaders of file and url literals: %"quoted file" with caret escapes; bare files and urls
// taken as they stand, their percent escapes decoded (datatypes/url.h). Relies on the rooting
// rule of runtime/gc.h: the value's series is made before its output cell is taken.
#include <cstring>
#include <string>

#include "datatypes/url.h"
#include "lexer/state.h"
#include "lexer/tables.h"
#include "runtime/unicode.h"

namespace lexer {

namespace {

// The text [text, end) as a value of the type; escapes are decoded when it holds a "%".
void load_percent_text(State& s, const uint8_t* token, const uint8_t* text, const uint8_t* end,
                       uint32_t flags, bool load, uint8_t type) {
  if (!std::memchr(text, '%', size_t(end - text))) {
    load_text(s, text, end, flags, load, type, false);
    return;
  }
  std::u32string code_points;
  for (const uint8_t* p = text; p < end;) {
    int32_t c;
    p = unicode::decode_utf8_dfa(p, end, c);
    if (c < 0) throw_error(s, token, type);
    code_points += char32_t(c);
  }
  if (!load) return;
  Cell value{};
  url::make_text(&value, url::decode_percent(code_points), type);
  Cell* out = output_cell(s);
  value.header |= out->header & cell::kNewLine;
  *out = value;
}

}  // namespace

// A url token led by ' or : is a broken lit-word! or get-word!.
void load_url(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load) {
  if (*text == ':' || *text == '\'') {
    throw_error(s, text, *text == ':' ? TYPE_GET_WORD : TYPE_LIT_WORD);
  }
  load_percent_text(s, text, text, end, flags, load, TYPE_URL);
}

// %"..." ends at its closing quote, which belongs to the token.
void load_file(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load) {
  if (text[1] == '"') {
    s.position = end + 1;
    load_text(s, text + 2, end, flags, load, TYPE_FILE, (flags & F_CARET) != 0);
    return;
  }
  load_percent_text(s, text, text + 1, end, flags, load, TYPE_FILE);
}

}  // namespace lexer
