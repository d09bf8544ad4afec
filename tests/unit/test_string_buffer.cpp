// String buffers: widening on write, growth, insert/remove/move at the edges, the copy core,
// comparison with and without case folding, matching, hex helpers, the mold escapes and the
// choice between double quotes and braces, and loading encoded text.
// Relies on the string layer, the case tables and the data stack (string_test_support.h).
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/stack.h"
#include "runtime/gc.h"
#include "runtime/throw.h"
#include "string_test_support.h"

namespace {

using StringBufferTest = TextTest;
using StringBufferDeathTest = TextTest;

// --- Writing and widening ----------------------------------------------------------------------

enum class Write { kAppend, kPoke, kPokeAt, kInsert };

struct WriteCase {
  const char32_t* text;
  uint32_t unit;
  Write op;
  uint32_t position;
  uint32_t code_point;
  const char32_t* expected;
  uint32_t expected_unit;
};

TEST_F(StringBufferTest, WritesWidenOnlyWhenTheCodePointDoesNotFit) {
  const WriteCase cases[] = {
      {U"ab", 1, Write::kAppend, 0, 127, U"ab\x7F", 1},
      {U"ab", 1, Write::kAppend, 0, 200, U"ab\u00C8", 2},  // append keeps unit 1 to 127 only
      {U"ab", 1, Write::kAppend, 0, 0x1F600, U"ab\U0001F600", 4},
      {U"a\u00E9", 2, Write::kAppend, 0, 0xFFFF, U"a\u00E9\uFFFF", 2},
      {U"a\u00E9", 2, Write::kAppend, 0, 0x1F600, U"a\u00E9\U0001F600", 4},
      {U"ab", 1, Write::kPoke, 0, 200, U"\u00C8b", 1},  // poke keeps unit 1 up to 255
      {U"ab", 1, Write::kPoke, 1, 0x100, U"a\u0100", 2},
      {U"ab", 1, Write::kPoke, 1, 0x1F600, U"a\U0001F600", 4},
      {U"a\u0100", 2, Write::kPoke, 0, 0x10FFFF, U"\U0010FFFF\u0100", 4},
      {U"ab", 1, Write::kPokeAt, 2, 0xFF, U"ab\u00FF", 1},
      {U"ab", 1, Write::kPokeAt, 0, 0x20AC, U"\u20ACb", 2},
      {U"ab", 1, Write::kInsert, 1, 200, U"a\u00C8b", 1},
      {U"ab", 1, Write::kInsert, 0, 0x20AC, U"\u20ACab", 2},
      {U"ab", 1, Write::kInsert, 2, 'c', U"abc", 1},   // at the tail
      {U"ab", 1, Write::kInsert, 9, 'c', U"abc", 1},   // past the tail: at the tail
      {U"a\u0100", 2, Write::kInsert, 1, 0x10000, U"a\U00010000\u0100", 4},
      {U"", 1, Write::kInsert, 0, 'x', U"x", 1},
  };
  for (const WriteCase& c : cases) {
    Cell* value = text(c.text, c.unit);
    uint32_t node = value->w2;
    alloc::Series* s = nullptr;
    switch (c.op) {
      case Write::kAppend: s = string::append_char(node, c.code_point); break;
      case Write::kPoke: {
        alloc::Series* b = alloc::series_of(node);
        s = string::poke_char(node, b->head_ptr() + c.position * b->unit(), c.code_point);
        break;
      }
      case Write::kPokeAt: s = string::poke_char_at(node, c.position, c.code_point); break;
      case Write::kInsert: s = string::insert_char_at(node, c.position, c.code_point); break;
    }
    EXPECT_EQ(s, alloc::series_of(node));  // the buffer handed back is the current one
    EXPECT_EQ(read(*value), c.expected) << "case " << (&c - cases);
    EXPECT_EQ(unit_of(*value), c.expected_unit) << "case " << (&c - cases);
  }
}

TEST_F(StringBufferTest, ManyAppendsGrowTheBuffer) {
  Cell* value = text(U"");
  std::u32string expected;
  for (uint32_t i = 0; i < 3000; i++) {
    uint32_t code_point = i == 1000 ? 0x4E2D : i == 2000 ? 0x1F600 : 'a' + i % 26;
    string::append_char(value->w2, code_point);
    expected += static_cast<char32_t>(code_point);
  }
  EXPECT_EQ(read(*value), expected);
  EXPECT_EQ(unit_of(*value), 4u);
}

// A position far past the end grows the buffer as far as needed in one call; the skipped units
// read as code point 0.
TEST_F(StringBufferTest, PokeFarPastTheEndGrowsEnough) {
  struct Case {
    uint32_t unit;
    uint32_t position;
    uint32_t code_point;
  };
  const Case cases[] = {{1, 100, 'z'}, {1, 5000, 'z'}, {2, 70000, 0x4E2D}, {4, 300000, 0x1F600},
                        {1, 40, 0x10000}};
  for (const Case& c : cases) {
    Cell* value = text(U"ab", c.unit);
    string::poke_char_at(value->w2, c.position, c.code_point);
    alloc::Series* s = alloc::series_of(value->w2);
    uint32_t unit = s->unit();
    EXPECT_GE(uint64_t(s->capacity) - s->head, (uint64_t(c.position) + 1) * unit);
    ASSERT_EQ(string::whole_length(*value), c.position + 1);
    EXPECT_EQ(string::char_at(*value, c.position), c.code_point);
    EXPECT_EQ(string::char_at(*value, 1), uint32_t('b'));
    for (uint32_t i = 2; i < c.position; i++) ASSERT_EQ(string::char_at(*value, i), 0u) << i;
    gc::verify();
  }
}

TEST_F(StringBufferTest, PokeInsideTheTextKeepsTheTail) {
  Cell* value = text(U"abc");
  string::poke_char_at(value->w2, 1, 'X');
  EXPECT_EQ(read(*value), U"aXc");
}

struct RemoveCase {
  const char32_t* text;
  uint32_t position;
  uint32_t count;
  const char32_t* expected;
};

TEST_F(StringBufferTest, RemovesAtTheEdges) {
  const RemoveCase cases[] = {
      {U"abc", 0, 1, U"bc"},   {U"abc", 2, 1, U"ab"},  {U"abc", 3, 1, U"abc"},
      {U"abc", 9, 1, U"abc"},  {U"abc", 1, 10, U"a"},  {U"abc", 0, 3, U""},
      {U"abc", 1, 0, U"abc"},  {U"a\U0001F600c", 1, 1, U"ac"},
  };
  for (const RemoveCase& c : cases) {
    Cell* value = text(c.text);
    string::remove_at(*value, c.position, c.count);
    EXPECT_EQ(read(*value), c.expected) << "case " << (&c - cases);
  }
  Cell* value = text(U"xyz");
  string::remove_one_at(*value, 1);
  EXPECT_EQ(read(*value), U"xz");
}

struct MoveCase {
  const char32_t* source;
  uint32_t source_unit;
  uint32_t source_head;
  const char32_t* destination;
  uint32_t destination_unit;
  uint32_t destination_head;
  uint32_t byte_count;
  const char32_t* source_after;  // the whole buffers
  const char32_t* destination_after;
};

TEST_F(StringBufferTest, MovesCharsBetweenBuffersOfDifferentUnits) {
  const MoveCase cases[] = {
      {U"xyz", 1, 0, U"ab", 2, 1, 2, U"z", U"axyb"},
      {U"xyz", 1, 1, U"ab", 2, 0, 2, U"x", U"yzab"},
      {U"xyz", 1, 0, U"ab", 2, 2, 99, U"", U"abxyz"},       // more than there is
      {U"xyz", 1, 0, U"ab", 2, 0, 0, U"xyz", U"ab"},        // nothing moved, nothing removed
      {U"xyz", 1, 3, U"ab", 2, 0, 2, U"xyz", U"ab"},        // source at its tail
      {U"x\u0100z", 2, 0, U"ab", 4, 1, 4, U"z", U"ax\u0100b"},  // bytes, not units
      {U"\u0100", 2, 0, U"ab", 1, 0, 2, U"", U"\u0100ab"},   // the destination widens
  };
  for (const MoveCase& c : cases) {
    Cell* source = text(c.source, c.source_unit);
    source->w1 = c.source_head;
    Cell* destination = text(c.destination, c.destination_unit);
    destination->w1 = c.destination_head;
    string::move_chars(*source, *destination, c.byte_count);
    Cell whole_source = *source, whole_destination = *destination;
    whole_source.w1 = whole_destination.w1 = 0;
    EXPECT_EQ(read(whole_source), c.source_after) << "case " << (&c - cases);
    EXPECT_EQ(read(whole_destination), c.destination_after) << "case " << (&c - cases);
  }
}

TEST_F(StringBufferTest, AppendsCBytesAsCodePoints) {
  Cell* value = text(U"a");
  string::append_c_string(*value, "bc");
  EXPECT_EQ(unit_of(*value), 1u);
  string::append_c_chars(*value, "d\0e", 3);
  EXPECT_EQ(read(*value), std::u32string(U"abcd\0e", 6));
  string::append_c_string(*value, "\xE9");  // a byte above 127 widens like any append
  EXPECT_EQ(unit_of(*value), 2u);
  EXPECT_EQ(read(*value), std::u32string(U"abcd\0e\u00E9", 7));
}

TEST_F(StringBufferTest, AppendsCCharsAtOnceWideningFirst) {
  Cell* narrow = text(U"a");
  string::append_c_chars(*narrow, "b\xE9z", 3);  // the high byte in the middle widens it all
  EXPECT_EQ(unit_of(*narrow), 2u);
  EXPECT_EQ(read(*narrow), U"ab\u00E9z");
  Cell* wide = text(U"\U0001D11E");
  string::append_c_chars(*wide, "-12", 3);
  string::append_c_chars(*wide, "", 0);
  EXPECT_EQ(unit_of(*wide), 4u);
  EXPECT_EQ(read(*wide), U"\U0001D11E-12");
  Cell* grown = text(U"");
  std::string digits(1000, '7');
  string::append_c_chars(*grown, digits.data(), digits.size());
  EXPECT_EQ(read(*grown), std::u32string(1000, U'7'));
}

TEST_F(StringBufferTest, TruncatesAndClears) {
  Cell* value = text(U"abcdef");
  string::truncate_units(value->w2, 9);  // beyond the tail: nothing
  EXPECT_EQ(read(*value), U"abcdef");
  string::truncate_units(value->w2, 4);
  EXPECT_EQ(read(*value), U"abcd");

  Cell* wide = text(U"a\U0001F600", 1);
  wide->w1 = 1;
  string::clear_all(*wide);
  EXPECT_EQ(wide->w1, 0u);
  EXPECT_EQ(unit_of(*wide), 1u);
  EXPECT_EQ(read(*wide), U"");
  string::append_char(wide->w2, 'z');
  EXPECT_EQ(read(*wide), U"z");
}

// --- Copying -----------------------------------------------------------------------------------

struct ConcatCase {
  const char32_t* destination;
  uint32_t destination_unit;
  uint32_t destination_head;
  const char32_t* source;  // null: the destination itself (same buffer)
  uint32_t source_unit;
  uint32_t source_head;
  int64_t part;
  uint32_t offset;
  bool keep_source;
  string::ConcatMode mode;
  const char32_t* expected;
  uint32_t expected_unit;
  uint32_t expected_source_unit;
};

TEST_F(StringBufferTest, ConcatenatesInEveryMode) {
  using string::kAppend, string::kInsert, string::kOverwrite;
  const ConcatCase cases[] = {
      {U"ab", 1, 0, U"cd", 1, 0, -1, 0, false, kAppend, U"abcd", 1, 1},
      {U"ab", 1, 0, U"cd", 1, 1, -1, 0, false, kAppend, U"abd", 1, 1},
      {U"ab", 1, 0, U"cdef", 1, 0, 2, 0, false, kAppend, U"abcd", 1, 1},
      {U"ab", 1, 0, U"cd", 1, 0, 9, 0, false, kAppend, U"abcd", 1, 1},
      {U"ab", 1, 0, U"cd", 1, 0, 0, 0, false, kAppend, U"ab", 1, 1},
      {U"abcd", 1, 0, U"XY", 1, 0, -1, 1, false, kInsert, U"aXYbcd", 1, 1},
      {U"abcd", 1, 1, U"XY", 1, 0, -1, 1, false, kInsert, U"abXYcd", 1, 1},
      {U"abcd", 1, 0, U"XY", 1, 0, -1, 4, false, kInsert, U"abcdXY", 1, 1},
      {U"abcd", 1, 0, U"XY", 1, 0, -1, 1, false, kOverwrite, U"aXYd", 1, 1},
      {U"abcd", 1, 0, U"XYZ", 1, 0, -1, 3, false, kOverwrite, U"abcXYZ", 1, 1},  // extends
      {U"ab", 1, 0, U"X", 1, 0, -1, 5, false, kOverwrite, U"abX", 1, 1},  // from the tail
      {U"ab", 1, 0, U"\u20AC", 2, 0, -1, 0, true, kAppend, U"ab\u20AC", 2, 2},
      {U"ab", 2, 0, U"cd", 1, 0, -1, 0, false, kAppend, U"abcd", 2, 2},  // source widened
      {U"ab", 2, 0, U"cd", 1, 0, -1, 0, true, kAppend, U"abcd", 2, 1},   // source kept
      {U"ab", 4, 0, U"c\u00E9", 1, 0, -1, 1, true, kInsert, U"ac\u00E9b", 4, 1},
      {U"ab", 4, 0, U"c\u0100", 2, 0, -1, 0, true, kOverwrite, U"c\u0100", 4, 2},
      {U"abcd", 1, 0, nullptr, 1, 0, -1, 0, false, kAppend, U"abcdabcd", 1, 1},
      {U"abcd", 1, 0, nullptr, 1, 0, -1, 2, false, kInsert, U"ababcdcd", 1, 1},
      {U"abcd", 1, 0, nullptr, 1, 2, -1, 1, false, kInsert, U"acdbcd", 1, 1},
      {U"abcd", 1, 0, nullptr, 1, 1, -1, 3, false, kInsert, U"abcbcdd", 1, 1},
      {U"abcd", 1, 0, nullptr, 1, 0, -1, 1, false, kOverwrite, U"aabcd", 1, 1},
      {U"abcd", 1, 0, nullptr, 1, 2, -1, 0, false, kOverwrite, U"cdcd", 1, 1},
  };
  for (const ConcatCase& c : cases) {
    Cell* destination = text(c.destination, c.destination_unit);
    destination->w1 = c.destination_head;
    Cell* source = c.source ? text(c.source, c.source_unit) : string::push(*destination);
    source->w1 = c.source_head;
    string::concatenate(*destination, *source, c.part, c.offset, c.keep_source, c.mode);
    Cell whole = *destination;
    whole.w1 = 0;
    EXPECT_EQ(read(whole), c.expected) << "case " << (&c - cases);
    EXPECT_EQ(unit_of(*destination), c.expected_unit) << "case " << (&c - cases);
    EXPECT_EQ(unit_of(*source), c.expected_source_unit) << "case " << (&c - cases);
  }
}

TEST_F(StringBufferTest, ConcatenatesASymbolThroughItsDecodedName) {
  Cell* name = text(U"Name");
  name->w1 = 2;  // a symbol's name is read from position 0 whatever the string's head
  Cell* symbol = stack::push_new();
  *symbol = Cell{TYPE_SYMBOL, 0, name->w2, 0};
  Cell* destination = text(U"my");
  string::concatenate(*destination, *symbol, -1, 0, true, string::kAppend);
  EXPECT_EQ(read(*destination), U"myName");
}

struct WidenedCopyCase {
  const char32_t* source;
  uint32_t source_unit;
  const char32_t* destination;  // null: a new buffer
  uint32_t destination_unit;
  uint32_t target_unit;
  uint32_t source_offset;
  uint32_t destination_offset;
  int64_t length;
  bool keep_tail;
  std::u32string expected;
};

TEST_F(StringBufferTest, CopiesWidened) {
  const WidenedCopyCase cases[] = {
      {U"abc", 1, nullptr, 0, 2, 0, 0, 0, false, U"abc"},
      {U"abc", 1, nullptr, 0, 4, 1, 0, 1, false, U"b"},
      {U"a\u0100c", 2, nullptr, 0, 4, 1, 0, -1, false, U"\u0100c"},
      {U"xy", 1, U"AB", 2, 2, 0, 1, 0, false, U"Axy"},
      {U"xy", 1, U"ABCD", 2, 2, 0, 1, 0, true, U"AxyD"},
      {U"xy", 1, U"AB", 4, 4, 0, 4, 0, false, std::u32string(U"AB\0\0xy", 6)},
      {U"abc", 1, nullptr, 0, 2, 0, 2, 9, false, std::u32string(U"\0\0abc", 5)},
  };
  for (const WidenedCopyCase& c : cases) {
    Cell* source = text(c.source, c.source_unit);
    Cell* destination = stack::push_new();
    *destination = Cell{TYPE_NONE, 0, 0, 0};
    if (c.destination) destination = text(c.destination, c.destination_unit);
    uint32_t node = string::copy_widened(source->w2, destination->w2, 4, c.target_unit,
                                         c.source_offset, c.destination_offset, c.length,
                                         c.keep_tail);
    *destination = cell::make_series(TYPE_STRING, node);
    EXPECT_EQ(read(*destination), c.expected) << "case " << (&c - cases);
    EXPECT_EQ(unit_of(*destination), c.target_unit) << "case " << (&c - cases);
  }
}

TEST_F(StringBufferDeathTest, CopyWithoutWideningIsFatal) {
  EXPECT_EXIT(
      {
        Cell* source = text(U"ab");
        string::copy_widened(source->w2, 0, 4, 1, 0, 0, 0, false);
      },
      testing::ExitedWithCode(100), "");
}

struct RotateCase {
  const char* bytes;
  size_t first, second, gap;
  const char* expected;
};

TEST_F(StringBufferTest, RotatesRegions) {
  // Both regions beyond the scratch area's standing size.
  std::string large = std::string(10000, 'a') + std::string(5000, 'b');
  std::string large_expected = std::string(5000, 'b') + std::string(10000, 'a');
  const RotateCase cases[] = {
      {"abcXYZW", 3, 4, 0, "XYZWabc"},  {"abcdXY", 4, 2, 0, "XYabcd"},
      {"ab-XYZ", 2, 3, 1, "XYZ-ab"},    {"abcd--XY", 4, 2, 2, "XY--abcd"},
      {"XY", 0, 2, 0, "XY"},            {"ab+XY", 2, 2, 1, "XY+ab"},
      {large.c_str(), 10000, 5000, 0, large_expected.c_str()},
  };
  for (const RotateCase& c : cases) {
    std::string bytes = c.bytes;
    string::rotate_regions(reinterpret_cast<uint8_t*>(bytes.data()), c.first, c.second, c.gap);
    EXPECT_EQ(bytes, c.expected);
  }
}

// --- Positions and searching -------------------------------------------------------------------

TEST_F(StringBufferTest, PositionsClampToTheTail) {
  Cell* value = text(U"abc");
  value->w1 = 5;
  EXPECT_TRUE(string::at_tail(*value));
  EXPECT_EQ(string::head_address(*value), string::tail_address(*value));
  EXPECT_EQ(value->w1, 3u);
  value->w1 = 9;
  EXPECT_EQ(string::rest_length(*value), 0u);
  EXPECT_EQ(value->w1, 3u);
  EXPECT_EQ(string::whole_length(*value), 3u);

  value->w1 = 0;
  EXPECT_FALSE(string::next(*value));
  EXPECT_FALSE(string::next(*value));
  EXPECT_TRUE(string::next(*value));  // reaches the tail
  EXPECT_EQ(value->w1, 3u);
  EXPECT_TRUE(string::next(*value));  // stays there
  EXPECT_EQ(value->w1, 3u);
  EXPECT_FALSE(string::skip(*value, -2));
  EXPECT_EQ(value->w1, 1u);
  EXPECT_EQ(string::rest_length(*value), 2u);
}

TEST_F(StringBufferTest, FindsChars) {
  Cell* value = text(U"abcABC\U0001F600");
  value->w1 = 1;
  EXPECT_EQ(string::find_char(*value, 'c'), 1);
  EXPECT_EQ(string::find_char(*value, 'a'), -1);
  EXPECT_EQ(string::find_char(*value, 0x1F600), 5);

  struct Case {
    uint32_t code_point, skip;
    bool case_sensitive, found;
  };
  const Case cases[] = {
      {'B', 1, true, true},   {'b', 1, false, true},   {'B', 3, true, true},
      {'c', 2, false, true},  {'c', 2, true, false},   {'b', 0, true, true},
      {'c', 0, true, false},  {'a', 1, true, false},   {0x1F600, 5, true, true},
      {0x1F600, 2, true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(string::find_char_skip(*value, c.code_point, c.skip, c.case_sensitive), c.found)
        << char(c.code_point) << " skip " << c.skip;
  }
}

TEST_F(StringBufferTest, StartsWith) {
  struct Case {
    const char32_t* text;
    uint32_t head;
    const char* prefix;
    bool expected;
  };
  const Case cases[] = {
      {U"abcdef", 0, "abc", true},  {U"abcdef", 1, "bcd", true}, {U"abcdef", 0, "", true},
      {U"ab", 0, "abc", false},     {U"abcdef", 0, "abd", false}, {U"Abc", 0, "abc", false},
      {U"\u00E9t\u00E9", 0, "\xE9t", true}, {U"\u0100b", 0, "\x01", false},
  };
  for (const Case& c : cases) {
    Cell* value = text(c.text);
    value->w1 = c.head;
    EXPECT_EQ(string::starts_with(*value, c.prefix), c.expected) << c.prefix;
  }
}

// --- Comparison and matching -------------------------------------------------------------------

struct CompareCase {
  const char32_t* a;
  const char32_t* b;
  int32_t op;
  bool prefix;
  int32_t expected;
};

TEST_F(StringBufferTest, ComparesWithAndWithoutCaseFolding) {
  using namespace action;
  const CompareCase cases[] = {
      {U"abc", U"ABC", EQUAL, false, 0},
      {U"abc", U"ABC", STRICT_EQUAL, false, 1},
      {U"abc", U"ABC", SORT_CASE_ORDER, false, 1},
      {U"ABC", U"abc", SORT_CASE_ORDER, false, -1},
      {U"abc", U"abd", LESSER, false, -1},
      {U"abd", U"ABC", GREATER, false, 1},
      {U"ab", U"abc", EQUAL, false, 1},        // lengths differ: different at once
      {U"ab", U"abc", LESSER, false, -1},      // the shorter sorts first
      {U"abc", U"ab", GREATER, false, 1},
      {U"b", U"abc", LESSER, false, 1},
      {U"", U"", EQUAL, false, 0},
      {U"", U"a", LESSER, false, -1},
      {U"a", U"", GREATER, false, 1},
      {U"abcdef", U"abc", EQUAL, true, 0},
      {U"ABCdef", U"abc", FIND_EQUAL, true, 0},
      {U"ABCdef", U"abc", STRICT_EQUAL, true, -1},
      {U"ab", U"abc", EQUAL, true, 1},
      {U"abc", U"", FIND_EQUAL, true, 1},
      {U"abc", U"", EQUAL, true, 0},
      {U"\U00010428\U00010429", U"\U00010400\U00010401", EQUAL, false, 0},
      {U"\U00010428", U"\U00010400", STRICT_EQUAL, false, 1},
      {U"\u00FF", U"\u0178", EQUAL, false, 0},  // unit 1 against unit 2
      {U"\u03C2", U"\u03A3", EQUAL, false, 0},  // final sigma
      {U"\u00DF", U"s", EQUAL, false, 1},       // sharp s is not s
  };
  for (const CompareCase& c : cases) {
    Cell* a = text(c.a);
    Cell* b = text(c.b);
    EXPECT_EQ(string::compare_strings(*a, *b, c.op, c.prefix), c.expected)
        << "case " << (&c - cases);
  }
}

TEST_F(StringBufferTest, ComparesPositionsForSame) {
  Cell* a = text(U"abc");
  Cell* same = string::push(*a);
  Cell* later = string::push(*a);
  later->w1 = 1;
  Cell* equal_text = text(U"abc");
  EXPECT_EQ(string::compare_strings(*a, *same, action::SAME, false), 0);
  EXPECT_EQ(string::compare_strings(*a, *later, action::SAME, false), -1);
  EXPECT_EQ(string::compare_strings(*a, *equal_text, action::SAME, false), -1);
  EXPECT_EQ(string::compare_strings(*a, *equal_text, action::EQUAL, false), 0);
  EXPECT_EQ(string::compare_strings(*later, *a, action::GREATER, false), 1);
}

TEST_F(StringBufferTest, ComparesSlicesAndSymbols) {
  Cell* whole = text(U"abcdef");
  Cell* slice = stack::push_new();
  *slice = Cell{string::kSliceMarker, 0, whole->w2, 2};
  EXPECT_EQ(string::compare_strings(*text(U"AB"), *slice, action::EQUAL, false), 0);
  EXPECT_EQ(string::compare_strings(*text(U"abc"), *slice, action::EQUAL, false), 1);
  slice->w3 = 99;  // never beyond the tail
  EXPECT_EQ(string::compare_strings(*text(U"abcdef"), *slice, action::EQUAL, false), 0);
  slice->w3 = uint32_t(-1);  // negative: the whole rest
  EXPECT_EQ(string::compare_strings(*text(U"abcdef"), *slice, action::EQUAL, false), 0);

  Cell* name = text(U"Hello");
  Cell* symbol = stack::push_new();
  *symbol = Cell{TYPE_SYMBOL, 0, name->w2, 0};
  EXPECT_EQ(string::compare_strings(*text(U"hello"), *symbol, action::EQUAL, false), 0);
  EXPECT_EQ(string::compare_strings(*symbol, *text(U"hello"), action::STRICT_EQUAL, false), -1);
}

TEST_F(StringBufferTest, MatchesAtHead) {
  struct Case {
    const char32_t* input;
    uint32_t head;
    Cell value;
    int32_t op;
    bool expected;
  };
  Cell* abc = text(U"ABC");
  Cell* bd = text(U"bd");
  Cell* tag = text(U"ab");
  cell::set_type(*tag, TYPE_TAG);
  Cell file = *abc;
  cell::set_type(file, TYPE_FILE);
  const Case cases[] = {
      {U"abcd", 0, *abc, action::EQUAL, true},
      {U"abcd", 0, *abc, action::STRICT_EQUAL, false},
      {U"abcd", 0, file, action::EQUAL, true},
      {U"abcd", 1, *bd, action::EQUAL, false},
      {U"ab", 0, *abc, action::EQUAL, false},
      {U"xAy", 1, Cell{TYPE_CHAR, 0, 'a', 0}, action::EQUAL, true},
      {U"xAy", 1, Cell{TYPE_CHAR, 0, 'a', 0}, action::STRICT_EQUAL, false},
      {U"xAy", 3, Cell{TYPE_CHAR, 0, 'y', 0}, action::EQUAL, false},  // at the tail
      {U"<AB>c", 0, *tag, action::EQUAL, true},
      {U"<AB>c", 0, *tag, action::STRICT_EQUAL, false},
      {U"<ab c", 0, *tag, action::EQUAL, false},
      {U"<ab", 0, *tag, action::EQUAL, false},
      {U"abcd", 0, Cell{TYPE_INTEGER, 0, 1, 0}, action::EQUAL, false},
  };
  for (const Case& c : cases) {
    Cell* input = text(c.input);
    input->w1 = c.head;
    EXPECT_EQ(string::match_at_head(*input, c.value, c.op), c.expected) << "case " << (&c - cases);
  }
}

TEST_F(StringBufferTest, TestsTheHeadCharAgainstABitset) {
  // Bits for 'A' (65) and 'z' (122); 16 bytes cover code points 0-127.
  // bitset! has no collector entry yet: the string! cell below keeps the bits' buffer alive.
  Cell* bits_holder = text(U"");
  for (int i = 0; i < 16; i++) string::poke_char_at(bits_holder->w2, i, 0);
  alloc::Series* bits = alloc::series_of(bits_holder->w2);
  bits->head_ptr()[65 >> 3] |= 0x80 >> (65 & 7);
  bits->head_ptr()[122 >> 3] |= 0x80 >> (122 & 7);
  Cell* bitset = stack::push_copy(*bits_holder);
  cell::set_type(*bitset, TYPE_BITSET);
  struct Case {
    const char32_t* input;
    bool plain, complemented;
  };
  const Case cases[] = {
      {U"A", true, true},  {U"z", true, true}, {U"a", false, false},
      {U"\u00E9", false, true},  // beyond the bits: the complement flag decides
      {U"", false, false},
  };
  for (const Case& c : cases) {
    Cell* input = text(c.input);
    alloc::series_of(bitset->w2)->flags &= ~0x80000u;
    EXPECT_EQ(string::head_char_in_bitset(*input, *bitset), c.plain);
    alloc::series_of(bitset->w2)->flags |= 0x80000u;
    EXPECT_EQ(string::head_char_in_bitset(*input, *bitset), c.complemented);
  }
}

// --- Hex ---------------------------------------------------------------------------------------

TEST_F(StringBufferTest, FormatsHex) {
  struct Case {
    int32_t value;
    bool trim;
    const char* expected;
  };
  const Case cases[] = {
      {0, true, "00"},           {0, false, "00000000"},      {255, true, "FF"},
      {0x1E, true, "1E"},        {0x85, true, "85"},          {0x4E2D, true, "4E2D"},
      {5, true, "5"},            {5, false, "00000005"},      {-1, false, "FFFFFFFF"},
      {-1, true, ""},            {-2, true, "E"},             {-2, false, "FFFFFFFE"},
      {-256, true, "00"},        {INT_MIN, true, "80000000"}, {0x12345678, false, "12345678"},
      {0x7FFFFFFF, true, "7FFFFFFF"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(string::int_to_hex(c.value, c.trim), c.expected) << c.value;
  }
  EXPECT_STREQ(string::byte_to_hex(0), "00");
  EXPECT_STREQ(string::byte_to_hex(0x0F), "0F");
  EXPECT_STREQ(string::byte_to_hex(0xAB), "AB");
}

// --- Mold --------------------------------------------------------------------------------------

struct EscapeCase {
  uint32_t code_point;
  bool all;
  const char32_t* expected;
};

TEST_F(StringBufferTest, EscapesCodePoints) {
  const EscapeCase cases[] = {
      {0, false, U"^@"},      {1, false, U"^A"},        {8, false, U"^H"},
      {9, false, U"^-"},      {10, false, U"^/"},       {11, false, U"^K"},
      {13, false, U"^M"},     {26, false, U"^Z"},       {27, false, U"^["},
      {28, false, U"^\\"},    {29, false, U"^]"},       {30, false, U"^(1E)"},
      {31, false, U"^_"},     {'"', false, U"^\""},     {'^', false, U"^^"},
      {' ', false, U" "},     {'a', false, U"a"},       {'{', false, U"{"},
      {0x7F, false, U"^~"},   {0x80, false, U"^(80)"},  {0x85, false, U"^(85)"},
      {0x9F, false, U"^(9F)"}, {0xA0, false, U"\u00A0"}, {0xE9, false, U"\u00E9"},
      {0xE9, true, U"^(E9)"}, {0x4E2D, true, U"^(4E2D)"}, {0x4E2D, false, U"\u4E2D"},
      {0x1F600, true, U"^(1F600)"}, {0x7F, true, U"^~"}, {'a', true, U"a"},
  };
  for (const EscapeCase& c : cases) {
    Cell* out = text(U"");
    string::mold_char_escaped(*out, c.code_point, c.all);
    EXPECT_EQ(read(*out), c.expected) << std::hex << c.code_point;
  }
}

struct MoldCase {
  std::u32string source;
  bool all;
  std::u32string expected;
};

TEST_F(StringBufferTest, MoldsInQuotesOrBraces) {
  const std::u32string x49(49, U'x'), x50(50, U'x');
  const MoldCase cases[] = {
      {U"", false, U"\"\""},
      {U"abc", false, U"\"abc\""},
      {U"a\"b", false, U"{a\"b}"},                // a double quote: braces, the quote bare
      {U"a\nb\nc", false, U"\"a^/b^/c\""},        // two line feeds: still quotes
      {U"a\nb\nc\nd", false, U"{a^/b^/c^/d}"},    // three: braces
      {U"a\tb\r", false, U"\"a^-b^M\""},
      {std::u32string(U"\0\x1B\x1C\x1D\x1F", 5), false, U"\"^@^[^\\^]^_\""},
      {U"^x", false, U"\"^^x\""},
      {U"\x1E\x7F\x85", false, U"\"^(1E)^~^(85)\""},
      {U"\u00E9", false, U"\"\u00E9\""},
      {U"\u00E9", true, U"\"^(E9)\""},
      {U"\U0001F600", true, U"\"^(1F600)\""},
      {U"{}", false, U"\"{}\""},                  // braces need no escape inside quotes
      {U"a{b\n\n\n", false, U"{a^{b^/^/^/}"},     // unclosed brace
      {U"a}b\n\n\n", false, U"{a^}b^/^/^/}"},     // brace closing nothing
      {U"a{b}\n\n\n", false, U"{a{b}^/^/^/}"},    // balanced braces stay bare
      {U"\"^", false, U"{\"^^}"},
      {U"{\"}", false, U"{{\"}}"},
      {U"}{\"", false, U"{^}^{\"}"},
      {U"{a}{\"", false, U"{{a}^{\"}"},           // unbalanced from the second brace on
      {U"{{}\"", false, U"{^{^{^}\"}"},
      {U"\t\"\u00E9", true, U"{^-\"^(E9)}"},
      {x49, false, U"\"" + x49 + U"\""},
      {x50, false, U"{" + x50 + U"}"},            // 50 units or longer: braces
  };
  for (const MoldCase& c : cases) {
    Cell* value = text(c.source);
    Cell* out = text(U"");
    string::mold_text(*out, *value, UINT32_MAX, c.all);
    EXPECT_EQ(read(*out), c.expected) << "case " << (&c - cases);
  }
}

// The quote and line-feed counts cover the range only; the length rule looks at the whole rest.
TEST_F(StringBufferTest, MoldCountsTheRangeButMeasuresTheRest) {
  struct Case {
    std::u32string source;
    uint32_t head, count;
    std::u32string expected;
  };
  const std::u32string x60(60, U'x');
  const Case cases[] = {
      {U"a\nb\nc\nd", 0, 4, U"\"a^/b^/\""},
      {U"ab\"", 0, 2, U"\"ab\""},
      {U"ab\"", 1, 9, U"{b\"}"},
      {x60, 0, 3, U"{xxx}"},
      {x60, 12, 3, U"\"xxx\""},  // 48 units from the head
      {U"a{b}", 0, 2, U"\"a{\""},
  };
  for (const Case& c : cases) {
    Cell* value = text(c.source);
    value->w1 = c.head;
    Cell* out = text(U"");
    string::mold_text(*out, *value, c.count, false);
    EXPECT_EQ(read(*out), c.expected) << "case " << (&c - cases);
  }
}

TEST_F(StringBufferTest, MoldAppendsToWiderAndNarrowerOutput) {
  Cell* value = text(U"a\u4E2D\nb\nc\nd");
  Cell* out = text(U"<", 4);
  string::mold_text(*out, *value, UINT32_MAX, false);
  EXPECT_EQ(read(*out), U"<{a\u4E2D^/b^/c^/d}");
  EXPECT_EQ(unit_of(*out), 4u);
  Cell* narrow = text(U">");
  string::mold_text(*narrow, *value, UINT32_MAX, false);
  EXPECT_EQ(read(*narrow), U">{a\u4E2D^/b^/c^/d}");
  EXPECT_EQ(unit_of(*narrow), 2u);
}

TEST_F(StringBufferTest, CountsQuotesNewlinesAndBraces) {
  Cell* value = text(U"{\"a\n\"}\n}", 2);
  alloc::Series* s = alloc::series_of(value->w2);
  uint8_t* first = s->head_ptr();
  uint8_t* end = s->tail_ptr();
  uint32_t quotes = 1, newlines = 1;  // the counters are added to
  string::count_quotes_and_newlines(first, end, 2, quotes, newlines);
  EXPECT_EQ(quotes, 3u);
  EXPECT_EQ(newlines, 3u);
  EXPECT_TRUE(string::braces_balanced(first, end, 2));
  EXPECT_FALSE(string::braces_balanced(first, first + 2 * 5, 2));  // its } lies outside
}

// --- Creation and loading ----------------------------------------------------------------------

TEST_F(StringBufferTest, MakesEmptyStrings) {
  struct Case {
    uint32_t size, unit, capacity_at_least;
  };
  const Case cases[] = {{0, 1, 1}, {40, 1, 40}, {0, 2, 16}, {0, 4, 16}, {10, 4, 40}};
  for (const Case& c : cases) {
    Cell* value = stack::push_new();
    *value = Cell{TYPE_NONE, 0, 0, 0};
    if (c.unit == 1) {
      string::init_empty(value, c.size);
    } else {
      string::init_empty_of_unit(value, c.size, c.unit);
    }
    EXPECT_EQ(cell::type_of(*value), TYPE_STRING);
    EXPECT_EQ(value->w1, 0u);
    EXPECT_EQ(string::whole_length(*value), 0u);
    EXPECT_EQ(unit_of(*value), c.unit);
    EXPECT_GE(alloc::series_of(value->w2)->capacity, c.capacity_at_least);
  }
}

struct LoadCase {
  std::string bytes;
  int32_t encoding;
  std::u32string expected;
  uint32_t unit;
};

TEST_F(StringBufferTest, LoadsEncodedText) {
  const LoadCase cases[] = {
      {"abc", string::kUtf8, U"abc", 1},
      {"\xC3\xA9t\xC3\xA9", string::kUtf8, U"\u00E9t\u00E9", 1},
      {"\xE2\x82\xAC", string::kUtf8, U"\u20AC", 2},
      {"\xEF\xBB\xBFx", string::kUtf8, U"x", 1},
      {"", string::kUtf8, U"", 1},
      {std::string("a\0\xAC\x20", 4), string::kUtf16le, U"a\u20AC", 2},
      {std::string("a\0b\0c", 5), string::kUtf16le, U"ab", 1},  // the odd byte is left out
      {std::string("\x3D\xD8\x00\xDE", 4), string::kUtf16le, U"\U0001F600", 4},
  };
  for (const LoadCase& c : cases) {
    Cell* value = string::load_encoded_push(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                            c.bytes.size(), c.encoding);
    EXPECT_EQ(read(*value), c.expected);
    EXPECT_EQ(unit_of(*value), c.unit);
    // The same bytes one address further on (UTF-16 read from an odd address).
    std::vector<uint8_t> shifted(c.bytes.size() + 1);
    std::memcpy(shifted.data() + 1, c.bytes.data(), c.bytes.size());
    Cell* cell = stack::push_new();
    *cell = Cell{TYPE_NONE, 0, 0, 0};
    EXPECT_EQ(string::load_encoded(shifted.data() + 1, c.bytes.size(), cell, c.encoding), cell);
    EXPECT_EQ(read(*cell), c.expected);
  }
}

TEST_F(StringBufferTest, LoadsEncodedTextIntoABlock) {
  Cell new_block = cell::make_series(TYPE_BLOCK, alloc::new_cell_series(1));
  Cell* block = stack::push_copy(new_block);
  const char* words[] = {"one", "tw\xC3\xB6", "three", "four"};
  for (const char* w : words) {
    string::load_encoded_to_block(reinterpret_cast<const uint8_t*>(w), std::strlen(w), *block,
                                  string::kUtf8);
  }
  alloc::Series* b = alloc::series_of(block->w2);
  ASSERT_EQ(b->used(), 4 * sizeof(Cell));
  const std::u32string expected[] = {U"one", U"tw\u00F6", U"three", U"four"};
  for (int i = 0; i < 4; i++) {
    Cell item = reinterpret_cast<Cell*>(alloc::series_of(block->w2)->head_ptr())[i];
    EXPECT_EQ(cell::type_of(item), TYPE_STRING);
    EXPECT_EQ(read(item), expected[i]);
  }
}

TEST_F(StringBufferDeathTest, UnknownEncodingEndsWithStatusOne) {
  const uint8_t bytes[] = {'a', 'b'};
  EXPECT_EXIT(string::load_encoded(bytes, 2, nullptr, 2), testing::ExitedWithCode(1),
              "\\*\\*\\* Loading Error: input encoding unsupported");
  EXPECT_EXIT(string::load_encoded_push(bytes, 2, 1), testing::ExitedWithCode(1),
              "input encoding unsupported");
}

// The binary! of the undecoded bytes, as the error raised by a strict load carries it.
std::string strict_error_bytes;

[[noreturn]] void keep_binary_argument(const char* category, const char* id, const Cell* a1,
                                       const Cell*, const Cell*) {
  rt::raised = rt::RaisedError{category, id};
  strict_error_bytes.clear();
  if (a1 && cell::type_of(*a1) == TYPE_BINARY) {
    alloc::Series* s = alloc::series_of(a1->w2);
    strict_error_bytes.assign(reinterpret_cast<char*>(s->head_ptr()), s->used());
  }
  throw rt::Throw{rt::kThrowError};
}

TEST_F(StringBufferTest, LoadsStrictUtf8) {
  struct Case {
    std::string bytes;
    const char* error;  // null: loads
    std::u32string expected;  // the text, or the bytes left over
  };
  const Case cases[] = {
      {"h\xC3\xA9", nullptr, U"h\u00E9"},
      {"ab\xC3", "invalid-utf8", U"\xC3"},
      {"ab\xF0\x9F\x98", "invalid-utf8", U"\xF0\x9F\x98"},
      {"a\x80", "invalid-utf8", U""},
  };
  rt::ErrorRaiser previous = rt::set_error_raiser(keep_binary_argument);
  for (const Case& c : cases) {
    // Once from plain memory, once from a byte buffer.
    for (bool in_series : {false, true}) {
      Cell* result = nullptr;
      // A plain catch: this raiser throws past the frames, so a try frame would stay behind.
      uint32_t code = rt::catch_codes(rt::kThrowError, [&] {
        if (!in_series) {
          result = string::load_utf8_strict(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                            c.bytes.size());
          return;
        }
        uint32_t node = alloc::new_byte_series(uint32_t(c.bytes.size() + 1));
        alloc::Series* s = alloc::series_of(node);
        s->head_ptr()[0] = '#';
        std::memcpy(s->head_ptr() + 1, c.bytes.data(), c.bytes.size());
        s->tail = s->head + uint32_t(c.bytes.size() + 1);
        stack::push_copy(cell::make_series(TYPE_BINARY, node));
        result = string::load_utf8_strict(node, 1, c.bytes.size());
      });
      if (!c.error) {
        EXPECT_EQ(code, 0u);  // no ASSERT: the raiser is put back after the loop
        if (code == 0) {
          EXPECT_EQ(read(*result), c.expected);
        }
        continue;
      }
      EXPECT_EQ(code, rt::kThrowError);
      EXPECT_STREQ(rt::raised.id, c.error);
      if (!c.expected.empty()) {
        std::string left(c.expected.begin(), c.expected.end());
        EXPECT_EQ(strict_error_bytes, left);
      }
    }
  }
  rt::set_error_raiser(previous);
}

}  // namespace
