// The lexer's tables: the byte class table, the transition table of the scanning automaton, and
// the per-state skip and datatype tables. Two lists here are the one place each fact is written:
// the token kinds (with their datatypes and loaders) and the named inner states (with theirs).
// The transition table is compiled at build time from the readable row list in tables.cpp, the
// one place the automaton is written down. Line numbers are not tracked per byte: an error
// counts them up to its near text. Relies on runtime/cell.h for the datatype ids.
#pragma once
#include <array>
#include <cstdint>

namespace lexer {

// Byte classes (low 8 bits of a class table entry).
enum Class : uint8_t {
  C_BLANK, C_LF, C_DIGIT, C_ZERO, C_BLOCK_OPEN, C_BLOCK_CLOSE, C_PAREN_OPEN, C_PAREN_CLOSE,
  C_BRACE_OPEN, C_BRACE_CLOSE, C_DQUOTE, C_HASH, C_QUOTE, C_COLON, C_X, C_T, C_H, C_LOWER_E,
  C_UPPER_E, C_HEX_LOWER, C_HEX_UPPER, C_SLASH, C_BACKSLASH, C_LESS, C_GREATER, C_EQUAL,
  C_PERCENT, C_COMMA, C_SEMICOLON, C_AT, C_DOT, C_DOLLAR, C_PLUS, C_MINUS, C_CARET, C_CONTROL,
  C_CONTINUATION, C_OTHER, C_INVALID, C_END,
  kClassCount
};

// Flag bits of a class table entry, ORed over the bytes of a token.
constexpr uint32_t F_GREATER = 0x80000, F_PERCENT = 0x40000, F_LESS = 0x100000,
                   F_SIGN = 0x200000, F_END = 0x400000, F_HASH = 0x800000,
                   F_EXPONENT = 0x1000000, F_QUOTE = 0x2000000, F_COLON = 0x4000000,
                   F_COMMA = 0x8000000, F_DOT = 0x10000000, F_CARET = 0x20000000,
                   F_UTF8_2 = 0x40000000, F_UTF8_4 = 0x80000000;
constexpr uint32_t kBraceNewLine = 0x20000;  // brace flags: the first { began a line

// Token kinds: what a final state of the automaton ends (the state is kFinalBase + the kind).
// X(KIND, datatype, loader): the datatype a token of the kind stands for (NONE_ID: none), and
// the routine that checks and loads its text (lexer/loaders.cpp and load_*.cpp), or nullptr for
// the structure the scanner handles itself (ends, brackets, comments...), which comes first.
// In the automaton's rows a kind is written in capitals with hyphens: FLOAT-SPECIAL.
#define ZEL_TOKEN_KINDS(X) \
  X(END,            NONE_ID,    nullptr)            \
  X(ERROR,          ERROR,      nullptr)            \
  X(BLOCK_OPEN,     NONE_ID,    nullptr)            \
  X(BLOCK_CLOSE,    NONE_ID,    nullptr)            \
  X(PAREN_OPEN,     NONE_ID,    nullptr)            \
  X(PAREN_CLOSE,    NONE_ID,    nullptr)            \
  X(BRACE_OPEN,     NONE_ID,    nullptr)            \
  X(BRACE_CLOSE,    STRING,     nullptr)            \
  X(MAP_OPEN,       NONE_ID,    nullptr)            \
  X(PATH_SLASH,     NONE_ID,    nullptr)            \
  X(CONSTRUCT,      NONE_ID,    nullptr)            \
  X(COMMENT,        NONE_ID,    nullptr)            \
  X(COMMA,          NONE_ID,    nullptr)            \
  X(STRING,         STRING,     load_string)        \
  X(WORD,           WORD,       load_word_token)    \
  X(ISSUE,          ISSUE,      load_issue)         \
  X(INTEGER,        INTEGER,    load_integer)       \
  X(REFINEMENT,     REFINEMENT, load_refinement)    \
  X(CHAR,           CHAR,       load_char)          \
  X(FILE,           FILE,       load_file)          \
  X(BINARY,         BINARY,     load_binary)        \
  X(PERCENT,        PERCENT,    load_percent)       \
  X(FLOAT,          FLOAT,      load_float)         \
  X(FLOAT_SPECIAL,  FLOAT,      load_special_float) \
  X(TUPLE,          TUPLE,      load_tuple)         \
  X(DATE,           DATE,       load_date)          \
  X(PAIR,           PAIR,       load_pair)          \
  X(POINT,          POINT2D,    load_point)         \
  X(TIME,           TIME,       load_time)          \
  X(MONEY,          MONEY,      load_money)         \
  X(TAG,            TAG,        load_tag)           \
  X(URL,            URL,        load_url)           \
  X(EMAIL,          EMAIL,      load_email)         \
  X(HEX_INTEGER,    INTEGER,    load_hex_integer)   \
  X(RAW_STRING,     STRING,     load_raw_string)    \
  X(REF,            REF,        load_ref)

enum Kind : uint8_t {
  K_NONE = 0,
#define ZEL_TOKEN_KIND(kind, type, loader) K_##kind,
  ZEL_TOKEN_KINDS(ZEL_TOKEN_KIND)
#undef ZEL_TOKEN_KIND
  kKindEnd
};
constexpr uint32_t kKindCount = kKindEnd - 1;

// Inner states of the automaton: X(STATE, datatype), in state order from 0; the datatype a
// token that stops in the state would have been (NONE_ID: none), for the errors it reports. In
// the automaton's rows (tables.cpp) a state is written in lower case with hyphens: digits-dot.
#define ZEL_LEXER_STATES(X) \
  X(TOKEN,           NONE_ID)    /* start */             \
  X(COMMENT,         NONE_ID)    /* comment */           \
  X(STRING,          STRING)     /* quoted string */     \
  X(STRING_CARET,    STRING)     /* ^ in string */       \
  X(BRACES,          STRING)     /* in braces */         \
  X(BRACES_CARET,    STRING)     /* ^ in braces */       \
  X(PERCENT,         FILE)       /* after % */           \
  X(FILE,            FILE)       /* file */              \
  X(QUOTED_FILE,     FILE)       /* %" file */           \
  X(PERCENT2,        FILE)       /* %% */                \
  X(RAW,             NONE_ID)    /* raw body */          \
  X(RAW_BRACE,       NONE_ID)    /* raw } */             \
  X(RAW_END,         NONE_ID)    /* raw }% */            \
  X(SLASH,           WORD)       /* after / */           \
  X(REFINEMENT,      REFINEMENT) /* refinement */        \
  X(SLASH2,          WORD)       /* after // */          \
  X(HASH,            ISSUE)      /* after # */           \
  X(BINARY,          BINARY)     /* binary */            \
  X(BINARY_COMMENT,  NONE_ID)    /* ; in binary */       \
  X(CHAR,            CHAR)       /* char */              \
  X(CHAR_CARET,      CHAR)       /* ^ in char */         \
  X(CONSTRUCT,       NONE_ID)    /* #( */                \
  X(ISSUE,           ISSUE)      /* issue */             \
  X(INTEGER,         INTEGER)    /* integer */           \
  X(DIGITS_DOT,      FLOAT)      /* digits . */          \
  X(FRACTION,        FLOAT)      /* fraction */          \
  X(EXPONENT,        FLOAT)      /* exponent */          \
  X(DIGITS_E,        FLOAT)      /* digits E */          \
  X(DIGITS_DOT_HASH, FLOAT)      /* digits .# */         \
  X(TUPLE,           TUPLE)      /* tuple */             \
  X(DATE,            DATE)       /* date */              \
  X(DIGITS_COLON,    TIME)       /* digits : */          \
  X(TIME,            TIME)       /* time */              \
  X(PAIR_X,          PAIR)       /* pair x */            \
  X(PAIR,            PAIR)       /* pair */              \
  X(POINT,           POINT2D)    /* point */             \
  X(DOLLAR,          MONEY)      /* after $ */           \
  X(MONEY,           MONEY)      /* money */             \
  X(MONEY_FRACTION,  MONEY)      /* money fraction */    \
  X(DIGITS_HEX,      NONE_ID)    /* digits hex */        \
  X(HEX_WORD,        INTEGER)    /* hex word */          \
  X(HEX_H,           WORD)       /* hex h */             \
  X(DIGITS_H,        INTEGER)    /* digits h */          \
  X(LESS,            TAG)        /* after < */           \
  X(TAG,             TAG)        /* tag */               \
  X(TAG_DQUOTE,      TAG)        /* tag "" */            \
  X(TAG_QUOTE,       TAG)        /* tag '' */            \
  X(SIGN,            WORD)       /* sign */              \
  X(QUOTE_SIGN,      WORD)       /* ' sign */            \
  X(LEADING_DOT,     WORD)       /* leading . */         \
  X(DOT_DIGITS,      FLOAT)      /* . digits */          \
  X(LEADING_QUOTE,   WORD)       /* leading ' : */       \
  X(WORD,            WORD)       /* word */              \
  X(WORD_COLON,      SET_WORD)   /* word : */            \
  X(PERCENT_COLON,   WORD)       /* % : */               \
  X(URL,             URL)        /* url */               \
  X(EMAIL,           EMAIL)      /* email */             \
  X(REF,             REF)        /* ref */               \
  X(LEADING_EQUAL,   WORD)       /* leading = */         \
  X(PATH,            PATH)       /* path element */      \
  X(PATH_INTEGER,    INTEGER)    /* path integer */      \
  X(PATH_QUOTE,      WORD)       /* path ' : */          \
  X(PATH_WORD,       WORD)       /* path word */         \
  X(PATH_HASH,       ISSUE)      /* path # */            \
  X(PATH_SIGN,       WORD)       /* path sign */

enum InnerState : uint8_t {
#define ZEL_LEXER_STATE(state, type) S_##state,
  ZEL_LEXER_STATES(ZEL_LEXER_STATE)
#undef ZEL_LEXER_STATE
  kInnerStateEnd
};
constexpr uint32_t kInnerStates = kInnerStateEnd;  // states 0 .. kInnerStates - 1
constexpr uint32_t kFinalBase = kInnerStates;      // a state above this is final: kind = state - it
constexpr uint32_t kStateCount = 104;
static_assert(kFinalBase + kKindCount < kStateCount);

extern const std::array<uint32_t, 256> class_table;
extern const std::array<std::array<uint8_t, kClassCount>, kInnerStates> transitions;
extern const std::array<uint8_t, kStateCount> skip_table;
extern const std::array<uint8_t, kStateCount> state_types;  // datatype id a state stands for

inline uint8_t class_of(uint8_t byte) { return static_cast<uint8_t>(class_table[byte]); }

}  // namespace lexer
