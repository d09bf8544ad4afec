// The lexer's tables. The automaton is written once, as one readable row per inner state (the
// classes that leave the state's usual target, then the target), and compiled into the
// 65 x 40 transition table at build time; a misspelt name or a class given twice in a row stops
// the build. Relies on runtime/cell.h for the datatype ids.
#include "lexer/tables.h"

#include <iterator>
#include <string_view>

#include "runtime/cell.h"

namespace lexer {

namespace {

// --- Byte classes ---------------------------------------------------------------------------

constexpr std::array<uint32_t, 256> build_class_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t b = 0; b < 256; b++) t[b] = C_OTHER;  // ! & * ? _ ~ ` | and most letters
  for (uint32_t b = 0x01; b < 0x20; b++) t[b] = C_CONTROL;
  for (uint32_t b = 0x7F; b <= 0xBF; b++) t[b] = C_CONTINUATION;
  for (uint32_t b = 0xC2; b <= 0xEF; b++) t[b] = C_OTHER | F_UTF8_2;
  for (uint32_t b = 0xF0; b <= 0xF7; b++) t[b] = C_OTHER | F_UTF8_4;
  for (uint32_t b : {0xC0u, 0xC1u, 0xF8u, 0xF9u, 0xFAu, 0xFBu, 0xFCu, 0xFDu, 0xFEu, 0xFFu}) {
    t[b] = C_INVALID;
  }
  for (uint32_t b = '1'; b <= '9'; b++) t[b] = C_DIGIT;
  for (char c : std::string_view("abcdf")) t[static_cast<uint8_t>(c)] = C_HEX_LOWER;
  for (char c : std::string_view("ABCDF")) t[static_cast<uint8_t>(c)] = C_HEX_UPPER;
  t[0] = C_END | F_END;
  t['\t'] = t['\r'] = t[' '] = C_BLANK;
  t['\n'] = C_LF;
  t['0'] = C_ZERO;
  t['['] = C_BLOCK_OPEN;
  t[']'] = C_BLOCK_CLOSE;
  t['('] = C_PAREN_OPEN;
  t[')'] = C_PAREN_CLOSE;
  t['{'] = C_BRACE_OPEN;
  t['}'] = C_BRACE_CLOSE;
  t['"'] = C_DQUOTE;
  t['#'] = C_HASH | F_HASH;
  t['\''] = C_QUOTE | F_QUOTE;
  t[':'] = C_COLON | F_COLON;
  t['x'] = t['X'] = C_X;
  t['T'] = C_T;
  t['h'] = C_H;
  t['e'] = C_LOWER_E | F_EXPONENT;
  t['E'] = C_UPPER_E | F_EXPONENT;
  t['/'] = C_SLASH;
  t['\\'] = C_BACKSLASH;
  t['<'] = C_LESS | F_LESS;
  t['>'] = C_GREATER | F_GREATER;
  t['='] = C_EQUAL;
  t['%'] = C_PERCENT | F_PERCENT;
  t[','] = C_COMMA | F_COMMA;
  t[';'] = C_SEMICOLON;
  t['@'] = C_AT;
  t['.'] = C_DOT | F_DOT;
  t['$'] = C_DOLLAR;
  t['+'] = C_PLUS | F_SIGN;
  t['-'] = C_MINUS | F_SIGN;
  t['^'] = C_CARET | F_CARET;
  return t;
}

// --- The automaton ----------------------------------------------------------------------------
// One row per inner state, in state order. Clauses are separated by " | "; each names classes,
// "->", then a target: an inner state in lower case (the scan goes on) or a token kind in
// capitals (the token ends). "otherwise" takes every class the row leaves unnamed.

struct Row {
  InnerState state;
  std::string_view clauses;
};

constexpr Row kRows[] = {
    {S_TOKEN, R"rows(blank LF control -> token | 1-9 0 -> integer | [ -> BLOCK-OPEN | ] -> BLOCK-CLOSE | ( -> PAREN-OPEN | ) -> PAREN-CLOSE | { -> BRACE-OPEN | } \ continuation invalid -> ERROR | " -> string | # -> hash | ' : -> leading-quote | E A-F -> hex-word | / -> slash | < -> less | = -> leading-equal | % -> percent | , -> COMMA | ; -> comment | @ -> ref | . -> leading-dot | $ -> dollar | + - -> sign | end -> END | otherwise -> word)rows"},
    {S_COMMENT, R"rows(LF end -> COMMENT | invalid -> ERROR | otherwise -> comment)rows"},
    {S_STRING, R"rows(LF invalid end -> ERROR | " -> STRING | ^ -> string-caret | otherwise -> string)rows"},
    {S_STRING_CARET, R"rows(invalid end -> ERROR | otherwise -> string)rows"},
    {S_BRACES, R"rows({ -> BRACE-OPEN | } -> BRACE-CLOSE | ^ -> braces-caret | invalid end -> ERROR | otherwise -> braces)rows"},
    {S_BRACES_CARET, R"rows(invalid end -> ERROR | otherwise -> braces)rows"},
    {S_PERCENT, R"rows(blank LF [ ] ( ) } ; @ control end -> WORD | { -> raw | " -> quoted-file | : -> percent-colon | % -> percent2 | invalid -> ERROR | otherwise -> file)rows"},
    {S_FILE, R"rows(blank LF [ ] ( ) { } : ; @ end -> FILE | " invalid -> ERROR | otherwise -> file)rows"},
    {S_QUOTED_FILE, R"rows(LF invalid end -> ERROR | " -> FILE | otherwise -> quoted-file)rows"},
    {S_PERCENT2, R"rows(blank LF [ ] ( ) } " \ ; control end -> WORD | { -> raw | % -> percent2 | invalid -> ERROR | otherwise -> file)rows"},
    {S_RAW, R"rows(} -> raw-brace | invalid end -> ERROR | otherwise -> raw)rows"},
    {S_RAW_BRACE, R"rows(} -> raw-brace | % -> raw-end | invalid end -> ERROR | otherwise -> raw)rows"},
    {S_RAW_END, R"rows(blank LF [ ] ( ) { " < ; control end -> RAW-STRING | % -> raw-end | otherwise -> ERROR)rows"},
    {S_SLASH, R"rows(blank LF [ ] ( ) { } " # ; @ control end -> WORD | : -> word-colon | / -> slash2 | , invalid -> ERROR | otherwise -> refinement)rows"},
    {S_REFINEMENT, R"rows(blank LF [ ] ( ) { } " / ; @ control end -> REFINEMENT | : , invalid -> ERROR | otherwise -> refinement)rows"},
    {S_SLASH2, R"rows(blank LF [ ] ( ) { } " # ; @ control end -> WORD | / -> slash2 | % , $ invalid -> ERROR | otherwise -> word)rows"},
    {S_HASH, R"rows(blank LF ] ) } : < > , invalid -> ERROR | [ -> MAP-OPEN | ( -> construct | { -> binary | " -> char | ; @ control end -> ISSUE | otherwise -> issue)rows"},
    {S_BINARY, R"rows(blank LF 1-9 0 x T h e E a-f A-F / = + other -> binary | } -> BINARY | ; -> binary-comment | otherwise -> ERROR)rows"},
    {S_BINARY_COMMENT, R"rows(LF -> binary | invalid end -> ERROR | otherwise -> binary-comment)rows"},
    {S_CHAR, R"rows(" -> CHAR | ^ -> char-caret | invalid end -> ERROR | otherwise -> char)rows"},
    {S_CHAR_CARET, R"rows(invalid end -> ERROR | otherwise -> char)rows"},
    {S_CONSTRUCT, R"rows() -> CONSTRUCT | invalid end -> ERROR | otherwise -> construct)rows"},
    {S_ISSUE, R"rows(blank LF [ ] ( ) { } " ; @ control end -> ISSUE | : / invalid -> ERROR | otherwise -> issue)rows"},
    {S_INTEGER, R"rows(1-9 0 ' -> integer | # -> hash | : -> digits-colon | x -> pair-x | T / - -> date | h -> digits-h | e -> exponent | E -> digits-e | a-f \ > = $ + ^ continuation other invalid -> ERROR | A-F -> digits-hex | % -> PERCENT | @ -> email | . -> digits-dot | otherwise -> INTEGER)rows"},
    {S_DIGITS_DOT, R"rows(blank LF [ ] ( ) { } " / < , ; control end -> FLOAT | 1-9 0 ' -> fraction | # -> digits-dot-hash | x -> pair-x | e E -> exponent | % -> PERCENT | otherwise -> ERROR)rows"},
    {S_FRACTION, R"rows(1-9 0 ' -> fraction | # T h a-f A-F \ > = $ + - ^ continuation other invalid -> ERROR | x -> pair-x | e E -> exponent | % -> PERCENT | @ -> email | . -> tuple | otherwise -> FLOAT)rows"},
    {S_EXPONENT, R"rows(blank LF [ ] ( ) { } " : / < , ; control end -> FLOAT | 1-9 0 + - -> exponent | @ -> email | otherwise -> ERROR)rows"},
    {S_DIGITS_E, R"rows(1-9 0 -> digits-e | # ' x T e a-f \ > = ; $ ^ continuation other invalid -> ERROR | h -> digits-h | E A-F -> hex-word | % -> PERCENT | @ -> email | . -> tuple | + - -> exponent | otherwise -> FLOAT)rows"},
    {S_DIGITS_DOT_HASH, R"rows(1-9 -> FLOAT | # ' : % @ $ ^ invalid -> ERROR | x T h e E a-f A-F > = . + - continuation other -> digits-dot-hash | otherwise -> FLOAT-SPECIAL)rows"},
    {S_TUPLE, R"rows(blank LF [ ] ( ) { } " : / < ; control end -> TUPLE | 1-9 0 . -> tuple | otherwise -> ERROR)rows"},
    {S_DATE, R"rows(blank LF [ ] ( ) { } " < ; $ control end -> DATE | % , @ ^ continuation invalid -> ERROR | otherwise -> date)rows"},
    {S_DIGITS_COLON, R"rows(1-9 0 -> time | otherwise -> ERROR)rows"},
    {S_TIME, R"rows(blank LF [ ] ( ) { } " / < ; control end -> TIME | 1-9 0 : . -> time | otherwise -> ERROR)rows"},
    {S_PAIR_X, R"rows(1-9 0 + - -> pair | @ -> email | otherwise -> ERROR)rows"},
    {S_PAIR, R"rows(blank LF [ ] ( ) { } " : / < ; control end -> PAIR | 1-9 0 e E . -> pair | @ -> email | otherwise -> ERROR)rows"},
    {S_POINT, R"rows(blank 1-9 0 ] # e E a-f A-F , . + - other -> point | ) -> POINT | otherwise -> ERROR)rows"},
    {S_DOLLAR, R"rows(1-9 0 -> money | otherwise -> ERROR)rows"},
    {S_MONEY, R"rows(blank LF [ ] ( ) { } " # : / < ; control end -> MONEY | 1-9 0 ' -> money | . -> money-fraction | otherwise -> ERROR)rows"},
    {S_MONEY_FRACTION, R"rows(blank LF [ ] ( ) { } " # : / < ; control end -> MONEY | 1-9 0 ' -> money-fraction | otherwise -> ERROR)rows"},
    {S_DIGITS_HEX, R"rows(1-9 0 E A-F -> digits-hex | h -> hex-h | @ -> email | otherwise -> ERROR)rows"},
    {S_HEX_WORD, R"rows(1-9 0 E A-F -> hex-word | ' x T e a-f < > = . + - ^ continuation other -> word | : -> word-colon | h -> hex-h | / -> PATH-SLASH | % , invalid -> ERROR | @ -> email | $ -> money | otherwise -> WORD)rows"},
    {S_HEX_H, R"rows(blank LF [ ] ( ) { } " \ ; control end -> HEX-INTEGER | # % , invalid -> ERROR | : -> word-colon | / -> PATH-SLASH | @ -> email | $ -> money | otherwise -> word)rows"},
    {S_DIGITS_H, R"rows(blank LF [ ] ( ) { } " \ < ; control end -> HEX-INTEGER | / -> PATH-SLASH | @ -> email | $ -> money | otherwise -> ERROR)rows"},
    {S_LESS, R"rows(blank LF [ ] ( ) { } " ; control end -> WORD | ' -> tag-quote | : -> word-colon | < -> less | > = - -> word | invalid -> ERROR | otherwise -> tag)rows"},
    {S_TAG, R"rows(" -> tag-dquote | ' -> tag-quote | > -> TAG | invalid end -> ERROR | otherwise -> tag)rows"},
    {S_TAG_DQUOTE, R"rows(" -> tag | invalid end -> ERROR | otherwise -> tag-dquote)rows"},
    {S_TAG_QUOTE, R"rows(' -> tag | invalid end -> ERROR | otherwise -> tag-quote)rows"},
    {S_SIGN, R"rows(blank LF [ ] ( ) { } " # \ ; control end -> WORD | 1-9 0 -> integer | ' % ^ invalid -> ERROR | / -> PATH-SLASH | . -> leading-dot | $ -> money | otherwise -> word)rows"},
    {S_QUOTE_SIGN, R"rows(blank LF [ ] ( ) { } " # \ ; control end -> WORD | ' % $ ^ invalid -> ERROR | / -> PATH-SLASH | otherwise -> word)rows"},
    {S_LEADING_DOT, R"rows(blank LF [ ] ( ) { } " # \ ; control end -> WORD | 1-9 0 + - -> dot-digits | : -> word-colon | / -> PATH-SLASH | % , $ invalid -> ERROR | @ -> email | otherwise -> word)rows"},
    {S_DOT_DIGITS, R"rows(blank LF [ ] ( ) { } " : / < control end -> FLOAT | 1-9 0 e E + - -> dot-digits | x -> pair-x | % -> PERCENT | @ -> email | otherwise -> ERROR)rows"},
    {S_LEADING_QUOTE, R"rows(x T h e E a-f A-F > . ^ continuation other -> word | / -> slash | < -> less | = -> leading-equal | % -> percent-colon | + - -> quote-sign | otherwise -> ERROR)rows"},
    {S_WORD, R"rows(blank LF [ ] ( ) { } " # \ < ; control end -> WORD | : -> word-colon | / -> PATH-SLASH | % , invalid -> ERROR | @ -> email | $ -> dollar | otherwise -> word)rows"},
    {S_WORD_COLON, R"rows(blank LF [ ] ( ) { } " \ ; control end -> WORD | < invalid -> ERROR | otherwise -> url)rows"},
    {S_PERCENT_COLON, R"rows(blank LF [ ] ( ) { } \ ; control end -> WORD | % -> percent-colon | otherwise -> ERROR)rows"},
    {S_URL, R"rows(blank LF [ ] ( ) { } " \ < ; control end -> URL | > ^ invalid -> ERROR | otherwise -> url)rows"},
    {S_EMAIL, R"rows(1-9 0 x T h e E a-f A-F % . + - continuation other -> email | # ' : > = , @ $ ^ invalid -> ERROR | otherwise -> EMAIL)rows"},
    {S_REF, R"rows(blank LF [ ] ( ) { } " < ; control end -> REF | # ' \ > = , @ $ ^ invalid -> ERROR | otherwise -> ref)rows"},
    {S_LEADING_EQUAL, R"rows(blank LF [ ] ( ) { } " : \ ; control end -> WORD | # % , @ $ invalid -> ERROR | / -> PATH-SLASH | otherwise -> word)rows"},
    {S_PATH, R"rows(1-9 0 -> path-integer | ( -> PAREN-OPEN | ) -> PAREN-CLOSE | " -> string | # -> path-hash | ' : -> path-quote | x T h e E a-f A-F > = . continuation other -> path-word | < -> less | @ -> ref | $ -> dollar | + - -> path-sign | otherwise -> ERROR)rows"},
    {S_PATH_INTEGER, R"rows(blank LF [ ] ( ) { } " : / < ; control end -> INTEGER | 1-9 0 ' -> path-integer | x -> pair-x | e E -> exponent | % -> PERCENT | @ -> email | . -> digits-dot | otherwise -> ERROR)rows"},
    {S_PATH_QUOTE, R"rows(x T h e E a-f A-F < > = . + - continuation other -> path-word | otherwise -> ERROR)rows"},
    {S_PATH_WORD, R"rows(blank LF [ ] ( ) { } " : / \ ; control end -> WORD | # % , invalid -> ERROR | @ -> email | $ -> dollar | otherwise -> path-word)rows"},
    {S_PATH_HASH, R"rows(blank LF ] ( ) { } : / < > = , ; @ control invalid end -> ERROR | [ -> construct | " -> char | otherwise -> issue)rows"},
    {S_PATH_SIGN, R"rows(1-9 0 -> path-integer | # ' < % , ^ invalid -> ERROR | x T h e E a-f A-F > = . continuation other -> path-word | @ -> email | $ -> dollar | + - -> path-sign | otherwise -> WORD)rows"},
};
static_assert(std::size(kRows) == kInnerStates, "one row per inner state");

constexpr std::string_view kClassNames[kClassCount] = {
    "blank", "LF", "1-9", "0", "[", "]", "(", ")", "{", "}", "\"", "#", "'", ":", "x", "T", "h",
    "e", "E", "a-f", "A-F", "/", "\\", "<", ">", "=", "%", ",", ";", "@", ".", "$", "+", "-",
    "^", "control", "continuation", "other", "invalid", "end"};

// The names the rows give the token kinds and the inner states, from their lists (tables.h).
constexpr std::string_view kKindNames[] = {
#define ZEL_TOKEN_KIND_NAME(kind, type, loader) #kind,
    ZEL_TOKEN_KINDS(ZEL_TOKEN_KIND_NAME)
#undef ZEL_TOKEN_KIND_NAME
};
constexpr std::string_view kStateNames[] = {
#define ZEL_LEXER_STATE_NAME(state, type) #state,
    ZEL_LEXER_STATES(ZEL_LEXER_STATE_NAME)
#undef ZEL_LEXER_STATE_NAME
};

// Whether a row's word spells the listed name (KIND or STATE_NAME): a kind in capitals, a state
// in lower case, hyphens for the underscores.
constexpr bool spells(std::string_view word, std::string_view listed, bool lower) {
  if (word.size() != listed.size()) return false;
  for (size_t i = 0; i < word.size(); i++) {
    char c = listed[i];
    if (c == '_') c = '-';
    if (lower && c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (word[i] != c) return false;
  }
  return true;
}

constexpr uint8_t class_named(std::string_view name) {
  for (uint8_t c = 0; c < kClassCount; c++) {
    if (kClassNames[c] == name) return c;
  }
  throw "unknown class name in a lexer row";
}

constexpr uint8_t target_named(std::string_view name) {
  for (uint8_t k = 0; k < kKindCount; k++) {
    if (spells(name, kKindNames[k], false)) return static_cast<uint8_t>(kFinalBase + k + 1);
  }
  for (uint8_t state = 0; state < kInnerStates; state++) {
    if (spells(name, kStateNames[state], true)) return state;
  }
  throw "unknown target in a lexer row";
}

constexpr std::array<uint8_t, kClassCount> compile_row(std::string_view row) {
  std::array<uint8_t, kClassCount> out{};
  std::array<bool, kClassCount> named{};
  std::array<uint8_t, kClassCount> pending{};
  uint32_t pending_count = 0;
  bool otherwise = false, has_otherwise = false, want_target = false;
  while (!row.empty()) {
    size_t space = row.find(' ');
    std::string_view word = row.substr(0, space);
    row = space == std::string_view::npos ? std::string_view() : row.substr(space + 1);
    if (want_target) {
      uint8_t target = target_named(word);
      if (otherwise) {
        for (uint8_t c = 0; c < kClassCount; c++) {
          if (!named[c]) out[c] = target;
        }
        has_otherwise = true;
      }
      for (uint32_t i = 0; i < pending_count; i++) out[pending[i]] = target;
      pending_count = 0;
      want_target = false;
    } else if (word == "->") {
      want_target = true;
    } else if (word == "|") {
      if (pending_count || otherwise) throw "clause without a target in a lexer row";
    } else if (word == "otherwise") {
      otherwise = true;
    } else {
      uint8_t c = class_named(word);
      if (named[c]) throw "class named twice in a lexer row";
      named[c] = true;
      pending[pending_count++] = c;
    }
  }
  if (!has_otherwise || pending_count) throw "lexer row without otherwise";
  return out;
}

constexpr std::array<std::array<uint8_t, kClassCount>, kInnerStates> build_transitions() {
  std::array<std::array<uint8_t, kClassCount>, kInnerStates> t{};
  for (uint32_t s = 0; s < kInnerStates; s++) {
    if (kRows[s].state != s) throw "lexer rows out of state order";
    t[s] = compile_row(kRows[s].clauses);
  }
  return t;
}

// --- Per-state tables --------------------------------------------------------------------------

constexpr std::array<uint8_t, kStateCount> build_state_types() {
  std::array<uint8_t, kStateCount> t{};
  uint32_t s = 0;
#define ZEL_LEXER_STATE_TYPE(state, type) t[s++] = TYPE_##type;
  ZEL_LEXER_STATES(ZEL_LEXER_STATE_TYPE)
#undef ZEL_LEXER_STATE_TYPE
  s = kFinalBase + 1;
#define ZEL_TOKEN_KIND_TYPE(kind, type, loader) t[s++] = TYPE_##type;
  ZEL_TOKEN_KINDS(ZEL_TOKEN_KIND_TYPE)
#undef ZEL_TOKEN_KIND_TYPE
  return t;
}

constexpr std::array<uint8_t, kStateCount> build_skip_table() {
  std::array<uint8_t, kStateCount> t{};
  t[S_TOKEN] = 1;  // bytes that keep the automaton in the start state precede the token's text
  return t;
}

}  // namespace

constexpr std::array<uint32_t, 256> class_table = build_class_table();
constexpr std::array<std::array<uint8_t, kClassCount>, kInnerStates> transitions =
    build_transitions();
// Every row ends its token at the input end, so the scan loop always stops.
static_assert([] {
  for (const auto& row : transitions) {
    if (row[C_END] <= kFinalBase) return false;
  }
  return true;
}());

constexpr std::array<uint8_t, kStateCount> skip_table = build_skip_table();
constexpr std::array<uint8_t, kStateCount> state_types = build_state_types();

}  // namespace lexer
