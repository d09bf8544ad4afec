// Case folding: single code points in both directions on both sides of the BMP, and the
// uppercase/lowercase body over chars and strings (widening, /part, the tail as the limit).
// Relies on the tables generated from UnicodeData.txt and on the string layer.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/runtime_words.h"
#include "interpreter/frames.h"
#include "runtime/casefold.h"
#include "runtime/throw.h"
#include "string_test_support.h"

namespace {

using CasefoldTest = TextTest;

struct FoldCase {
  uint32_t code_point;
  bool upper;
  uint32_t expected;
};

TEST_F(CasefoldTest, FoldsSingleCodePoints) {
  const FoldCase cases[] = {
      {0x61, true, 0x41},          // first pair of the BMP upper list
      {0xFF5A, true, 0xFF3A},      // its last pair
      {0xB5, true, 0x39C},         // micro sign to capital mu
      {0xFF, true, 0x178},         // leaves Latin-1
      {0x131, true, 0x49},         // dotless i to I
      {0x1C5, true, 0x1C4},        // title-case Dz to DZ
      {0x3C2, true, 0x3A3},        // final sigma
      {0xDF, true, 0xDF},          // sharp s has no single upper-case code point
      {0x41, true, 0x41},          // a capital stays
      {0x10428, true, 0x10400},    // first supplementary pair
      {0x10429, true, 0x10401},
      {0x1E943, true, 0x1E921},    // the last key is reachable
      {0x1E922, true, 0x1E900},
      {0x1E944, true, 0x1E944},    // past the last key
      {0x10000, true, 0x10000},    // before the first key
      {0x10400, true, 0x10400},    // a supplementary capital stays
      {0x110000, true, 0x110000},  // beyond Unicode
      {0x41, false, 0x61},
      {0xFF3A, false, 0xFF5A},
      {0x130, false, 0x69},        // dotted I to i
      {0x1C5, false, 0x1C6},
      {0x1E9E, false, 0xDF},       // capital sharp s
      {0x2126, false, 0x3C9},      // ohm sign
      {0x212A, false, 0x6B},       // kelvin sign
      {0x178, false, 0xFF},
      {0x10400, false, 0x10428},
      {0x1E921, false, 0x1E943},
      {0x61, false, 0x61},
  };
  for (const FoldCase& c : cases) {
    EXPECT_EQ(casefold::fold_char(c.code_point, c.upper), c.expected)
        << std::hex << "code point " << c.code_point << (c.upper ? " upper" : " lower");
  }
}

// How /part is given to change_case in a case.
enum class PartGiven { kNone, kInteger, kSameSeries };

struct ChangeCase {
  const char32_t* text;
  uint32_t head;
  bool upper;
  PartGiven part;
  int32_t count;  // the integer, or the index of the position in the same series
  const char32_t* expected;  // the whole buffer afterwards
  uint32_t unit;
};

TEST_F(CasefoldTest, AsciiIsMappedAsTheTablesMapIt) {
  for (uint32_t c = 0; c < 0x80; c++) {
    EXPECT_EQ(casefold::fold_char(c, true), casefold::fold_char_from_tables(c, true)) << c;
    EXPECT_EQ(casefold::fold_char(c, false), casefold::fold_char_from_tables(c, false)) << c;
  }
}

TEST_F(CasefoldTest, ChangesTheCaseOfStrings) {
  const ChangeCase cases[] = {
      {U"abc", 0, true, PartGiven::kNone, 0, U"ABC", 1},
      {U"abc", 1, true, PartGiven::kNone, 0, U"aBC", 1},
      {U"ABC", 0, false, PartGiven::kInteger, 2, U"abC", 1},
      {U"abc", 0, true, PartGiven::kInteger, -1, U"abc", 1},
      {U"abc", 0, true, PartGiven::kInteger, 0, U"abc", 1},
      {U"abcd", 0, true, PartGiven::kSameSeries, 2, U"ABcd", 1},
      {U"abcd", 2, true, PartGiven::kSameSeries, 1, U"abcd", 1},  // a position before the head
      {U"a\u00FFb", 0, true, PartGiven::kNone, 0, U"A\u0178B", 2},
      {U"stra\u00DFe", 0, true, PartGiven::kNone, 0, U"STRA\u00DFE", 1},
      {U"\u0130X", 0, false, PartGiven::kNone, 0, U"ix", 2},  // a buffer never narrows
      {U"x\U00010428", 0, true, PartGiven::kNone, 0, U"X\U00010400", 4},
      {U"\u0101b", 0, true, PartGiven::kNone, 0, U"\u0100B", 2},
  };
  for (const ChangeCase& c : cases) {
    Cell* value = text(c.text);
    value->w1 = c.head;
    Cell part = c.part == PartGiven::kInteger
                    ? Cell{TYPE_INTEGER, 0, uint32_t(c.count), 0}
                    : Cell{TYPE_STRING, uint32_t(c.count), value->w2, 0};
    string::change_case(value, c.part == PartGiven::kNone ? nullptr : &part, c.upper);
    Cell whole = *value;
    whole.w1 = 0;
    EXPECT_EQ(read(whole), c.expected) << "case " << (&c - cases);
    EXPECT_EQ(unit_of(*value), c.unit) << "case " << (&c - cases);
  }
}

// The count never reaches past the tail: units kept beyond it in the buffer stay as they were.
TEST_F(CasefoldTest, PartCountBeyondTheTailStopsAtTheTail) {
  for (int32_t count : {4, 100, 0x7FFFFFFF}) {
    Cell* value = text(U"abcdef");
    string::truncate_units(value->w2, 3);
    Cell part{TYPE_INTEGER, 0, uint32_t(count), 0};
    string::change_case(value, &part, true);
    EXPECT_EQ(read(*value), U"ABC");
    alloc::Series* s = alloc::series_of(value->w2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s->head_ptr()) + 3, 3), "def") << count;
  }
}

TEST_F(CasefoldTest, HeadPastTheTailIsSetBackToTheTail) {
  Cell* value = text(U"abc");
  value->w1 = 7;
  string::change_case(value, nullptr, true);
  EXPECT_EQ(value->w1, 3u);
  value->w1 = 0;
  EXPECT_EQ(read(*value), U"abc");
}

TEST_F(CasefoldTest, FoldsAChar) {
  Cell c{TYPE_CHAR, 0, 0x1E943, 0};
  EXPECT_EQ(string::change_case(&c, nullptr, true)->w2, 0x1E921u);
  EXPECT_EQ(string::change_case(&c, nullptr, false)->w2, 0x1E943u);
}

TEST_F(CasefoldTest, PartInAnotherSeriesIsRejected) {
  Cell* value = text(U"abc");
  Cell* other = text(U"xyz");
  other->w1 = 1;
  Cell part = *other;
  uint32_t code = frames::try_catch(runtime_words::words.try_, [&] {
    string::change_case(value, &part, true);
  });
  EXPECT_EQ(code, rt::kThrowError);
  EXPECT_STREQ(rt::raised.category, "script");
  EXPECT_STREQ(rt::raised.id, "invalid-refine-arg");
  EXPECT_EQ(read(*value), U"abc");
}

}  // namespace
