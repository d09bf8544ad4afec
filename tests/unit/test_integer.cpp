// integer!: the arithmetic core and its edges (overflow to float!, the -2147483648 cases,
// truncated remainder), round with its refinements, power, comparison, conversions to
// integer! and decimal text. Mixed arithmetic is checked by what the other type's entry is
// handed, through stand-ins, so it holds whatever state float! and pair! are in.
#include <climits>
#include <cmath>

#include "datatypes/integer.h"
#include "interpreter/frames.h"
#include "number_test_support.h"

namespace {

using number_test::NumberTest;
using IntegerTest = NumberTest;

struct MathCase {
  action::Slot slot;
  Cell left, right;
  const char* expected;
};

Cell n(int32_t value) { return integer::make(value); }

TEST_F(IntegerTest, ArithmeticNeverWraps) {
  const MathCase cases[] = {
      {action::ADD, n(2), n(3), "5"},
      {action::ADD, n(INT_MAX), n(1), "f:2147483648"},
      {action::ADD, n(INT_MIN), n(-1), "f:-2147483649"},
      {action::ADD, n(INT_MAX), n(INT_MAX), "f:4294967294"},
      {action::SUBTRACT, n(0), n(INT_MIN), "f:2147483648"},
      {action::SUBTRACT, n(INT_MIN), n(1), "f:-2147483649"},
      {action::SUBTRACT, n(-1), n(INT_MAX), "-2147483648"},
      {action::MULTIPLY, n(INT_MIN), n(-1), "f:2147483648"},
      {action::MULTIPLY, n(65536), n(65536), "f:4294967296"},
      {action::MULTIPLY, n(-46341), n(46341), "f:-2147488281"},
      {action::MULTIPLY, n(-65536), n(32768), "-2147483648"},
      {action::DIVIDE, n(6), n(3), "2"},
      {action::DIVIDE, n(7), n(2), "f:3.5"},
      {action::DIVIDE, n(-7), n(2), "f:-3.5"},
      {action::DIVIDE, n(1), n(3), "f:0.33333333333333331"},
      {action::DIVIDE, n(INT_MIN), n(2), "-1073741824"},
      {action::DIVIDE, n(INT_MIN), n(1), "-2147483648"},
      {action::DIVIDE, n(1), n(0), "math/zero-divide"},
      {action::DIVIDE, n(INT_MIN), n(-1), "math/overflow"},
      {action::DIVIDE, n(INT_MAX), n(-1), "-2147483647"},
      // The remainder takes the sign of the left operand.
      {action::REMAINDER, n(-7), n(2), "-1"},
      {action::REMAINDER, n(7), n(-2), "1"},
      {action::REMAINDER, n(-7), n(-2), "-1"},
      {action::REMAINDER, n(INT_MIN), n(3), "-2"},
      {action::REMAINDER, n(INT_MIN), n(-1), "math/overflow"},
      {action::REMAINDER, n(7), n(0), "math/zero-divide"},
      {action::AND_T, n(12), n(10), "8"},
      {action::OR_T, n(12), n(10), "14"},
      {action::XOR_T, n(12), n(10), "6"},
      {action::AND_T, n(-1), n(INT_MIN), "-2147483648"},
      // A char! operand counts by its code point; the result is an integer!.
      {action::ADD, n(1), chr('a'), "98"},
      {action::MULTIPLY, n(INT_MAX), chr(2), "f:4294967294"},
      {action::ADD, n(1), constants::true_value, "script/invalid-type"},
      {action::SUBTRACT, n(1), constants::none, "script/invalid-type"},
  };
  for (const MathCase& c : cases) {
    EXPECT_EQ(run(c.slot, {c.left, c.right}), c.expected)
        << slot_label(c.slot) << " " << show(c.left) << " " << show(c.right);
  }
}

TEST_F(IntegerTest, SingleValueActions) {
  struct Case {
    action::Slot slot;
    int32_t value;
    const char* expected;
  } const cases[] = {
      {action::ABSOLUTE, -5, "5"},       {action::ABSOLUTE, INT_MAX, "2147483647"},
      {action::ABSOLUTE, INT_MIN, "math/overflow"},
      {action::NEGATE, 5, "-5"},         {action::NEGATE, -2147483647, "2147483647"},
      {action::NEGATE, INT_MIN, "math/overflow"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run(c.slot, {n(c.value)}), c.expected) << slot_label(c.slot) << " " << c.value;
  }
  Cell v = n(0);
  EXPECT_EQ(show(*datatype::lookup<action::COMPLEMENT>(TYPE_INTEGER)(&v)), "-1");
}

TEST_F(IntegerTest, EvenAndOddIncludeNegatives) {
  struct Case {
    int32_t value;
    bool even;
  } const cases[] = {{0, true}, {-3, false}, {-4, true}, {INT_MIN, true}, {INT_MAX, false}};
  for (const Case& c : cases) {
    Cell v = n(c.value);
    EXPECT_EQ(datatype::lookup<action::EVEN_Q>(TYPE_INTEGER)(&v), c.even) << c.value;
    EXPECT_EQ(datatype::lookup<action::ODD_Q>(TYPE_INTEGER)(&v), !c.even) << c.value;
  }
}

TEST_F(IntegerTest, PowerStaysIntegerUntilItOverflows) {
  auto float_power = stub<action::POWER>(TYPE_FLOAT);
  const MathCase cases[] = {
      {action::POWER, n(2), n(10), "1024"},
      {action::POWER, n(2), n(30), "1073741824"},
      {action::POWER, n(-2), n(31), "-2147483648"},
      {action::POWER, n(46340), n(2), "2147395600"},
      {action::POWER, n(0), n(0), "1"},
      {action::POWER, n(-1), n(INT_MAX), "-1"},
      {action::POWER, n(1), n(INT_MAX), "1"},
      // Past the range, a negative or a float exponent: float power of the base itself.
      {action::POWER, n(2), n(31), "power(f:2 31)"},
      {action::POWER, n(46341), n(2), "power(f:46341 2)"},
      {action::POWER, n(2), n(-1), "power(f:2 -1)"},
      {action::POWER, n(2), real(0.5), "power(f:2 f:0.5)"},
      {action::POWER, n(2), chr(3), "script/expect-arg"},
  };
  for (const MathCase& c : cases) {
    handed.clear();
    EXPECT_EQ(run(c.slot, {c.left, c.right}), c.expected) << show(c.left) << " ** " << show(c.right);
  }
}

TEST_F(IntegerTest, MixedArithmeticGoesToTheOtherType) {
  auto float_add = stub<action::ADD>(TYPE_FLOAT);
  auto float_divide = stub<action::DIVIDE>(TYPE_FLOAT);
  auto pair_add = stub<action::ADD>(TYPE_PAIR);
  auto pair_negate = stub<action::NEGATE>(TYPE_PAIR);
  auto pair_multiply = stub<action::MULTIPLY>(TYPE_PAIR);
  auto tuple_add = stub<action::ADD>(TYPE_TUPLE);
  const Cell tuple{TYPE_TUPLE, 0, 0, 0};
  const MathCase cases[] = {
      // The integer arrives as a float!; percent! and time! keep their type for float! to see.
      {action::ADD, n(5), real(1.5), "add(f:5 f:1.5)"},
      {action::DIVIDE, n(INT_MIN), real(0.5, TYPE_PERCENT), "divide(f:-2147483648 p:0.5)"},
      {action::ADD, n(5), real(90, TYPE_TIME), "add(f:5 t:90)"},
      {action::AND_T, n(5), real(1.5), "script/cannot-use"},
      // Compound values compute compound op integer; 5 - 1x2 is -1x-2 + 5.
      {action::SUBTRACT, n(5), pair(1, 2), "negate(1x2 5)add(1x2 5)"},
      {action::MULTIPLY, n(3), pair(1, 2), "multiply(1x2 3)"},
      {action::DIVIDE, n(10), pair(2, 2), "script/not-related"},
      {action::ADD, n(1), tuple, "add(tuple! 1)"},
      {action::SUBTRACT, n(1), tuple, "script/not-related"},
      {action::DIVIDE, n(1), tuple, "script/not-related"},
  };
  for (const MathCase& c : cases) {
    handed.clear();
    EXPECT_EQ(run(c.slot, {c.left, c.right}), c.expected)
        << slot_label(c.slot) << " " << show(c.left) << " " << show(c.right);
  }
}

TEST_F(IntegerTest, Round) {
  struct Case {
    int32_t value;
    bool to;  // with /to scale
    int32_t scale;
    const char* refinement;
    const char* expected;
  } const cases[] = {
      {5, false, 0, "", "5"},
      {15, true, 10, "", "20"},
      {-15, true, 10, "", "-20"},
      {14, true, 10, "", "10"},
      {-16, true, 10, "", "-20"},
      {25, true, 10, "even", "20"},
      {35, true, 10, "even", "40"},
      {15, true, 10, "half-down", "10"},
      {-15, true, 10, "half-down", "-10"},
      {-11, true, 10, "floor", "-20"},
      {11, true, 10, "floor", "10"},
      {11, true, 10, "ceiling", "20"},
      {-11, true, 10, "ceiling", "-10"},
      {-15, true, 10, "half-ceiling", "-10"},
      {15, true, 10, "half-ceiling", "20"},
      {-19, true, 10, "down", "-10"},
      {7, true, 0, "", "7"},
      {7, true, -5, "", "5"},  // the scale's sign does not matter
      {2147483647, true, 10, "", "math/overflow"},
      {2147483641, true, 10, "ceiling", "math/overflow"},
      {2147483647, true, 10, "down", "2147483640"},
      {2147483647, true, 10, "floor", "2147483640"},
      {-2147483647, true, 10, "ceiling", "-2147483640"},
      {INT_MIN, false, 0, "", "-2147483648"},
      {INT_MIN, true, 10, "", "math/overflow"},
      {INT_MIN, true, 10, "down", "-2147483640"},
      {INT_MIN, true, 2, "", "-2147483648"},
      {5, true, INT_MIN, "", "0"},
      {INT_MIN, true, INT_MIN, "", "-2147483648"},
  };
  for (const Case& c : cases) {
    std::string r = c.refinement;
    Cell result{};
    std::string error = guarded([&] {
      Cell* value = stack::push_copy(n(c.value));
      Cell* scale = c.to ? stack::push_copy(n(c.scale)) : nullptr;
      datatype::lookup<action::ROUND>(TYPE_INTEGER)(
          value, scale,
          {.even = r == "even", .down = r == "down", .half_down = r == "half-down",
           .floor = r == "floor", .ceiling = r == "ceiling", .half_ceiling = r == "half-ceiling"});
      result = *value;
    });
    EXPECT_EQ(error.empty() ? show(result) : error, c.expected)
        << "round/" << r << " " << c.value << " " << c.scale;
  }
}

TEST_F(IntegerTest, RoundToAFloatScaleIsFloatRounding) {
  static std::string seen;
  seen.clear();
  Stub float_round(TYPE_FLOAT, action::ROUND,
                   reinterpret_cast<datatype::AnyFn>(
                       +[](Cell* v, Cell* s, const action::RoundOptions& options) {
                         seen = show(*v) + " " + show(*s) + (options.even ? " even" : "");
                       }));
  Cell* value = stack::push_copy(n(1234));
  Cell* scale = stack::push_copy(real(0.5));
  datatype::lookup<action::ROUND>(TYPE_INTEGER)(value, scale, {.even = true});
  EXPECT_EQ(seen, "f:1234 f:0.5 even");
  Cell money{TYPE_MONEY, 0, 0, 0};
  EXPECT_EQ(guarded([&] {
              datatype::lookup<action::ROUND>(TYPE_INTEGER)(value, &money, {});
            }),
            "script/not-related");
}

TEST_F(IntegerTest, Compare) {
  struct Case {
    Cell a, b;
    int32_t op;
    int32_t expected;
  } const cases[] = {
      {n(1), chr(1), action::EQUAL, 0},
      {n(1), chr(1), action::STRICT_EQUAL, 1},
      {n(1), chr(1), action::FIND_EQUAL, 1},
      {n(3), n(3), action::STRICT_EQUAL, 0},
      {n(INT_MIN), n(INT_MAX), action::LESSER, -1},  // no difference taken: it would wrap
      {n(INT_MAX), n(INT_MIN), action::GREATER, 1},
      {n(98), chr('a'), action::GREATER, 1},
      {n(5), constants::true_value, action::EQUAL, action::kNotComparable},
      {n(5), real(5.0), action::STRICT_EQUAL, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compare(c.a, c.b, c.op), c.expected)
        << show(c.a) << " " << show(c.b) << " op " << c.op;
  }
}

TEST_F(IntegerTest, CompareWithAFloatIsFloatComparison) {
  static std::string seen;
  seen.clear();
  Stub float_compare(TYPE_FLOAT, action::COMPARE,
                     reinterpret_cast<datatype::AnyFn>(+[](Cell* a, Cell* b, int32_t op) {
                       seen = show(*a) + " " + show(*b) + " op " + std::to_string(op);
                       return int32_t{-1};
                     }));
  Cell* a = stack::push_copy(n(7));
  Cell* b = stack::push_copy(real(7.5, TYPE_TIME));
  EXPECT_EQ(datatype::lookup<action::COMPARE>(TYPE_INTEGER)(a, b, action::LESSER), -1);
  EXPECT_EQ(seen, "f:7 t:7.5 op 3");
  EXPECT_EQ(show(*a), "7");  // the integer itself is left alone
}

TEST_F(IntegerTest, ConversionsToInteger) {
  struct Case {
    action::Slot slot;
    Cell spec;
    const char* expected;
  };
  const Cell e = binary({}), b12 = binary({1, 2}), b5 = binary({1, 2, 3, 4, 5}),
             at1 = binary({0xFF, 1, 2}, 1), bff = binary({0xFF, 0xFF, 0xFF, 0xFF});
  const Case cases[] = {
      {action::TO, n(-4), "-4"},
      {action::TO, chr(65), "65"},
      {action::TO, real(2147483647.0), "2147483647"},
      {action::TO, real(-2147483648.0), "-2147483648"},
      {action::TO, real(-2.7), "-2"},
      {action::TO, real(2147483647.5), "script/type-limit"},
      {action::TO, real(-2147483648.5), "script/type-limit"},
      {action::TO, real(1e300), "script/type-limit"},
      {action::TO, real(INFINITY), "script/type-limit"},
      {action::TO, real(-INFINITY), "script/type-limit"},
      {action::TO, real(NAN), "script/type-limit"},
      {action::TO, real(0.5, TYPE_PERCENT), "0"},
      {action::TO, real(150.0, TYPE_PERCENT), "150"},
      {action::TO, real(-1.2, TYPE_TIME), "0"},
      {action::TO, real(1.5, TYPE_TIME), "2"},
      {action::TO, real(2147483647.0, TYPE_TIME), "script/type-limit"},
      {action::TO, real(NAN, TYPE_TIME), "script/type-limit"},
      {action::TO, issue("FF"), "255"},
      {action::TO, issue("ff"), "255"},
      {action::TO, issue("7FFFFFFF"), "2147483647"},
      {action::TO, issue("FFFFFFFF"), "-1"},
      {action::TO, issue("123456789"), "script/invalid-data"},
      {action::TO, issue("12G"), "script/invalid-data"},
      {action::TO, b12, "258"},
      {action::TO, e, "0"},
      {action::TO, b5, "16909060"},
      {action::TO, at1, "258"},
      {action::TO, bff, "-1"},
      {action::TO, constants::true_value, "script/bad-to-arg"},
      {action::TO, constants::none, "script/bad-to-arg"},
      {action::MAKE, constants::true_value, "1"},
      {action::MAKE, constants::false_value, "0"},
      {action::MAKE, real(-2.7), "-2"},
      {action::MAKE, constants::none, "script/bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(convert(c.slot, TYPE_INTEGER, c.spec), c.expected)
        << (c.slot == action::MAKE ? "make " : "to ") << show(c.spec);
  }
}

TEST_F(IntegerTest, ConversionsFromText) {
  struct Case {
    const char* text;
    uint32_t index;
    const char* expected;
  } const cases[] = {
      {"12", 0, "12"},
      {"-2147483648", 0, "-2147483648"},
      {"+7", 0, "7"},
      {"1'000", 0, "1000"},
      {"x12", 1, "12"},
      {"\xE2\x82\xAC" "12", 1, "12"},  // a wide buffer
      {"1.5", 0, "script/bad-to-arg"},
      {"2147483648", 0, "script/bad-to-arg"},
      {"", 0, "script/bad-to-arg"},
      {"-", 0, "script/bad-to-arg"},
      {"12", 2, "script/bad-to-arg"},
      {"12 ", 0, "script/bad-to-arg"},
      {"\xD9\xA3", 0, "script/bad-to-arg"},  // a digit of another script is not a digit here
  };
  for (const Case& c : cases) {
    EXPECT_EQ(convert(action::TO, TYPE_INTEGER, text(c.text, c.index)), c.expected) << c.text;
  }
  Cell file = text("42");
  cell::set_type(file, TYPE_FILE);
  EXPECT_EQ(convert(action::TO, TYPE_INTEGER, file), "42");
}

TEST_F(IntegerTest, DecimalText) {
  struct Case {
    int32_t value;
    const char* text;
  } const cases[] = {
      {0, "0"}, {-5, "-5"}, {100, "100"}, {INT_MAX, "2147483647"}, {INT_MIN, "-2147483648"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form(n(c.value)), c.text);
    EXPECT_EQ(mold(n(c.value)), c.text);
  }
}

TEST_F(IntegerTest, CellOperations) {
  frames::mark_native(source_word("test-call"));
  integer::push(-3);
  integer::push(8);
  EXPECT_EQ(show(*stack::top_cell()), "8");
  EXPECT_EQ(integer::last_value(), -3);
  EXPECT_EQ(integer::last_value_or_zero(), -3);
  *stack::arg(0) = chr(9);
  EXPECT_EQ(integer::last_value(), 9);
  EXPECT_EQ(integer::last_value_or_zero(), 0);
  Cell flagged{TYPE_CHAR | cell::kNewLine, 0, 0, 0};
  integer::set_cell(&flagged, 4);
  EXPECT_EQ(flagged.header, TYPE_INTEGER | cell::kNewLine);
  integer::set_result(11);
  EXPECT_EQ(stack::arg(0)->header, uint32_t{TYPE_INTEGER});
  EXPECT_EQ(integer::sign(INT_MIN), -1);
  EXPECT_TRUE(integer::float_out_of_range(real(NAN)));
  EXPECT_FALSE(integer::float_out_of_range(real(-2147483648.0)));
  frames::unwind();
}

// Callers that want integer division (char!, tuple!) pass no result cell.
TEST_F(IntegerTest, CoreWithoutAResultCell) {
  EXPECT_EQ(integer::do_math(7, 2, integer::DIVIDE, nullptr), 3);
  EXPECT_EQ(integer::do_math(-7, 2, integer::DIVIDE, nullptr), -3);
  EXPECT_EQ(guarded([] { integer::do_math(INT_MAX, 1, integer::ADD, nullptr); }),
            "math/overflow");
}

}  // namespace
