// char!: arithmetic held to the code point range (0 to 10FFFF), conversions from text, numbers
// and UTF-8 bytes, comparison against chars and integers, and mold with the caret escapes.
#include <climits>
#include <cmath>

#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "number_test_support.h"

namespace {

using CharTest = number_test::NumberTest;

Cell n(int32_t value) { return integer::make(value); }

TEST_F(CharTest, ArithmeticStaysInTheCodePointRange) {
  struct Case {
    action::Slot slot;
    Cell left, right;
    const char* expected;
  } const cases[] = {
      {action::ADD, chr('a'), n(1), "#98"},
      {action::ADD, chr('a'), real(1.9), "#98"},  // the float is truncated first
      {action::SUBTRACT, chr('b'), chr('a'), "#1"},
      {action::SUBTRACT, chr('a'), n(97), "#0"},
      {action::SUBTRACT, chr('a'), n(98), "math/overflow"},
      {action::ADD, chr(0x10FFFF), n(1), "math/overflow"},
      {action::ADD, chr(0x10FFFE), n(1), "#1114111"},
      {action::MULTIPLY, chr('a'), n(100000), "math/overflow"},
      {action::MULTIPLY, chr(5), n(-1), "math/overflow"},
      {action::MULTIPLY, chr(2), n(INT_MAX), "math/overflow"},  // past 32 bits, not a float!
      {action::ADD, chr(2), n(INT_MAX), "math/overflow"},
      {action::DIVIDE, chr('d'), n(2), "#50"},
      {action::DIVIDE, chr('e'), n(2), "#50"},  // integer division: no float! here
      {action::DIVIDE, chr('a'), n(0), "math/zero-divide"},
      {action::REMAINDER, chr('a'), n(10), "#7"},
      {action::REMAINDER, chr('a'), chr(0), "math/zero-divide"},
      {action::AND_T, chr('a'), n(95), "#65"},
      {action::OR_T, chr('A'), n(32), "#97"},
      {action::XOR_T, chr('a'), n(32), "#65"},
      {action::ADD, chr('a'), real(1e20), "script/out-of-range"},
      {action::ADD, chr('a'), real(NAN), "script/out-of-range"},
      {action::ADD, chr('a'), real(0.5, TYPE_PERCENT), "script/invalid-type"},
      {action::ADD, chr('a'), constants::none, "script/invalid-type"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(c.slot, {c.left, c.right}), c.expected)
        << slot_label(c.slot) << " " << show(c.left) << " " << show(c.right);
  }
}

TEST_F(CharTest, InheritedFromInteger) {
  EXPECT_EQ(run(action::ABSOLUTE, {chr('a')}), "#97");
  Cell c = chr('a');
  EXPECT_FALSE(datatype::lookup<action::EVEN_Q>(TYPE_CHAR)(&c));
  EXPECT_TRUE(datatype::lookup<action::ODD_Q>(TYPE_CHAR)(&c));
  EXPECT_EQ(datatype::lookup<action::NEGATE>(TYPE_CHAR), nullptr);
  EXPECT_EQ(datatype::lookup<action::ROUND>(TYPE_CHAR), nullptr);
}

TEST_F(CharTest, Conversions) {
  struct Case {
    action::Slot slot;
    Cell spec;
    const char* expected;
  };
  const Cell abc = text("abc"), bc = text("abc", 1), empty = text(""), past = text("ab", 2),
             wide = text("\xF0\x9F\x98\x80"), e_acute = binary({0xC3, 0xA9}),
             cut = binary({0xC3}), bad = binary({0xFF, 0x41}), none_left = binary({}),
             at1 = binary({0x41, 0x42}, 1);
  const Case cases[] = {
      {action::TO, abc, "#97"},
      {action::TO, bc, "#98"},
      {action::TO, wide, "#128512"},
      {action::TO, empty, "script/bad-to-arg"},
      {action::TO, past, "script/bad-to-arg"},
      {action::TO, n(1114111), "#1114111"},
      {action::TO, n(1114112), "script/out-of-range"},
      {action::TO, n(-1), "script/out-of-range"},
      {action::TO, n(INT_MIN), "script/out-of-range"},
      {action::TO, chr(66), "#66"},
      {action::TO, real(65.7), "#65"},
      {action::TO, real(-0.5), "#0"},
      {action::TO, real(-1.0), "script/out-of-range"},
      {action::TO, real(1114111.9), "#1114111"},
      {action::TO, real(1114112.0), "script/out-of-range"},
      {action::TO, real(1e300), "script/out-of-range"},
      {action::TO, real(NAN), "script/out-of-range"},
      {action::TO, e_acute, "#233"},
      {action::TO, at1, "#66"},
      {action::TO, cut, "script/bad-to-arg"},
      {action::TO, bad, "script/bad-to-arg"},
      {action::TO, none_left, "script/bad-to-arg"},
      {action::TO, constants::true_value, "script/bad-to-arg"},
      {action::MAKE, n(65), "#65"},
      {action::MAKE, abc, "#97"},
      {action::MAKE, constants::none, "script/bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(convert(c.slot, TYPE_CHAR, c.spec), c.expected)
        << (c.slot == action::MAKE ? "make " : "to ") << show(c.spec);
  }
}

// Chars compare as numbers: with each other and with integers, letter case included.
TEST_F(CharTest, Compare) {
  struct Case {
    Cell a, b;
    int32_t op;
    int32_t expected;
  } const cases[] = {
      {chr('a'), n(97), action::EQUAL, 0},
      {chr('a'), n(97), action::STRICT_EQUAL, 1},
      {chr('a'), n(97), action::FIND_EQUAL, 1},
      {chr('a'), chr('a'), action::STRICT_EQUAL, 0},
      {chr('a'), n(98), action::LESSER, -1},
      {chr('b'), chr('a'), action::GREATER, 1},
      {chr(0x10FFFF), n(INT_MIN), action::GREATER, 1},
      {chr('a'), chr('A'), action::EQUAL, 1},
      {chr('a'), constants::none, action::EQUAL, action::kNotComparable},
      {chr('a'), real(97.0), action::LESSER, action::kNotComparable},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compare(c.a, c.b, c.op), c.expected)
        << show(c.a) << " " << show(c.b) << " op " << c.op;
  }
  EXPECT_EQ(compare(chr('a'), text("a"), action::EQUAL), action::kNotComparable);
}

TEST_F(CharTest, MoldAndForm) {
  struct Case {
    uint32_t code_point;
    const char* molded;
    const char* molded_all;
  } const cases[] = {
      {'a', "#\"a\"", "#\"a\""},
      {0, "#\"^@\"", "#\"^@\""},
      {1, "#\"^A\"", "#\"^A\""},
      {'\t', "#\"^-\"", "#\"^-\""},
      {'\n', "#\"^/\"", "#\"^/\""},
      {'"', "#\"^\"\"", "#\"^\"\""},
      {'^', "#\"^^\"", "#\"^^\""},
      {127, "#\"^~\"", "#\"^~\""},
      {30, "#\"^(1E)\"", "#\"^(1E)\""},
      {0x85, "#\"^(85)\"", "#\"^(85)\""},
      {0xE9, "#\"\xC3\xA9\"", "#\"^(E9)\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mold(chr(c.code_point)), c.molded) << c.code_point;
    EXPECT_EQ(mold_all(chr(c.code_point)), c.molded_all) << c.code_point;
  }
  EXPECT_EQ(form(chr('a')), "a");
  EXPECT_EQ(form(chr(0)), std::string(1, '\0'));
  EXPECT_EQ(form(chr(0x1F600)), "\xF0\x9F\x98\x80");
}

TEST_F(CharTest, VectorOperandGoesToTheVector) {
  auto vector_subtract = stub<action::SUBTRACT>(TYPE_VECTOR);
  const Cell vector{TYPE_VECTOR, 0, 0, 0};
  EXPECT_EQ(run(action::SUBTRACT, {chr('a'), vector}), "subtract(vector! #97)");
}

TEST_F(CharTest, CellOperations) {
  EXPECT_EQ(show(*char_::push(0x10FFFF)), "#1114111");
  Cell* block = block::push_new(4);
  char_::append_to_block(block, 'z');
  EXPECT_EQ(cells(*block), "#\"z\"");
}

}  // namespace
