// float!, percent! and triple!: form and mold texts, the text modes other types print with,
// conversions, the tolerant comparison, arithmetic and its result types when mixed with
// integer! and char!, division by zero, power, round and its refinements, even?/odd?.
// Actions run as their dispatcher runs them: on a native frame named by the action's word.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "interpreter/frames.h"
#include "number_test_support.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

class FloatTest : public number_test::NumberTest {
 protected:
  void TearDown() override {
    float_::set_pretty(true);
    NumberTest::TearDown();
  }

  static Cell F(double x) { return real(x); }
  static Cell P(double x) { return real(x, TYPE_PERCENT); }
  static Cell T(double seconds) { return real(seconds, TYPE_TIME); }
  static Cell I(int32_t n) { return integer(n); }

  // round as its dispatcher calls it: the scale cell (null without /to) and the flags named.
  static Cell round(Cell value, const Cell* scale, const std::string& flags) {
    frames::mark_native(source_word("round"));
    Cell* v = stack::push_copy(value);
    Cell* s = scale ? stack::push_copy(*scale) : nullptr;
    auto has = [&](const char* f) { return flags.find(f) != std::string::npos; };
    datatype::lookup<action::ROUND>(cell::type_of(value))(
        v, s,
        {.even = has("even"), .down = has("down") && !has("half-down"),
         .half_down = has("half-down"), .floor = has("floor"),
         .ceiling = has("ceiling") && !has("half-ceiling"), .half_ceiling = has("half-ceiling")});
    Cell result = *stack::arg(0);
    frames::unwind();
    return result;
  }

  // The comparison's truth as the comparison natives decide it.
  static bool holds(const Cell& a, const Cell& b, int32_t op) {
    int32_t r = compare(a, b, op);
    switch (op) {
      case action::NOT_EQUAL: return r != 0;
      case action::LESSER: return r < 0;
      case action::LESSER_OR_EQUAL: return r <= 0;
      case action::GREATER: return r > 0;
      case action::GREATER_OR_EQUAL: return r >= 0;
      default: return r == 0;
    }
  }

  static std::string float_text(double value, float_::TextMode mode) {
    char out[float_::kTextSize];
    int32_t n = float_::to_text(value, mode, out);
    EXPECT_EQ(n, static_cast<int32_t>(std::strlen(out)));
    return out;
  }
};

TEST_F(FloatTest, FormAndMold) {
  struct Case {
    Cell value;
    const char* form;
    const char* mold;
  };
  const std::vector<Case> cases = {
      {F(1.0), "1.0", "1.0"},
      {F(1e20), "1.0e20", "1.0e20"},
      {F(1e-5), "1.0e-5", "0.00001"},
      {F(0.1), "0.1", "0.1"},
      {F(0.1 + 0.2), "0.3", "0.30000000000000004"},  // form shows 16 digits, mold all it needs
      {F(4.35 * 100), "435.0", "434.99999999999994"},  // "99" ending: printed again shorter
      {F(1e-17), "0.0", "1.0e-17"},                    // below the double epsilon
      {F(-1.5e-10), "-1.5e-10", "-1.5e-10"},
      {F(123456789012345678.0), "1.234567890123457e17", "1.2345678901234568e17"},
      {F(kInf), "1.#INF", "1.#INF"},
      {F(-kInf), "-1.#INF", "-1.#INF"},
      {F(std::nan("")), "1.#NaN", "1.#NaN"},
      {F(-0.0), "0.0", "-0.0"},
      {P(0.5), "50%", "50%"},
      {P(0.0), "0%", "0%"},
      {P(0.125), "12.5%", "12.5%"},
      {P(-0.015), "-1.5%", "-1.5%"},
      {P(1e-20), "0%", "0%"},
      {triple::make(1, -2, 3), "make triple! [1 -2 3]", "make triple! [1 -2 3]"},
      {triple::make(7, 7, 7), "make triple! [7 7 7]", "make triple! [7 7 7]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form(c.value), c.form) << c.mold;
    EXPECT_EQ(mold(c.value), c.mold) << c.form;
  }
}

TEST_F(FloatTest, TextModes) {
  using float_::TextMode;
  struct Case {
    double value;
    TextMode mode;
    bool pretty;
    const char* text;
  };
  const std::vector<Case> cases = {
      {0.1, float_::kSingle, true, "0.1"},
      {3.14159274, float_::kSingle, true, "3.141593"},
      {2.0, float_::kSingle, true, "2.0"},
      {50.0, float_::kSinglePercent, true, "50%"},
      {1.5, float_::kTimeSeconds, true, "1.5"},
      {2.0, float_::kTimeSeconds, true, "2"},  // time seconds get no ".0"
      {1.0 / 3, float_::kTimeSeconds, true, "0.333333"},
      {1.234567890123499e20, float_::kDouble, true, "1.2345678901235e20"},
      {1.234567890123499e20, float_::kDouble, false, "1.234567890123499e20"},
      {4.35 * 100, float_::kDouble, false, "434.9999999999999"},
      {1e-17, float_::kDouble, false, "1.0e-17"},
      {1e-20, float_::kPercent, false, "1e-20%"},
      {1e300, float_::kDouble, true, "1.0e300"},
      {-kInf, float_::kPercent, true, "-1.#INF"},
  };
  for (const Case& c : cases) {
    float_::set_pretty(c.pretty);
    EXPECT_EQ(float_text(c.value, c.mode), c.text) << c.value << " mode " << c.mode;
  }
}

TEST_F(FloatTest, MakeAndTo) {
  Cell* mantissa_exponent = build("");
  block::append_cell(*mantissa_exponent, F(1.5));
  block::append_cell(*mantissa_exponent, I(2));
  Cell* decimal_digits = build("");
  block::append_cell(*decimal_digits, F(1.1));
  block::append_cell(*decimal_digits, I(2));
  Cell* negative_exponent = build("");
  block::append_cell(*negative_exponent, I(15));
  block::append_cell(*negative_exponent, F(-1.0));
  Cell* three = build("");
  for (int i = 0; i < 3; i++) block::append_cell(*three, I(i));
  Cell* with_word = build("a");
  block::append_cell(*with_word, I(1));
  Cell file = text("1'000,5");
  cell::set_type(file, TYPE_FILE);  // every text type reads the same

  struct Case {
    uint8_t type;
    Cell spec;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {TYPE_FLOAT, I(-3), "f:-3"},
      {TYPE_FLOAT, chr('A'), "f:65"},
      {TYPE_FLOAT, P(0.5), "f:0.5"},
      {TYPE_PERCENT, F(0.5), "p:0.5"},
      {TYPE_FLOAT, T(90.5), "f:90.5"},
      // Up to 8 bytes from the position, big-endian; fewer fill the low-order end.
      {TYPE_FLOAT, binary({0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xAA}), "f:1"},
      {TYPE_FLOAT, binary({0xFF, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, 1), "f:1"},
      {TYPE_FLOAT, binary({1}), "f:4.9406564584124654e-324"},
      {TYPE_FLOAT, binary({}), "f:0"},
      // [mantissa exponent]: read as decimal digits, so [1.1 2] is exactly 110.0.
      {TYPE_FLOAT, *mantissa_exponent, "f:150"},
      {TYPE_FLOAT, *decimal_digits, "f:110"},
      {TYPE_FLOAT, *negative_exponent, "f:1.5"},
      {TYPE_PERCENT, *mantissa_exponent, "p:150"},
      {TYPE_FLOAT, *three, "script/bad-to-arg"},
      {TYPE_FLOAT, *with_word, "script/bad-to-arg"},
      {TYPE_FLOAT, constants::none, "script/bad-to-arg"},
      {TYPE_FLOAT, constants::true_value, "script/bad-to-arg"},
      // Text: the lexer's float syntax, "," read as ".", "'" separators skipped.
      {TYPE_FLOAT, text("1.5"), "f:1.5"},
      {TYPE_FLOAT, text("-2e3"), "f:-2000"},
      {TYPE_FLOAT, text("0.1"), "f:0.10000000000000001"},
      {TYPE_FLOAT, text("x1.5", 1), "f:1.5"},
      {TYPE_FLOAT, file, "f:1000.5"},
      {TYPE_FLOAT, text(""), "script/bad-to-arg"},
      {TYPE_FLOAT, text("abc"), "script/bad-to-arg"},
      {TYPE_FLOAT, text("1.5x"), "script/bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(convert(action::MAKE, c.type, c.spec), c.expected) << show(c.spec);
    EXPECT_EQ(convert(action::TO, c.type, c.spec), c.expected) << show(c.spec);
  }
}

TEST_F(FloatTest, Cells) {
  EXPECT_EQ(mold(*float_::push_halves(0x3FF00000, 0)), "1.0");
  Cell* block = build("");
  float_::append_to_block(block, 0xC0040000, 0);
  percent::append_to_block(block, 0x3FE00000, 0);
  EXPECT_EQ(mold(*block), "[-2.5 50%]");
  Cell c = I(5);
  c.header |= cell::kNewLine;
  percent::make_at(&c, 0.25);
  EXPECT_EQ(cell::type_of(c), TYPE_PERCENT);
  EXPECT_TRUE(c.header & cell::kNewLine);
  EXPECT_EQ(mold(c), "25%");
  float_::make_at(&c, -0.5);
  EXPECT_EQ(show(c), "f:-0.5");
  EXPECT_TRUE(c.header & cell::kNewLine);
  frames::mark_native(source_word("test-call"));
  stack::push_copy(c);
  float_::set_result(0.25);
  EXPECT_EQ(stack::arg(0)->header, TYPE_FLOAT);  // a fresh result: no flags
  EXPECT_EQ(show(*stack::arg(0)), "f:0.25");
  frames::unwind();

  struct Rounded {
    double value;
    int32_t pixels;
  };
  for (const Rounded& r : std::vector<Rounded>{{1.5, 2},
                                               {1.49, 1},
                                               {0.49999999999999994, 0},
                                               {-1.7, -1},
                                               {1e20, INT32_MAX},
                                               {-1e20, INT32_MIN},
                                               {std::nan(""), 0}}) {
    EXPECT_EQ(float_::to_int_rounded(r.value), r.pixels) << r.value;
  }
  EXPECT_TRUE(float_::nan_q(std::nan("")));
  EXPECT_FALSE(float_::nan_q(kInf));
  EXPECT_TRUE(float_::special_q(-kInf));
  EXPECT_FALSE(float_::special_q(1e308));
  EXPECT_TRUE(float_::nan32_q(std::nanf("")));
  float one = 1.0f;
  float ten_up = one, eleven_up = one;
  for (int i = 0; i < 10; i++) ten_up = std::nextafter(ten_up, 2.0f);
  eleven_up = std::nextafter(ten_up, 2.0f);
  EXPECT_TRUE(float_::almost_equal32(one, ten_up));
  EXPECT_FALSE(float_::almost_equal32(one, eleven_up));
  EXPECT_TRUE(float_::almost_equal32(-0.0f, 0.0f));
}

TEST_F(FloatTest, Compare) {
  Cell sum = F(0.1 + 0.2);
  EXPECT_EQ(run(action::ADD, {F(0.1), F(0.2)}), show(sum));
  double one = 1.0;
  double ten_ulps = one, eleven_ulps = one;
  for (int i = 0; i < 10; i++) ten_ulps = std::nextafter(ten_ulps, 2.0);
  eleven_ulps = std::nextafter(ten_ulps, 2.0);
  const double nan = std::nan("");
  struct Case {
    Cell a, b;
    int32_t op;
    bool holds;
  };
  const std::vector<Case> cases = {
      {sum, F(0.3), action::EQUAL, true},
      {sum, F(0.3), action::STRICT_EQUAL, false},
      {sum, F(0.3), action::NOT_EQUAL, false},
      {F(one), F(ten_ulps), action::EQUAL, true},
      {F(one), F(eleven_ulps), action::EQUAL, false},
      {F(1e-17), F(0.0), action::EQUAL, true},  // within the double epsilon
      {F(1e-300), F(-1e-300), action::EQUAL, true},
      {F(1.7976931348623157e308), F(kInf), action::EQUAL, false},
      {F(kInf), F(kInf), action::EQUAL, true},
      {F(nan), F(nan), action::EQUAL, false},
      {F(nan), F(nan), action::NOT_EQUAL, true},
      {F(nan), F(1.0), action::LESSER, false},
      {F(nan), F(1.0), action::LESSER_OR_EQUAL, false},
      {F(nan), F(1.0), action::GREATER, false},
      {F(nan), F(1.0), action::GREATER_OR_EQUAL, false},
      {F(1.0), F(2.0), action::LESSER, true},
      {F(3.0), I(3), action::FIND_EQUAL, false},
      {F(2.0), F(2.0), action::GREATER_OR_EQUAL, true},
      {F(2.5), I(2), action::GREATER, true},
      {F(2.0), I(2), action::EQUAL, true},
      {F(2.0), I(2), action::STRICT_EQUAL, false},  // strict wants the same datatype
      {P(0.5), F(0.5), action::EQUAL, true},
      {P(0.5), F(0.5), action::STRICT_EQUAL, false},
      {F(0.0), F(-0.0), action::STRICT_EQUAL, true},
      {F(0.0), F(-0.0), action::SAME, false},
      {F(1.5), F(1.5), action::SAME, true},
      {F(90.0), T(90.0), action::EQUAL, true},
  };
  for (size_t i = 0; i < cases.size(); i++) {
    const Case& c = cases[i];
    EXPECT_EQ(holds(c.a, c.b, c.op), c.holds) << "case " << i << ": " << mold(c.a) << " op "
                                              << c.op << " " << mold(c.b);
  }
  // From the integer side: the integer is compared as a double.
  EXPECT_TRUE(holds(I(3), F(3.0), action::EQUAL));
  EXPECT_TRUE(holds(I(3), F(3.5), action::LESSER));
  EXPECT_EQ(compare(F(1.0), *build("a"), action::EQUAL), action::kNotComparable);
}

TEST_F(FloatTest, ArithmeticAndMixing) {
  // time! shares float!'s arithmetic; until time! registers, float!'s entries stand in.
  std::deque<NumberTest::Stub> time_rows;
  for (action::Slot slot : {action::ADD, action::SUBTRACT, action::MULTIPLY}) {
    if (!datatype::table[TYPE_TIME][slot - 1]) {
      time_rows.emplace_back(TYPE_TIME, slot, datatype::table[TYPE_FLOAT][slot - 1]);
    }
  }
  const double nan = std::nan("");
  const Cell pair = NumberTest::pair(1, 2);
  struct Case {
    action::Slot slot;
    Cell left, right;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {action::ADD, F(1.5), F(2.25), "f:3.75"},
      {action::SUBTRACT, F(1.5), I(2), "f:-0.5"},
      {action::MULTIPLY, F(1.5), chr(2), "f:3"},
      {action::DIVIDE, F(7.0), I(2), "f:3.5"},
      {action::REMAINDER, F(7.5), I(2), "f:1.5"},
      {action::REMAINDER, F(-7.5), I(2), "f:-1.5"},
      // Integers on the left go through integer!'s entries into the float arithmetic.
      {action::ADD, I(1), F(0.5), "f:1.5"},
      {action::SUBTRACT, I(1), F(0.25), "f:0.75"},
      {action::DIVIDE, I(1), F(4.0), "f:0.25"},
      {action::ADD, I(1), P(0.5), "f:1.5"},
      {action::POWER, I(2), I(-1), "f:0.5"},
      {action::AND_T, I(3), F(1.0), "script/cannot-use"},
      // Result types: percent! stays percent! on the left, time! wins when only one side is.
      {action::MULTIPLY, P(0.5), I(3), "p:1.5"},
      {action::ADD, P(0.5), P(0.25), "p:0.75"},
      {action::ADD, F(1.0), P(0.5), "f:1.5"},
      {action::ADD, F(1.0), T(60.0), "t:61"},
      {action::ADD, P(0.5), T(60.0), "t:60.5"},
      {action::MULTIPLY, T(60.0), I(2), "t:120"},
      {action::SUBTRACT, T(60.0), T(30.0), "t:30"},
      // Division by zero follows IEEE for floats; for integers it is an error.
      {action::DIVIDE, F(1.0), I(0), "f:inf"},
      {action::DIVIDE, F(-1.0), F(0.0), "f:-inf"},
      {action::DIVIDE, F(0.0), F(0.0), "f:nan"},
      {action::REMAINDER, F(1.0), I(0), "f:nan"},
      {action::DIVIDE, I(1), I(0), "math/zero-divide"},
      {action::REMAINDER, I(1), I(0), "math/zero-divide"},
      {action::REMAINDER, F(5.0), F(kInf), "f:5"},
      {action::REMAINDER, F(kInf), F(2.0), "f:nan"},
      {action::REMAINDER, F(5.0), F(nan), "f:nan"},
      {action::ADD, F(1e308), F(1e308), "f:inf"},
      {action::NEGATE, F(1.5), F(0), "f:-1.5"},
      {action::NEGATE, F(0.0), F(0), "f:0"},  // 0.0 minus the value: zero stays positive
      {action::NEGATE, P(0.5), F(0), "p:-0.5"},
      {action::ABSOLUTE, F(-2.5), F(0), "f:2.5"},
      {action::ABSOLUTE, F(-0.0), F(0), "f:0"},
      {action::POWER, F(2.0), I(10), "f:1024"},
      {action::POWER, F(4.0), F(0.5), "f:2"},
      {action::POWER, P(0.5), I(2), "p:0.25"},
      {action::POWER, F(2.0), P(0.5), "script/expect-arg"},
      // Operands the float arithmetic refuses.
      {action::ADD, F(1.0), constants::true_value, "script/invalid-type"},
      {action::ADD, P(0.5), chr('a'), "script/invalid-type"},
      {action::ADD, T(1.0), chr('a'), "script/invalid-type"},
      {action::ADD, T(1.0), pair, "script/invalid-type"},
      {action::SUBTRACT, F(1.0), pair, "script/not-related"},
      {action::DIVIDE, P(0.5), pair, "script/not-related"},
  };
  for (const Case& c : cases) {
    std::string got = run(c.slot, {c.left, c.right});
    if (got == "f:-nan") got = "f:nan";  // the sign of a NaN carries no meaning
    EXPECT_EQ(got, c.expected) << show(c.left) << " slot " << int(c.slot) << " " << show(c.right);
  }
}

TEST_F(FloatTest, CompoundOperandsGoToTheirType) {
  auto pair_add = stub<action::ADD>(TYPE_PAIR);
  auto pair_multiply = stub<action::MULTIPLY>(TYPE_PAIR);
  auto tuple_add = stub<action::ADD>(TYPE_TUPLE);
  auto money_divide = stub<action::DIVIDE>(TYPE_MONEY);
  // A pair comes first: its type computes pair op number.
  EXPECT_EQ(run(action::ADD, {F(1.5), pair(1, 2)}), "add(1x2 f:1.5)");
  handed.clear();
  EXPECT_EQ(run(action::MULTIPLY, {P(0.5), pair(1, 2)}), "multiply(1x2 p:0.5)");
  handed.clear();
  // tuple! and money! take the operands as they stand.
  EXPECT_EQ(run(action::ADD, {F(1.5), Cell{TYPE_TUPLE, 0, 0, 0}}), "add(f:1.5 tuple!)");
  handed.clear();
  EXPECT_EQ(run(action::DIVIDE, {F(1.5), Cell{TYPE_MONEY, 0, 0, 0}}), "divide(f:1.5 money!)");
}

TEST_F(FloatTest, OtherOperationCodes) {
  EXPECT_EQ(raised_by([&] {
              frames::mark_native(source_word("or~"));
              stack::push_copy(F(1.0));
              stack::push_copy(F(2.0));
              float_::do_math(integer::OR);
            }),
            "script/cannot-use");
}

TEST_F(FloatTest, Round) {
  const Cell hundredth = F(0.01), ten = I(10), half = F(0.5), one = I(1), percent = P(0.01),
             tenth_percent = P(0.001), tiny = F(1e-320), zero = F(0.0);
  struct Case {
    Cell value;
    const Cell* scale;
    const char* flags;
    const char* mold;
  };
  const std::vector<Case> cases = {
      {F(2.5), nullptr, "", "3.0"},
      {F(2.5), nullptr, "even", "2.0"},
      {F(3.5), nullptr, "even", "4.0"},
      {F(-2.5), nullptr, "", "-3.0"},
      {F(-2.5), nullptr, "half-down", "-2.0"},
      {F(2.5), nullptr, "half-down", "2.0"},
      {F(-2.5), nullptr, "half-ceiling", "-2.0"},
      {F(2.5), nullptr, "half-ceiling", "3.0"},
      {F(-2.7), nullptr, "down", "-2.0"},
      {F(-2.2), nullptr, "floor", "-3.0"},
      {F(-2.7), nullptr, "ceiling", "-2.0"},
      {F(2.2), nullptr, "ceiling", "3.0"},
      {F(2.4), nullptr, "", "2.0"},
      {F(-2.6), nullptr, "half-down", "-3.0"},  // only exact halves go toward zero
      {F(1234.5678), &hundredth, "", "1234.57"},
      {F(1234.5), &ten, "", "1230"},  // an integer! scale gives an integer!
      {F(1235.0), &ten, "even", "1240"},
      {F(1.3), &half, "", "1.5"},
      {F(-1.3), &half, "floor", "-1.5"},
      {F(1e300), nullptr, "", "1.0e300"},
      {F(9007199254740993.0), nullptr, "", "9007199254740992.0"},
      {F(5e-324), &one, "", "0"},
      {F(1e-310), &hundredth, "", "0.0"},
      {F(3e-320), &tiny, "", "3.0e-320"},  // a scale whose reciprocal overflows
      {F(1.5), &zero, "", "1.5"},            // a zero scale changes nothing
      {F(std::nan("")), nullptr, "", "1.#NaN"},
      {F(kInf), nullptr, "", "1.#INF"},
      {P(0.12345), nullptr, "", "12%"},
      {P(0.12345), &one, "", "12%"},  // a number scale counts in shown percent units
      {P(0.12345), &half, "", "12.5%"},
      {P(0.12345), &percent, "", "12%"},
      {P(0.12345), &tenth_percent, "", "12.3%"},
      {P(0.125), nullptr, "even", "12%"},
  };
  for (size_t i = 0; i < cases.size(); i++) {
    const Case& c = cases[i];
    Cell r = round(c.value, c.scale, c.flags);
    EXPECT_EQ(mold(r), c.mold) << "case " << i << ": " << mold(c.value) << " " << c.flags;
  }
  EXPECT_EQ(cell::type_of(round(F(1234.5), &ten, "")), TYPE_INTEGER);

  Cell money{TYPE_MONEY, 0, 0, 0};
  Cell big = I(1);
  Cell huge = F(1e308);
  EXPECT_EQ(raised_by([&] { round(F(1.5), &money, ""); }), "script/not-related");
  EXPECT_EQ(raised_by([&] { round(F(1e10), &big, ""); }), "math/overflow");
  EXPECT_EQ(raised_by([&] { round(F(1.7e308), &huge, ""); }), "math/overflow");
  // Integer rounding with a float scale is float rounding.
  EXPECT_EQ(mold(round(I(7), &half, "")), "7.0");
  EXPECT_EQ(mold(round(I(15), &ten, "")), "20");
}

TEST_F(FloatTest, EvenAndOdd) {
  struct Case {
    double value;
    bool even, odd;
  };
  const std::vector<Case> cases = {
      {3.7, false, true},  {-3.7, false, true},   {4.0, true, false},  {-0.5, true, false},
      {1e300, true, false}, {4294967297.0, false, true},  // the whole number, not 32 bits of it
      {std::nan(""), false, false}, {kInf, false, false},
  };
  for (const Case& c : cases) {
    Cell v = F(c.value);
    EXPECT_EQ(datatype::lookup<action::EVEN_Q>(TYPE_FLOAT)(&v), c.even) << c.value;
    EXPECT_EQ(datatype::lookup<action::ODD_Q>(TYPE_PERCENT)(&v), c.odd) << c.value;
  }
}

}  // namespace
