// The lexer's tables. The automaton is written once, as one readable row per inner state (the
// classes that leave the state's usual target, then the target), and compiled into the
// 65 x 40 transition table at build time; a misspelt name or a class given twice in a row stops
// the build. Relies on runtime/cell.h for the datatype ids.
#include "lexer/tables.h"

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
// Row n is state n. Clauses are separated by " | "; each names classes, "->", then a target: an
// inner state number or a token kind. "otherwise" takes every class the row leaves unnamed.

constexpr std::string_view kRows[kInnerStates] = {
    /* 0 start */ R"rows(blank LF control -> 0 | 1-9 0 -> 23 | [ -> BLOCK-OPEN | ] -> BLOCK-CLOSE | ( -> PAREN-OPEN | ) -> PAREN-CLOSE | { -> BRACE-OPEN | } \ continuation invalid -> ERROR | " -> 2 | # -> 16 | ' : -> 51 | E A-F -> 40 | / -> 13 | < -> 43 | = -> 58 | % -> 6 | , -> COMMA | ; -> 1 | @ -> 57 | . -> 49 | $ -> 36 | + - -> 47 | end -> END | otherwise -> 52)rows",
    /* 1 comment */ R"rows(LF end -> COMMENT | invalid -> ERROR | otherwise -> 1)rows",
    /* 2 quoted string */ R"rows(LF invalid end -> ERROR | " -> STRING | ^ -> 3 | otherwise -> 2)rows",
    /* 3 ^ in string */ R"rows(invalid end -> ERROR | otherwise -> 2)rows",
    /* 4 in braces */ R"rows({ -> BRACE-OPEN | } -> BRACE-CLOSE | ^ -> 5 | invalid end -> ERROR | otherwise -> 4)rows",
    /* 5 ^ in braces */ R"rows(invalid end -> ERROR | otherwise -> 4)rows",
    /* 6 after % */ R"rows(blank LF [ ] ( ) } ; @ control end -> WORD | { -> 10 | " -> 8 | : -> 54 | % -> 9 | invalid -> ERROR | otherwise -> 7)rows",
    /* 7 file */ R"rows(blank LF [ ] ( ) { } : ; @ end -> FILE | " invalid -> ERROR | otherwise -> 7)rows",
    /* 8 %" file */ R"rows(LF invalid end -> ERROR | " -> FILE | otherwise -> 8)rows",
    /* 9 %% */ R"rows(blank LF [ ] ( ) } " \ ; control end -> WORD | { -> 10 | % -> 9 | invalid -> ERROR | otherwise -> 7)rows",
    /* 10 raw body */ R"rows(} -> 11 | invalid end -> ERROR | otherwise -> 10)rows",
    /* 11 raw } */ R"rows(} -> 11 | % -> 12 | invalid end -> ERROR | otherwise -> 10)rows",
    /* 12 raw }% */ R"rows(blank LF [ ] ( ) { " < ; control end -> RAW-STRING | % -> 12 | otherwise -> ERROR)rows",
    /* 13 after / */ R"rows(blank LF [ ] ( ) { } " # ; @ control end -> WORD | : -> 53 | / -> 15 | , invalid -> ERROR | otherwise -> 14)rows",
    /* 14 refinement */ R"rows(blank LF [ ] ( ) { } " / ; @ control end -> REFINEMENT | : , invalid -> ERROR | otherwise -> 14)rows",
    /* 15 after // */ R"rows(blank LF [ ] ( ) { } " # ; @ control end -> WORD | / -> 15 | % , $ invalid -> ERROR | otherwise -> 52)rows",
    /* 16 after # */ R"rows(blank LF ] ) } : < > , invalid -> ERROR | [ -> MAP-OPEN | ( -> 21 | { -> 17 | " -> 19 | ; @ control end -> ISSUE | otherwise -> 22)rows",
    /* 17 binary */ R"rows(blank LF 1-9 0 x T h e E a-f A-F / = + other -> 17 | } -> BINARY | ; -> 18 | otherwise -> ERROR)rows",
    /* 18 ; in binary */ R"rows(LF -> 17 | invalid end -> ERROR | otherwise -> 18)rows",
    /* 19 char */ R"rows(" -> CHAR | ^ -> 20 | invalid end -> ERROR | otherwise -> 19)rows",
    /* 20 ^ in char */ R"rows(invalid end -> ERROR | otherwise -> 19)rows",
    /* 21 #( */ R"rows() -> CONSTRUCT | invalid end -> ERROR | otherwise -> 21)rows",
    /* 22 issue */ R"rows(blank LF [ ] ( ) { } " ; @ control end -> ISSUE | : / invalid -> ERROR | otherwise -> 22)rows",
    /* 23 integer */ R"rows(1-9 0 ' -> 23 | # -> 16 | : -> 31 | x -> 33 | T / - -> 30 | h -> 42 | e -> 26 | E -> 27 | a-f \ > = $ + ^ continuation other invalid -> ERROR | A-F -> 39 | % -> PERCENT | @ -> 56 | . -> 24 | otherwise -> INTEGER)rows",
    /* 24 digits . */ R"rows(blank LF [ ] ( ) { } " / < , ; control end -> FLOAT | 1-9 0 ' -> 25 | # -> 28 | x -> 33 | e E -> 26 | % -> PERCENT | otherwise -> ERROR)rows",
    /* 25 fraction */ R"rows(1-9 0 ' -> 25 | # T h a-f A-F \ > = $ + - ^ continuation other invalid -> ERROR | x -> 33 | e E -> 26 | % -> PERCENT | @ -> 56 | . -> 29 | otherwise -> FLOAT)rows",
    /* 26 exponent */ R"rows(blank LF [ ] ( ) { } " : / < , ; control end -> FLOAT | 1-9 0 + - -> 26 | @ -> 56 | otherwise -> ERROR)rows",
    /* 27 digits E */ R"rows(1-9 0 -> 27 | # ' x T e a-f \ > = ; $ ^ continuation other invalid -> ERROR | h -> 42 | E A-F -> 40 | % -> PERCENT | @ -> 56 | . -> 29 | + - -> 26 | otherwise -> FLOAT)rows",
    /* 28 digits .# */ R"rows(1-9 -> FLOAT | # ' : % @ $ ^ invalid -> ERROR | x T h e E a-f A-F > = . + - continuation other -> 28 | otherwise -> FLOAT-SPECIAL)rows",
    /* 29 tuple */ R"rows(blank LF [ ] ( ) { } " : / < ; control end -> TUPLE | 1-9 0 . -> 29 | otherwise -> ERROR)rows",
    /* 30 date */ R"rows(blank LF [ ] ( ) { } " < ; $ control end -> DATE | % , @ ^ continuation invalid -> ERROR | otherwise -> 30)rows",
    /* 31 digits : */ R"rows(1-9 0 -> 32 | otherwise -> ERROR)rows",
    /* 32 time */ R"rows(blank LF [ ] ( ) { } " / < ; control end -> TIME | 1-9 0 : . -> 32 | otherwise -> ERROR)rows",
    /* 33 pair x */ R"rows(1-9 0 + - -> 34 | @ -> 56 | otherwise -> ERROR)rows",
    /* 34 pair */ R"rows(blank LF [ ] ( ) { } " : / < ; control end -> PAIR | 1-9 0 e E . -> 34 | @ -> 56 | otherwise -> ERROR)rows",
    /* 35 point */ R"rows(blank 1-9 0 ] # e E a-f A-F , . + - other -> 35 | ) -> POINT | otherwise -> ERROR)rows",
    /* 36 after $ */ R"rows(1-9 0 -> 37 | otherwise -> ERROR)rows",
    /* 37 money */ R"rows(blank LF [ ] ( ) { } " # : / < ; control end -> MONEY | 1-9 0 ' -> 37 | . -> 38 | otherwise -> ERROR)rows",
    /* 38 money fraction */ R"rows(blank LF [ ] ( ) { } " # : / < ; control end -> MONEY | 1-9 0 ' -> 38 | otherwise -> ERROR)rows",
    /* 39 digits hex */ R"rows(1-9 0 E A-F -> 39 | h -> 41 | @ -> 56 | otherwise -> ERROR)rows",
    /* 40 hex word */ R"rows(1-9 0 E A-F -> 40 | ' x T e a-f < > = . + - ^ continuation other -> 52 | : -> 53 | h -> 41 | / -> PATH-SLASH | % , invalid -> ERROR | @ -> 56 | $ -> 37 | otherwise -> WORD)rows",
    /* 41 hex h */ R"rows(blank LF [ ] ( ) { } " \ ; control end -> HEX-INTEGER | # % , invalid -> ERROR | : -> 53 | / -> PATH-SLASH | @ -> 56 | $ -> 37 | otherwise -> 52)rows",
    /* 42 digits h */ R"rows(blank LF [ ] ( ) { } " \ < ; control end -> HEX-INTEGER | / -> PATH-SLASH | @ -> 56 | $ -> 37 | otherwise -> ERROR)rows",
    /* 43 after < */ R"rows(blank LF [ ] ( ) { } " ; control end -> WORD | ' -> 46 | : -> 53 | < -> 43 | > = - -> 52 | invalid -> ERROR | otherwise -> 44)rows",
    /* 44 tag */ R"rows(" -> 45 | ' -> 46 | > -> TAG | invalid end -> ERROR | otherwise -> 44)rows",
    /* 45 tag "" */ R"rows(" -> 44 | invalid end -> ERROR | otherwise -> 45)rows",
    /* 46 tag '' */ R"rows(' -> 44 | invalid end -> ERROR | otherwise -> 46)rows",
    /* 47 sign */ R"rows(blank LF [ ] ( ) { } " # \ ; control end -> WORD | 1-9 0 -> 23 | ' % ^ invalid -> ERROR | / -> PATH-SLASH | . -> 49 | $ -> 37 | otherwise -> 52)rows",
    /* 48 ' sign */ R"rows(blank LF [ ] ( ) { } " # \ ; control end -> WORD | ' % $ ^ invalid -> ERROR | / -> PATH-SLASH | otherwise -> 52)rows",
    /* 49 leading . */ R"rows(blank LF [ ] ( ) { } " # \ ; control end -> WORD | 1-9 0 + - -> 50 | : -> 53 | / -> PATH-SLASH | % , $ invalid -> ERROR | @ -> 56 | otherwise -> 52)rows",
    /* 50 . digits */ R"rows(blank LF [ ] ( ) { } " : / < control end -> FLOAT | 1-9 0 e E + - -> 50 | x -> 33 | % -> PERCENT | @ -> 56 | otherwise -> ERROR)rows",
    /* 51 leading ' : */ R"rows(x T h e E a-f A-F > . ^ continuation other -> 52 | / -> 13 | < -> 43 | = -> 58 | % -> 54 | + - -> 48 | otherwise -> ERROR)rows",
    /* 52 word */ R"rows(blank LF [ ] ( ) { } " # \ < ; control end -> WORD | : -> 53 | / -> PATH-SLASH | % , invalid -> ERROR | @ -> 56 | $ -> 36 | otherwise -> 52)rows",
    /* 53 word : */ R"rows(blank LF [ ] ( ) { } " \ ; control end -> WORD | < invalid -> ERROR | otherwise -> 55)rows",
    /* 54 % : */ R"rows(blank LF [ ] ( ) { } \ ; control end -> WORD | % -> 54 | otherwise -> ERROR)rows",
    /* 55 url */ R"rows(blank LF [ ] ( ) { } " \ < ; control end -> URL | > ^ invalid -> ERROR | otherwise -> 55)rows",
    /* 56 email */ R"rows(1-9 0 x T h e E a-f A-F % . + - continuation other -> 56 | # ' : > = , @ $ ^ invalid -> ERROR | otherwise -> EMAIL)rows",
    /* 57 ref */ R"rows(blank LF [ ] ( ) { } " < ; control end -> REF | # ' \ > = , @ $ ^ invalid -> ERROR | otherwise -> 57)rows",
    /* 58 leading = */ R"rows(blank LF [ ] ( ) { } " : \ ; control end -> WORD | # % , @ $ invalid -> ERROR | / -> PATH-SLASH | otherwise -> 52)rows",
    /* 59 path element */ R"rows(1-9 0 -> 60 | ( -> PAREN-OPEN | ) -> PAREN-CLOSE | " -> 2 | # -> 63 | ' : -> 61 | x T h e E a-f A-F > = . continuation other -> 62 | < -> 43 | @ -> 57 | $ -> 36 | + - -> 64 | otherwise -> ERROR)rows",
    /* 60 path integer */ R"rows(blank LF [ ] ( ) { } " : / < ; control end -> INTEGER | 1-9 0 ' -> 60 | x -> 33 | e E -> 26 | % -> PERCENT | @ -> 56 | . -> 24 | otherwise -> ERROR)rows",
    /* 61 path ' : */ R"rows(x T h e E a-f A-F < > = . + - continuation other -> 62 | otherwise -> ERROR)rows",
    /* 62 path word */ R"rows(blank LF [ ] ( ) { } " : / \ ; control end -> WORD | # % , invalid -> ERROR | @ -> 56 | $ -> 36 | otherwise -> 62)rows",
    /* 63 path # */ R"rows(blank LF ] ( ) { } : / < > = , ; @ control invalid end -> ERROR | [ -> 21 | " -> 19 | otherwise -> 22)rows",
    /* 64 path sign */ R"rows(1-9 0 -> 60 | # ' < % , ^ invalid -> ERROR | x T h e E a-f A-F > = . continuation other -> 62 | @ -> 56 | $ -> 36 | + - -> 64 | otherwise -> WORD)rows",
};

constexpr std::string_view kClassNames[kClassCount] = {
    "blank", "LF", "1-9", "0", "[", "]", "(", ")", "{", "}", "\"", "#", "'", ":", "x", "T", "h",
    "e", "E", "a-f", "A-F", "/", "\\", "<", ">", "=", "%", ",", ";", "@", ".", "$", "+", "-",
    "^", "control", "continuation", "other", "invalid", "end"};

constexpr std::string_view kKindNames[kKindCount] = {
    "END", "ERROR", "BLOCK-OPEN", "BLOCK-CLOSE", "PAREN-OPEN", "PAREN-CLOSE", "BRACE-OPEN",
    "BRACE-CLOSE", "MAP-OPEN", "PATH-SLASH", "CONSTRUCT", "COMMENT", "COMMA", "STRING", "WORD",
    "ISSUE", "INTEGER", "REFINEMENT", "CHAR", "FILE", "BINARY", "PERCENT", "FLOAT",
    "FLOAT-SPECIAL", "TUPLE", "DATE", "PAIR", "POINT", "TIME", "MONEY", "TAG", "URL", "EMAIL",
    "HEX-INTEGER", "RAW-STRING", "REF"};


constexpr uint8_t class_named(std::string_view name) {
  for (uint8_t c = 0; c < kClassCount; c++) {
    if (kClassNames[c] == name) return c;
  }
  throw "unknown class name in a lexer row";
}

constexpr uint8_t target_named(std::string_view name) {
  for (uint8_t k = 0; k < kKindCount; k++) {
    if (kKindNames[k] == name) return static_cast<uint8_t>(kFinalBase + k + 1);
  }
  uint32_t state = 0;
  for (char c : name) {
    if (c < '0' || c > '9') throw "unknown target in a lexer row";
    state = state * 10 + static_cast<uint32_t>(c - '0');
  }
  if (name.empty() || state >= kInnerStates) throw "bad state number in a lexer row";
  return static_cast<uint8_t>(state);
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
  for (uint32_t s = 0; s < kInnerStates; s++) t[s] = compile_row(kRows[s]);
  return t;
}

// --- Per-state tables --------------------------------------------------------------------------

constexpr std::array<uint8_t, kStateCount> build_state_types() {
  std::array<uint8_t, kStateCount> t{};
  struct Range {
    uint8_t first, last, type;
  };
  constexpr Range inner[] = {
      {2, 5, TYPE_STRING}, {6, 9, TYPE_FILE}, {13, 13, TYPE_WORD}, {14, 14, TYPE_REFINEMENT},
      {15, 15, TYPE_WORD}, {16, 16, TYPE_ISSUE}, {17, 17, TYPE_BINARY}, {19, 20, TYPE_CHAR},
      {22, 22, TYPE_ISSUE}, {23, 23, TYPE_INTEGER}, {24, 28, TYPE_FLOAT}, {29, 29, TYPE_TUPLE},
      {30, 30, TYPE_DATE}, {31, 32, TYPE_TIME}, {33, 34, TYPE_PAIR}, {35, 35, TYPE_POINT2D},
      {36, 38, TYPE_MONEY}, {40, 40, TYPE_INTEGER}, {41, 41, TYPE_WORD}, {42, 42, TYPE_INTEGER},
      {43, 46, TYPE_TAG}, {47, 49, TYPE_WORD}, {50, 50, TYPE_FLOAT}, {51, 52, TYPE_WORD},
      {53, 53, TYPE_SET_WORD}, {54, 54, TYPE_WORD}, {55, 55, TYPE_URL}, {56, 56, TYPE_EMAIL},
      {57, 57, TYPE_REF}, {58, 58, TYPE_WORD}, {59, 59, TYPE_PATH}, {60, 60, TYPE_INTEGER},
      {61, 62, TYPE_WORD}, {63, 63, TYPE_ISSUE}, {64, 64, TYPE_WORD}};
  for (const Range& r : inner) {
    for (uint32_t s = r.first; s <= r.last; s++) t[s] = r.type;
  }
  constexpr uint8_t kinds[kKindCount] = {
      0, TYPE_ERROR, 0, 0, 0, 0, 0, TYPE_STRING, 0, 0, 0, 0, 0, TYPE_STRING, TYPE_WORD,
      TYPE_ISSUE, TYPE_INTEGER, TYPE_REFINEMENT, TYPE_CHAR, TYPE_FILE, TYPE_BINARY, TYPE_PERCENT,
      TYPE_FLOAT, TYPE_FLOAT, TYPE_TUPLE, TYPE_DATE, TYPE_PAIR, TYPE_POINT2D, TYPE_TIME,
      TYPE_MONEY, TYPE_TAG, TYPE_URL, TYPE_EMAIL, TYPE_INTEGER, TYPE_STRING, TYPE_REF};
  for (uint32_t k = 0; k < kKindCount; k++) t[kFinalBase + 1 + k] = kinds[k];
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
