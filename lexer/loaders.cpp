// Token loaders: per token kind, the syntax the automaton leaves to check and the value built
// from the text (words, integers, floats, percents, chars, strings, raw strings, binaries,
// issues, refinements); the loaders of the other datatypes' literals live beside this file.
// Relies on the rooting rule of runtime/gc.h: each loader allocates its series before
// it takes its output cell, and holds no other node across an allocation.
#include <strings.h>

#include <bit>
#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "lexer/state.h"
#include "lexer/tables.h"
#include "runtime/alloc.h"
#include "runtime/number_text.h"
#include "runtime/unicode.h"

namespace lexer {

namespace {

// Appends the value as a new output cell, keeping the cell's new-line flag.
void emit(State& s, const Cell& value) {
  Cell* c = output_cell(s);
  uint32_t flags = c->header & cell::kNewLine;
  *c = value;
  c->header |= flags;
}

// --- Escapes and text ---------------------------------------------------------------------------

// The escape in parentheses: one or two hex digits, a name, or three to six hex digits.
int32_t paren_escape(const uint8_t* text, size_t length) {
  static const struct {
    const char* name;
    int32_t code;
  } names[] = {{"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10},
               {"page", 12}, {"esc", 27}, {"del", 127}};
  for (const auto& n : names) {
    if (length == std::strlen(n.name) &&
        strncasecmp(reinterpret_cast<const char*>(text), n.name, length) == 0) {
      return n.code;
    }
  }
  if (length < 1 || length > 6) return -1;
  int32_t value = 0;
  for (size_t i = 0; i < length; i++) {
    int32_t digit = string::hex_digit(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value <= static_cast<int32_t>(unicode::kMaxCodePoint) ? value : -1;
}

// The code point of the escape at p (just after its ^), or -1; p moves past it.
int32_t decode_escape(const uint8_t*& p, const uint8_t* end) {
  if (p >= end) return -1;
  uint8_t c = *p;
  if (c == '(') {
    const uint8_t* close = static_cast<const uint8_t*>(std::memchr(p, ')', end - p));
    if (!close) return -1;
    int32_t value = paren_escape(p + 1, static_cast<size_t>(close - p - 1));
    p = close + 1;
    return value;
  }
  if (c >= 0x80) {
    int32_t code;
    p = unicode::decode_utf8_dfa(p, end, code);
    return code;
  }
  p++;
  switch (c) {
    case '"': return 34;
    case '-': return 9;
    case '/': return 10;
    case '^': return 94;
    case '{': return 123;
    case '}': return 125;
    case '~': return 127;
    case '@': return 0;
    case '[': return 27;
    case '\\': return 28;
    case ']': return 29;
    case '_': return 31;
    default:
      if (c >= 'a' && c <= 'z') return c - 'a' + 1;
      if (c >= 'A' && c <= 'Z') return c - 'A' + 1;
      return c;
  }
}

// Decodes UTF-8 text (with ^ escapes when asked) into code points; false on a malformed
// sequence or escape. max receives the largest code point.
bool decode_text(const uint8_t* p, const uint8_t* end, bool escapes, std::vector<uint32_t>& out,
                 uint32_t& max) {
  out.clear();
  max = 0;
  while (p < end) {
    int32_t c;
    if (*p < 0x80 && !(escapes && *p == '^')) {
      c = *p++;
    } else if (*p == '^') {
      p++;
      c = decode_escape(p, end);
    } else {
      p = unicode::decode_utf8_dfa(p, end, c);
    }
    if (c < 0) return false;
    out.push_back(static_cast<uint32_t>(c));
    if (static_cast<uint32_t>(c) > max) max = static_cast<uint32_t>(c);
  }
  return true;
}

// --- Loaders ------------------------------------------------------------------------------------

void load_string(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load) {
  s.position = end + 1;
  load_text(s, text + 1, end, flags, load, TYPE_STRING, (flags & F_CARET) != 0);
}

void load_raw_string(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  const uint8_t* open = text;
  while (*open == '%') open++;
  size_t percents = static_cast<size_t>(open - text);
  size_t closing = 0;
  while (end - closing - 1 > open && end[-1 - static_cast<ptrdiff_t>(closing)] == '%') closing++;
  if (closing > percents) throw_error(s, text, TYPE_STRING);
  // The real end: the first } followed by as many % as opened the string.
  const uint8_t* close = open + 1;
  for (;; close++) {
    close = static_cast<const uint8_t*>(std::memchr(close, '}', s.input_end - close));
    if (!close || static_cast<size_t>(s.input_end - close - 1) < percents) {
      throw_error(s, text, TYPE_STRING);
    }
    size_t n = 0;
    while (n < percents && close[1 + n] == '%') n++;
    if (n == percents) break;
  }
  uint32_t flags = 0;
  for (const uint8_t* p = open + 1; p < close; p++) flags |= class_table[*p];
  s.position = close + 1 + percents;
  load_text(s, open + 1, close, flags & ~0xFFu, load, TYPE_STRING, false);
}

void load_char(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  const uint8_t* p = text + 2;  // past #"
  if (p >= end) throw_error(s, text, TYPE_CHAR);
  int32_t c;
  if (*p == '^') {
    p++;
    c = decode_escape(p, end);
  } else {
    p = unicode::decode_utf8_dfa(p, end, c);
  }
  if (c < 0 || p != end || static_cast<uint32_t>(c) > unicode::kMaxCodePoint) {
    throw_error(s, text, TYPE_CHAR);
  }
  s.position = end + 1;
  if (load) emit(s, Cell{TYPE_CHAR, 0, static_cast<uint32_t>(c), 0});
}

// Float syntax, then the reading; percent text is read with its decimal exponent moved by -2.
void load_decimal(State& s, const uint8_t* text, const uint8_t* end, bool load, uint8_t type) {
  size_t length = static_cast<size_t>(end - text);
  double value;
  int32_t adjust = type == TYPE_PERCENT ? -2 : 0;
  if (!number_text::float_syntax_ok(text, length) ||
      !number_text::convert_float(text, length, adjust, value)) {
    throw_error(s, text, TYPE_FLOAT);
  }
  if (load) {
    Cell c{type, 0, 0, 0};
    cell::set_double(c, value);
    emit(s, c);
  }
}

void load_float(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  s.token_type = TYPE_FLOAT;
  load_decimal(s, text, end, load, TYPE_FLOAT);
}

void load_percent(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  s.position = end + 1;
  load_decimal(s, text, end, load, TYPE_PERCENT);
}

// 1.#INF, -1.#inf, 1.#NaN: only the digit 1 leads them.
void load_special_float(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  const uint8_t* p = text;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  size_t rest = static_cast<size_t>(end - p);
  const char* body = reinterpret_cast<const char*>(p);
  uint64_t bits;
  if (rest == 6 && strncasecmp(body, "1.#NAN", 6) == 0) {
    bits = 0x7FF8000000000000ull;
  } else if (rest == 6 && strncasecmp(body, "1.#INF", 6) == 0) {
    bits = negative ? 0xFFF0000000000000ull : 0x7FF0000000000000ull;
  } else {
    throw_error(s, text, TYPE_FLOAT);
  }
  if (load) {
    Cell c{TYPE_FLOAT, 0, 0, 0};
    cell::set_double(c, std::bit_cast<double>(bits));
    emit(s, c);
  }
}

// Decimal integers; past 32 bits (or 10 digits) the token reads as a float.
void load_integer(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load) {
  const uint8_t* p = text;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  int64_t value = 0;
  int32_t digits = 0;
  bool separator = false;
  for (; p < end; p++) {
    if (*p == '\'') {
      if (separator) throw_error(s, text, TYPE_INTEGER);
      separator = true;
      continue;
    }
    separator = false;
    if (++digits > 10) break;
    value = value * 10 + (*p - '0');
  }
  bool fits = digits <= 10 && (value <= INT32_MAX || (negative && value == -int64_t{INT32_MIN}));
  if (!fits) {
    load_float(s, text, end, flags, load);
    return;
  }
  if (load) emit(s, Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(negative ? -value : value), 0});
}

// Hex digits then h: 2 to 8 digits, no sign and no separator.
void load_hex_integer(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  size_t digits = static_cast<size_t>(end - 1 - text);
  if (digits == 1 && string::hex_digit(*text) >= 10) throw_error(s, text, TYPE_WORD);
  uint32_t value = 0;
  for (const uint8_t* p = text; p < end - 1; p++) {
    int32_t digit = string::hex_digit(*p);
    if (digit < 0) throw_error(s, text, TYPE_INTEGER);
    value = value << 4 | static_cast<uint32_t>(digit);
  }
  if (digits < 2 || digits > 8) throw_error(s, text, TYPE_INTEGER);
  if (load) emit(s, Cell{TYPE_INTEGER, 0, value, 0});
}

void load_binary(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  int base = 16;
  if (*text != '#') {
    base = 0;
    for (const uint8_t* p = text; *p != '#' && base >= 0; p++) {
      bool digit = *p >= '0' && *p <= '9';
      base = digit && base <= 64 ? base * 10 + (*p - '0') : -1;  // no base has 3 digits
    }
  }
  const uint8_t* body = static_cast<const uint8_t*>(std::memchr(text, '{', end - text)) + 1;
  size_t length = static_cast<size_t>(end - body);
  if (base == 16) {  // a literal's hex digits pair up exactly
    size_t digits = 0;
    for (const uint8_t* p = body; p < end; p++) {
      if (*p == ';') {
        while (p < end && *p != '\n') p++;
      } else if (string::hex_digit(*p) >= 0) {
        digits++;
      }
    }
    if (digits % 2) throw_error(s, text, TYPE_BINARY);
  } else if (base == 64) {  // a literal's last group is whole, or closed by =
    size_t digits = 0;
    for (const uint8_t* p = body; p < end; p++) {
      if (*p == ';') {
        while (p < end && *p != '\n') p++;
      } else if (*p == '=') {
        digits = 0;
      } else if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') ||
                 (*p >= '0' && *p <= '9') || *p == '+' || *p == '/') {
        digits++;
      }
    }
    if (digits % 4) throw_error(s, text, TYPE_BINARY);
  }
  Cell value{};
  if (!binary::decode_base(base, body, length, &value)) throw_error(s, text, TYPE_BINARY);
  s.position = end + 1;
  if (load) emit(s, value);
}

void load_word_token(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  load_word(s, text, end, TYPE_WORD, load);
}

void load_issue(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  if (end - text < 2) throw_error(s, text, TYPE_ISSUE);
  load_word(s, text, end, TYPE_ISSUE, load);
}

void load_refinement(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  load_word(s, text, end, TYPE_REFINEMENT, load);
}

}  // namespace

// --- Shared loaders ------------------------------------------------------------------------------

void load_text(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load,
               uint8_t type, bool escapes) {
  static std::vector<uint32_t> code_points;
  uint32_t max;
  if (!decode_text(text, end, escapes, code_points, max)) throw_error(s, text, type);
  if (!load) return;
  // The width the UTF-8 lead bytes ask for, wider when an escape needs it.
  uint32_t unit = flags & F_UTF8_4 ? 4 : flags & F_UTF8_2 ? 2 : 1;
  while ((unit == 1 && max > 0xFF) || (unit == 2 && max > 0xFFFF)) unit *= 2;
  uint32_t count = static_cast<uint32_t>(code_points.size());
  uint32_t node = alloc::new_unit_series(count, unit);
  alloc::Series* series = alloc::series_of(node);
  uint8_t* data = series->data();
  for (uint32_t i = 0; i < count; i++) {
    uint32_t c = code_points[i];
    if (unit == 1) data[i] = static_cast<uint8_t>(c);
    else if (unit == 2) reinterpret_cast<uint16_t*>(data)[i] = static_cast<uint16_t>(c);
    else reinterpret_cast<uint32_t*>(data)[i] = c;
  }
  series->tail = series->head + count * unit;
  emit(s, cell::make_series(type, node));
}

void load_word(State& s, const uint8_t* text, const uint8_t* end, uint8_t type, bool load) {
  size_t length = static_cast<size_t>(end - text);
  if (type == TYPE_WORD) {
    bool leading = *text == ':', trailing = length > 1 && end[-1] == ':';
    if (std::memchr(text + 1, ':', length > 2 ? length - 2 : 0)) throw_error(s, text, TYPE_WORD);
    if (*text == '\'' && trailing) throw_error(s, text, TYPE_LIT_WORD);
    if (leading && trailing) throw_error(s, text, TYPE_WORD);
    type = leading ? TYPE_GET_WORD : trailing ? TYPE_SET_WORD
           : *text == '\'' ? TYPE_LIT_WORD : TYPE_WORD;
    if (type != TYPE_WORD && type != TYPE_SET_WORD) text++;
    if (trailing) end--;
  } else if (type == TYPE_REFINEMENT) {
    // "/" alone, and '/ :/ /: name the word / itself.
    if (length == 2 && (*text == '\'' || *text == ':' || text[1] == ':')) {
      type = *text == '\'' ? TYPE_LIT_WORD : *text == ':' ? TYPE_GET_WORD : TYPE_SET_WORD;
      text = type == TYPE_SET_WORD ? text : text + 1;
      end = type == TYPE_SET_WORD ? end - 1 : end;
    } else if (*text != '/') {
      throw_error(s, text, TYPE_REFINEMENT);
    } else if (length > 1) {
      text++;
    } else {
      type = TYPE_WORD;
    }
  } else {
    text++;  // the issue's #
  }
  // A decoration alone (":" cut short by a Unicode blank, "#") names nothing.
  if (text == end) throw_error(s, text, type);
  for (const uint8_t* p = text; p < end;) {  // a symbol's name is well-formed UTF-8
    int32_t c;
    if (*p < 0x80) {
      p++;
      continue;
    }
    p = unicode::decode_utf8_dfa(p, end, c);
    if (c < 0) throw_error(s, text, type);
  }
  if (!load) return;
  uint32_t symbol = symbol::intern_bytes(text, static_cast<uint32_t>(end - text));
  Cell value{};
  if (type == TYPE_ISSUE) {
    value = Cell{TYPE_ISSUE, context::global, symbol, context::kUnresolved};
  } else {
    word::init_global(symbol, &value);
    cell::set_type(value, type);
  }
  emit(s, value);
}

// By kind - 1, from the token kinds' list (tables.h); null for the structure the scanner handles.
const Routine loaders[kKindCount] = {
#define ZEL_TOKEN_LOADER(kind, type, loader) loader,
    ZEL_TOKEN_KINDS(ZEL_TOKEN_LOADER)
#undef ZEL_TOKEN_LOADER
};

}  // namespace lexer
