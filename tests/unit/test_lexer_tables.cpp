// The lexer's automaton, row by row: from a start state, a few bytes, and the token kind the
// automaton ends on. Each row is checked on its named transitions and on its "otherwise" target,
// so a slip in the compiled table (or in the class table) shows as the row it sits in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "lexer/lexer.h"
#include "lexer/tables.h"

namespace {

using namespace lexer;

struct RowCase {
  uint8_t state;
  const char* input;  // bytes from that state; "\1" stands for a control byte
  Kind kind;
};

constexpr RowCase kRowCases[] = {
    {0, " \n\1[", K_BLOCK_OPEN}, {0, "]", K_BLOCK_CLOSE}, {0, "(", K_PAREN_OPEN},
    {0, ")", K_PAREN_CLOSE}, {0, "{", K_BRACE_OPEN}, {0, "}", K_ERROR}, {0, "\\", K_ERROR},
    {0, "\x80", K_ERROR}, {0, "\xC0", K_ERROR}, {0, ",", K_COMMA}, {0, "", K_END},
    {0, "abc ", K_WORD}, {0, "12 ", K_INTEGER}, {0, "0 ", K_INTEGER},
    {1, "x;y\n", K_COMMENT}, {1, "x", K_COMMENT}, {1, "\xFF", K_ERROR},
    {2, "ab\"", K_STRING}, {2, "a\n", K_ERROR}, {2, "a", K_ERROR}, {2, "^\"\"", K_STRING},
    {3, "\"\"", K_STRING}, {3, "", K_ERROR},
    {4, "ab{", K_BRACE_OPEN}, {4, "a\nb}", K_BRACE_CLOSE}, {4, "^}}", K_BRACE_CLOSE},
    {4, "", K_ERROR}, {5, "{}", K_BRACE_CLOSE},
    {6, " ", K_WORD}, {6, "@", K_WORD}, {6, "a.txt ", K_FILE}, {6, "\"a b\" ", K_FILE},
    {6, ": ", K_WORD}, {6, "%{x}% ", K_RAW_STRING}, {6, "\xF8", K_ERROR},
    {7, "a:", K_FILE}, {7, "a\"", K_ERROR}, {8, "a\n", K_ERROR}, {8, "a\"", K_FILE},
    {9, " ", K_WORD}, {9, "\\", K_WORD}, {9, "a ", K_FILE}, {9, "%% ", K_WORD},
    {10, "a}}%[", K_RAW_STRING}, {10, "", K_ERROR}, {11, "a}%;", K_RAW_STRING},
    {12, "%< ", K_RAW_STRING}, {12, "a", K_ERROR},
    {13, " ", K_WORD}, {13, "#", K_WORD}, {13, "a ", K_REFINEMENT}, {13, ":", K_WORD},
    {13, "/ ", K_WORD}, {13, ",", K_ERROR},
    {14, "ab/", K_REFINEMENT}, {14, ":", K_ERROR}, {14, ",", K_ERROR},
    {15, "# ", K_WORD}, {15, "a ", K_WORD}, {15, "$", K_ERROR},
    {16, "]", K_ERROR}, {16, ">", K_ERROR}, {16, "[", K_MAP_OPEN}, {16, "(a)", K_CONSTRUCT},
    {16, "{00}", K_BINARY}, {16, "\"a\"", K_CHAR}, {16, ";", K_ISSUE}, {16, "abc ", K_ISSUE},
    {17, "0A ff\n1=+/}", K_BINARY}, {17, "; x\n}", K_BINARY}, {17, "$", K_ERROR},
    {18, "x", K_ERROR}, {19, "a\"", K_CHAR}, {19, "^\"\"", K_CHAR}, {20, "", K_ERROR},
    {21, "x", K_ERROR}, {21, "none)", K_CONSTRUCT},
    {22, "ab]", K_ISSUE}, {22, ":", K_ERROR}, {22, "/", K_ERROR},
    {23, "1'2 ", K_INTEGER}, {23, "#{}", K_BINARY}, {23, ":30 ", K_TIME}, {23, "x2 ", K_PAIR},
    {23, "-1-2 ", K_DATE}, {23, "h ", K_HEX_INTEGER}, {23, "e5 ", K_FLOAT},
    {23, "E5 ", K_FLOAT}, {23, "a", K_ERROR}, {23, "A2h ", K_HEX_INTEGER}, {23, "%", K_PERCENT},
    {23, "@b ", K_EMAIL}, {23, ".5 ", K_FLOAT}, {23, "]", K_INTEGER},
    {24, " ", K_FLOAT}, {24, "5'0 ", K_FLOAT}, {24, "#INF ", K_FLOAT_SPECIAL}, {24, "x1 ", K_PAIR},
    {24, "e1 ", K_FLOAT}, {24, "%", K_PERCENT}, {24, "a", K_ERROR},
    {25, "1 ", K_FLOAT}, {25, "#", K_ERROR}, {25, ".1 ", K_TUPLE}, {25, "@a ", K_EMAIL},
    {26, "1 ", K_FLOAT}, {26, "+1:", K_FLOAT}, {26, "x", K_ERROR},
    {27, "1 ", K_FLOAT}, {27, "x", K_ERROR}, {27, "h ", K_HEX_INTEGER}, {27, "F ", K_WORD},
    {27, "%", K_PERCENT}, {27, "-1 ", K_FLOAT},
    {28, "1", K_FLOAT}, {28, ":", K_ERROR}, {28, "INF ", K_FLOAT_SPECIAL}, {28, "0", K_FLOAT_SPECIAL},
    {29, "1.2 ", K_TUPLE}, {29, "a", K_ERROR},
    {30, "3-4 ", K_DATE}, {30, "$", K_DATE}, {30, ",", K_ERROR},
    {31, "3", K_TIME}, {31, "a", K_ERROR}, {32, "1:2.5/", K_TIME}, {32, "a", K_ERROR},
    {33, "-3 ", K_PAIR}, {33, "a", K_ERROR}, {34, "1e.5 ", K_PAIR}, {34, "a", K_ERROR},
    {35, " 1, 2.5e3 )", K_POINT}, {35, "[", K_ERROR},
    {36, "1 ", K_MONEY}, {36, "a", K_ERROR}, {37, "1'0.5 ", K_MONEY}, {37, "a", K_ERROR},
    {38, "5#", K_MONEY}, {38, ".", K_ERROR},
    {39, "0Fh ", K_HEX_INTEGER}, {39, "x", K_ERROR},
    {40, "1F ", K_WORD}, {40, "x ", K_WORD}, {40, ": ", K_WORD}, {40, "h ", K_HEX_INTEGER},
    {40, "/", K_PATH_SLASH}, {40, "%", K_ERROR}, {40, "$1 ", K_MONEY},
    {41, " ", K_HEX_INTEGER}, {41, "#", K_ERROR}, {41, "/", K_PATH_SLASH}, {41, "g ", K_WORD},
    {42, "<", K_HEX_INTEGER}, {42, "/", K_PATH_SLASH}, {42, "g", K_ERROR},
    {43, " ", K_WORD}, {43, "'x'> ", K_TAG}, {43, "= ", K_WORD}, {43, "a> ", K_TAG},
    {43, "\xC1", K_ERROR},
    {44, "a\"b>\"> ", K_TAG}, {44, "", K_ERROR}, {45, ">\">", K_TAG}, {46, ">'>", K_TAG},
    {47, " ", K_WORD}, {47, "1 ", K_INTEGER}, {47, "'", K_ERROR}, {47, "/", K_PATH_SLASH},
    {47, ".5 ", K_FLOAT}, {47, "$1 ", K_MONEY}, {47, "x ", K_WORD},
    {48, " ", K_WORD}, {48, "$", K_ERROR}, {48, "/", K_PATH_SLASH}, {48, "1 ", K_WORD},
    {49, " ", K_WORD}, {49, "5 ", K_FLOAT}, {49, "/", K_PATH_SLASH}, {49, ",", K_ERROR},
    {49, "a ", K_WORD},
    {50, "1e2 ", K_FLOAT}, {50, "x1 ", K_PAIR}, {50, "%", K_PERCENT}, {50, ";", K_ERROR},
    {51, "a ", K_WORD}, {51, "/ ", K_WORD}, {51, "< ", K_WORD}, {51, "= ", K_WORD},
    {51, "+ ", K_WORD}, {51, "1", K_ERROR},
    {52, "b ", K_WORD}, {52, "<", K_WORD}, {52, ":b ", K_URL}, {52, "/", K_PATH_SLASH},
    {52, ",", K_ERROR}, {52, "@b ", K_EMAIL}, {52, "$1 ", K_MONEY},
    {53, " ", K_WORD}, {53, "<", K_ERROR}, {53, "//x ", K_URL},
    {54, " ", K_WORD}, {54, "%% ", K_WORD}, {54, "a", K_ERROR},
    {55, "x/y?z ", K_URL}, {55, ">", K_ERROR}, {56, "b.c ", K_EMAIL}, {56, "@", K_ERROR},
    {57, "a/b ", K_REF}, {57, "@", K_ERROR},
    {58, " ", K_WORD}, {58, "$", K_ERROR}, {58, "/", K_PATH_SLASH}, {58, "= ", K_WORD},
    {59, "1 ", K_INTEGER}, {59, "(", K_PAREN_OPEN}, {59, ")", K_PAREN_CLOSE}, {59, "\"a\"", K_STRING},
    {59, "#a ", K_ISSUE}, {59, ":a ", K_WORD}, {59, "a/", K_WORD}, {59, "<a> ", K_TAG},
    {59, "@a ", K_REF}, {59, "-1 ", K_INTEGER}, {59, " ", K_ERROR},
    {60, "2'0/", K_INTEGER}, {60, "x2 ", K_PAIR}, {60, "e2 ", K_FLOAT}, {60, ".5/", K_FLOAT},
    {60, "a", K_ERROR},
    {61, "a:", K_WORD}, {61, "1", K_ERROR}, {62, "bc:", K_WORD}, {62, ",", K_ERROR},
    {62, "@a ", K_EMAIL},
    {63, "a ", K_ISSUE}, {63, "/", K_ERROR}, {63, "[x)", K_CONSTRUCT}, {63, "\"a\"", K_CHAR},
    {64, "1/", K_INTEGER}, {64, "a/", K_WORD}, {64, "/", K_WORD}, {64, "<", K_ERROR},
};

std::string kind_name(uint32_t final_state) {
  static const char* const names[] = {
      "END", "ERROR", "BLOCK-OPEN", "BLOCK-CLOSE", "PAREN-OPEN", "PAREN-CLOSE", "BRACE-OPEN",
      "BRACE-CLOSE", "MAP-OPEN", "PATH-SLASH", "CONSTRUCT", "COMMENT", "COMMA", "STRING", "WORD",
      "ISSUE", "INTEGER", "REFINEMENT", "CHAR", "FILE", "BINARY", "PERCENT", "FLOAT",
      "FLOAT-SPECIAL", "TUPLE", "DATE", "PAIR", "POINT", "TIME", "MONEY", "TAG", "URL", "EMAIL",
      "HEX-INTEGER", "RAW-STRING", "REF"};
  uint32_t kind = final_state - kFinalBase;
  return kind >= 1 && kind <= kKindCount ? names[kind - 1] : "state " + std::to_string(final_state);
}

TEST(LexerTables, EveryRowEndsTokensAsDescribed) {
  bool seen[kInnerStates] = {};
  for (const RowCase& c : kRowCases) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.input);
    uint8_t final_state = run_automaton(c.state, bytes, std::strlen(c.input));
    EXPECT_EQ(kind_name(final_state), kind_name(kFinalBase + c.kind))
        << "row " << int(c.state) << " on \"" << c.input << "\"";
    seen[c.state] = true;
  }
  for (uint32_t s = 0; s < kInnerStates; s++) EXPECT_TRUE(seen[s]) << "row " << s << " untested";
}

TEST(LexerTables, ClassesAndFlags) {
  struct ClassCase {
    uint8_t byte;
    Class cls;
    uint32_t flag;
  };
  const ClassCase cases[] = {
      {0x00, C_END, F_END},       {'\t', C_BLANK, 0},          {'\r', C_BLANK, 0},
      {'\n', C_LF, 0},            {'5', C_DIGIT, 0},           {'0', C_ZERO, 0},
      {'#', C_HASH, F_HASH},      {'\'', C_QUOTE, F_QUOTE},    {':', C_COLON, F_COLON},
      {'X', C_X, 0},              {'T', C_T, 0},               {'H', C_OTHER, 0},
      {'e', C_LOWER_E, F_EXPONENT}, {'E', C_UPPER_E, F_EXPONENT}, {'f', C_HEX_LOWER, 0},
      {'F', C_HEX_UPPER, 0},      {'g', C_OTHER, 0},           {'<', C_LESS, F_LESS},
      {'>', C_GREATER, F_GREATER}, {'%', C_PERCENT, F_PERCENT}, {',', C_COMMA, F_COMMA},
      {'.', C_DOT, F_DOT},        {'+', C_PLUS, F_SIGN},       {'-', C_MINUS, F_SIGN},
      {'^', C_CARET, F_CARET},    {0x1F, C_CONTROL, 0},        {0x7F, C_CONTINUATION, 0},
      {0xBF, C_CONTINUATION, 0},  {0xC1, C_INVALID, 0},        {0xC2, C_OTHER, F_UTF8_2},
      {0xEF, C_OTHER, F_UTF8_2},  {0xF0, C_OTHER, F_UTF8_4},   {0xF7, C_OTHER, F_UTF8_4},
      {0xF8, C_INVALID, 0},       {'|', C_OTHER, 0},           {'`', C_OTHER, 0},
  };
  for (const ClassCase& c : cases) {
    EXPECT_EQ(class_table[c.byte] & 0xFF, c.cls) << "byte " << int(c.byte);
    EXPECT_EQ(class_table[c.byte] & ~0xFFu, c.flag) << "byte " << int(c.byte);
  }
}

}  // namespace
