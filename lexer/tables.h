// The lexer's tables: the byte class table, the transition table of the scanning automaton, and
// the per-state skip and datatype tables. The transition table is compiled at build time from
// the readable row list in tables.cpp, the one place the automaton is written down. Line
// numbers are not tracked per byte: an error counts them up to its near text.
// Relies on runtime/cell.h for the datatype ids.
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

// Token kinds: the final states less 65.
enum Kind : uint8_t {
  K_END = 1, K_ERROR, K_BLOCK_OPEN, K_BLOCK_CLOSE, K_PAREN_OPEN, K_PAREN_CLOSE, K_BRACE_OPEN,
  K_BRACE_CLOSE, K_MAP_OPEN, K_PATH_SLASH, K_CONSTRUCT, K_COMMENT, K_COMMA, K_STRING, K_WORD,
  K_ISSUE, K_INTEGER, K_REFINEMENT, K_CHAR, K_FILE, K_BINARY, K_PERCENT, K_FLOAT,
  K_FLOAT_SPECIAL, K_TUPLE, K_DATE, K_PAIR, K_POINT, K_TIME, K_MONEY, K_TAG, K_URL, K_EMAIL,
  K_HEX_INTEGER, K_RAW_STRING, K_REF,
  kKindCount = K_REF
};

constexpr uint32_t kInnerStates = 65;  // states 0..64
constexpr uint32_t kFinalBase = 65;    // a state above this is final: kind = state - 65
constexpr uint32_t kStateCount = 104;

// Start states.
enum StartState : uint8_t { S_TOKEN = 0, S_BRACES = 4, S_POINT = 35, S_PATH = 59 };

extern const std::array<uint32_t, 256> class_table;
extern const std::array<std::array<uint8_t, kClassCount>, kInnerStates> transitions;
extern const std::array<uint8_t, kStateCount> skip_table;
extern const std::array<uint8_t, kStateCount> state_types;  // datatype id a state stands for

inline uint8_t class_of(uint8_t byte) { return static_cast<uint8_t>(class_table[byte]); }

}  // namespace lexer
