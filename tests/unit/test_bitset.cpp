// bitset!: making from sizes, chars, strings, ranges and `not` blocks; the mold text; picks and
// pokes beyond the stored bits; growth with the right fill; the bitwise actions with plain and
// complemented operands; comparison, clear and remove; and the errors of bad specs.
#include <string>
#include <vector>

#include "byte_test_support.h"
#include "datatypes/bitset.h"

namespace {

class Bitset : public byte_test::ByteTest {
 protected:
  static Cell dash() { return source_word("-"); }
  static Cell not_word() { return source_word("not"); }
  static Cell none() { return constants::none; }

  static Cell* make(const Cell& spec, bool to = false) {
    Cell* s = stack::push_copy(spec);
    Cell* proto = stack::push_new();
    *proto = Cell{TYPE_DATATYPE, TYPE_BITSET, 0, 0};
    auto fn = to ? datatype::lookup<action::TO>(TYPE_BITSET)
                 : datatype::lookup<action::MAKE>(TYPE_BITSET);
    Cell* made = fn(proto, s, TYPE_BITSET);
    EXPECT_EQ(made, proto);
    return made;
  }
  static Cell* make_chars(const char* chars) { return make(*text(chars)); }

  static int32_t length(const Cell& b) {
    Cell c = b;
    return datatype::lookup<action::LENGTH_Q>(TYPE_BITSET)(&c);
  }
  static bool pick(const Cell& b, const Cell& index) {
    Cell* c = stack::push_copy(b);
    Cell* i = stack::push_copy(index);
    Cell* r = datatype::lookup<action::PICK>(TYPE_BITSET)(c, 0, i);
    EXPECT_EQ(cell::type_of(*r), TYPE_LOGIC);
    return r->w1;
  }
  static void poke(Cell* b, const Cell& index, const Cell& value) {
    Cell* i = stack::push_copy(index);
    Cell* v = stack::push_copy(value);
    datatype::lookup<action::POKE>(TYPE_BITSET)(b, 0, v, i);
  }
  static Cell* complement(const Cell& b) {
    return datatype::lookup<action::COMPLEMENT>(TYPE_BITSET)(stack::push_copy(b));
  }
  static int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    Cell x = a, y = b;
    return datatype::lookup<action::COMPARE>(TYPE_BITSET)(&x, &y, op);
  }

  static Cell* bitwise(int32_t op, const Cell& a, const Cell& b) {
    static int32_t current;
    current = op;
    return on_frame([] { bitset::do_bitwise(current); }, a, b);
  }
};

TEST_F(Bitset, MakeFromASizeRoundsUpToWholeBytes) {
  struct Case {
    Cell spec;
    int32_t length;
  } cases[] = {
      {integer(0), 0}, {integer(1), 8}, {integer(8), 8}, {integer(10), 16}, {integer(17), 24},
  };
  for (const Case& c : cases) {
    Cell* b = make(c.spec);
    EXPECT_EQ(length(*b), c.length) << c.spec.w2;
    EXPECT_EQ(mold(*b), "make bitset! #{" + std::string(size_t(c.length) / 4, '0') + "}");
  }
  Cell ten{TYPE_FLOAT, 0, 0, 0};
  cell::set_double(ten, 10.0);
  EXPECT_EQ(length(*make(ten)), 16);
}

TEST_F(Bitset, SpecsNameBitsMostSignificantFirst) {
  struct Case {
    const char* label;
    Cell* spec;
    const char* molded;
  };
  std::vector<Case> cases = {
      {"one integer", block_of({integer(0)}), "make bitset! #{80}"},
      {"range", block_of({integer(0), dash(), integer(7)}), "make bitset! #{FF}"},
      {"range and bit", block_of({integer(1), dash(), integer(3), integer(6)}),
       "make bitset! #{72}"},
      {"char range", block_of({chr('A'), dash(), chr('B')}), "make bitset! #{000000000000000060}"},
      {"string", text("ab"), "make bitset! #{00000000000000000000000060}"},
      {"string in block", block_of({*text("b"), integer(2)}),
       "make bitset! #{20000000000000000000000020}"},
      {"char", stack::push_copy(chr('A')), "make bitset! #{000000000000000040}"},
      {"empty block", block_of({}), "make bitset! #{}"},
      {"binary", bytes("\xA5\x01"), "make bitset! #{A501}"},
      {"not range", block_of({not_word(), integer(0), dash(), integer(3)}),
       "make bitset! [not #{F0}]"},
      {"not alone", block_of({not_word()}), "make bitset! [not #{}]"},
      {"not binary", block_of({not_word(), *bytes("\x0F")}), "make bitset! [not #{0F}]"},
  };
  for (const Case& c : cases) {
    Cell* b = make(*c.spec);
    EXPECT_EQ(mold(*b), c.molded) << c.label;
    EXPECT_EQ(form(*b), c.molded) << c.label;
  }
}

TEST_F(Bitset, NotBlocksDescribeTheMembersLeftOut) {
  Cell* b = make(*block_of({not_word(), chr('a'), dash(), chr('c')}));
  struct Case {
    Cell index;
    bool member;
  } cases[] = {
      {chr('a'), false}, {chr('b'), false}, {chr('c'), false}, {chr('d'), true},
      {chr('`'), true},  {integer(5000), true}, {chr(0x10FFFF), true},
  };
  for (const Case& c : cases) EXPECT_EQ(pick(*b, c.index), c.member) << c.index.w2;
  EXPECT_TRUE(bitset::complemented(*b));
}

// A spec whose head lies before its first element reads from the first element.
TEST_F(Bitset, ASpecHeadBeforeTheStartReadsFromTheStart) {
  Cell* spec = block_of({not_word(), chr('a')});
  spec->w1 = uint32_t(-2);
  Cell* b = make(*spec);
  EXPECT_TRUE(bitset::complemented(*b));
  EXPECT_FALSE(pick(*b, chr('a')));
  EXPECT_TRUE(pick(*b, chr('b')));
  Cell* raw = bytes("\x40");
  raw->w1 = uint32_t(-2);
  Cell* from_bytes = make(*raw);
  EXPECT_EQ(bitset::stored_bytes(*from_bytes), 1u);
  EXPECT_TRUE(pick(*from_bytes, integer(1)));
}

TEST_F(Bitset, BitsBeyondTheStoredOnesTakeTheComplementFlag) {
  Cell* plain = make(integer(8));
  Cell* inverted = complement(*plain);
  EXPECT_EQ(mold(*inverted), "make bitset! [not #{00}]");
  EXPECT_TRUE(pick(*inverted, integer(1000)));
  EXPECT_FALSE(pick(*plain, integer(1000)));
  EXPECT_TRUE(pick(*inverted, integer(3)));
  EXPECT_FALSE(pick(*plain, integer(3)));
  // complement makes a copy; negate turns the value itself.
  EXPECT_FALSE(bitset::complemented(*plain));
  Cell* negated = on_frame(datatype::lookup<action::NEGATE>(TYPE_BITSET), *plain);
  EXPECT_TRUE(bitset::complemented(*negated));
  EXPECT_TRUE(bitset::complemented(*plain));
}

TEST_F(Bitset, PokeClearsOnNoneFalseAndZeroAndSetsOnAnythingElse) {
  Cell zero_float{TYPE_FLOAT, 0, 0, 0};
  cell::set_double(zero_float, 0.0);
  struct Case {
    Cell value;
    bool member;
  } cases[] = {
      {constants::false_value, false}, {integer(0), false},        {none(), false},
      {zero_float, false},             {integer(1), true},         {constants::true_value, true},
      {chr('x'), true},
  };
  for (const Case& c : cases) {
    for (bool before : {false, true}) {
      Cell* b = make(integer(16));
      if (before) poke(b, integer(5), constants::true_value);
      poke(b, integer(5), c.value);
      EXPECT_EQ(pick(*b, integer(5)), c.member) << c.value.header << " from " << before;
      EXPECT_FALSE(pick(*b, integer(4)));
      EXPECT_EQ(length(*b), 16);
    }
  }
}

TEST_F(Bitset, GrowingFillsWithTheComplementFlag) {
  // A plain bitset grows with zeros to hold a bit set past its end.
  Cell* plain = make(integer(8));
  poke(plain, integer(100), constants::true_value);
  EXPECT_EQ(length(*plain), 104);
  EXPECT_TRUE(pick(*plain, integer(100)));
  EXPECT_FALSE(pick(*plain, integer(99)));
  EXPECT_FALSE(pick(*plain, integer(50)));
  // A complemented one grows with ones to hold a bit cleared past its end.
  Cell* inverted = complement(*make(integer(8)));
  poke(inverted, integer(100), constants::false_value);
  EXPECT_EQ(length(*inverted), 104);
  EXPECT_FALSE(pick(*inverted, integer(100)));
  EXPECT_TRUE(pick(*inverted, integer(99)));
  EXPECT_TRUE(pick(*inverted, integer(50)));
  // Setting past the end of a complemented one, or clearing past a plain one, grows nothing.
  poke(inverted, integer(5000), constants::true_value);
  poke(plain, integer(5000), constants::false_value);
  EXPECT_EQ(length(*inverted), 104);
  EXPECT_EQ(length(*plain), 104);
  // A string spec grows the bitset once to its highest code point.
  Cell* b = make(integer(0));
  Cell* s = text("z\xE4\xB8\xAD" "a");
  datatype::lookup<action::APPEND>(TYPE_BITSET)(b, s, -1, false, 1, true);
  EXPECT_EQ(length(*b), (0x4E2D / 8 + 1) * 8);
  for (uint32_t c : {uint32_t('a'), uint32_t('z'), 0x4E2Du}) EXPECT_TRUE(pick(*b, chr(c)));
  EXPECT_FALSE(pick(*b, chr('b')));
}

TEST_F(Bitset, FindIsTrueOnlyWhenEveryNamedBitIsAMember) {
  Cell* b = make_chars("abcxyz");
  struct Case {
    Cell* value;
    bool found;
  };
  std::vector<Case> cases = {
      {text("cab"), true},
      {text("cad"), false},
      {block_of({chr('a'), dash(), chr('c')}), true},
      {block_of({chr('a'), dash(), chr('d')}), false},
      {stack::push_copy(chr('y')), true},
      {stack::push_copy(integer(100000)), false},
  };
  for (const Case& c : cases) {
    Cell* target = stack::push_copy(*b);
    Cell* r = datatype::lookup<action::FIND>(TYPE_BITSET)(target, c.value, {});
    EXPECT_EQ(cell::type_of(*r), c.found ? TYPE_LOGIC : TYPE_NONE) << mold(*c.value);
  }
}

TEST_F(Bitset, BitwiseResultsHoldForEveryBitWhateverTheFlags) {
  Cell* two = make(*block_of({integer(0), integer(9)}));             // 2 bytes
  Cell* four = make(*block_of({integer(9), integer(30)}));           // 4 bytes
  Cell* all_but_9 = make(*block_of({not_word(), integer(9)}));       // complemented, 2 bytes
  struct Case {
    const char* label;
    int32_t op;
    Cell* a;
    Cell* b;
    int32_t length;
    std::vector<uint32_t> members;
    std::vector<uint32_t> non_members;
  };
  std::vector<Case> cases = {
      {"or", 5, two, four, 32, {0, 9, 30}, {1, 31, 1000}},
      {"and", 6, two, four, 16, {9}, {0, 30, 1000}},
      {"xor", 7, two, four, 32, {0, 30}, {9, 1000}},
      {"intersect keeps the longer length", 10, two, four, 32, {9}, {0, 30}},
      {"exclude", 11, four, two, 32, {30}, {0, 9}},
      {"unique", 8, two, four, 16, {0, 9}, {30}},
      {"and with complemented", 6, all_but_9, four, 32, {30}, {9, 0, 1000}},
      {"or with complemented", 5, all_but_9, four, 32, {0, 9, 30, 1000}, {}},
      {"xor with complemented", 7, all_but_9, four, 32, {0, 9, 1000}, {30}},
      {"exclude complemented", 11, four, all_but_9, 32, {9}, {30, 1000}},
  };
  for (const Case& c : cases) {
    Cell* r = bitwise(c.op, *c.a, *c.b);
    EXPECT_EQ(length(*r), c.length) << c.label;
    for (uint32_t bit : c.members) EXPECT_TRUE(pick(*r, integer(int32_t(bit)))) << c.label << bit;
    for (uint32_t bit : c.non_members) {
      EXPECT_FALSE(pick(*r, integer(int32_t(bit)))) << c.label << bit;
    }
  }
  EXPECT_EQ(raised_by([&] { bitwise(5, *two, integer(1)); }), "script/invalid-type");
}

TEST_F(Bitset, CompareOrdersByLengthThenFlagThenLastByte) {
  Cell* small = make(*block_of({integer(0)}));
  Cell* wide_low = make(*block_of({integer(0), integer(8)}));
  Cell* wide_high = make(*block_of({integer(9)}));
  Cell* inverted = complement(*make(*block_of({integer(0), integer(8)})));
  struct Case {
    const Cell* a;
    const Cell* b;
    int32_t op;
    int32_t expected;
  } cases[] = {
      {small, wide_low, action::LESSER, -1},
      {wide_low, small, action::LESSER, 1},
      {wide_low, inverted, action::LESSER, -1},
      {inverted, wide_low, action::LESSER, 1},
      {wide_high, wide_low, action::LESSER, -1},  // byte 1: 0x40 against 0x80
      {wide_low, wide_low, action::EQUAL, 0},
      {wide_low, wide_high, action::EQUAL, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(compare(*c.a, *c.b, c.op), c.expected);
  Cell* copy = stack::push_copy(*wide_low);
  datatype::lookup<action::COPY>(TYPE_BITSET)(copy, copy, nullptr, false, nullptr);
  EXPECT_EQ(compare(*copy, *wide_low, action::EQUAL), 0);
  EXPECT_NE(compare(*copy, *wide_low, action::SAME), 0);
  EXPECT_EQ(compare(*wide_low, *wide_low, action::SAME), 0);
  EXPECT_EQ(compare(*wide_low, integer(1), action::EQUAL), action::kNotComparable);
}

TEST_F(Bitset, ClearAndRemoveLeaveNonMembersInBothKinds) {
  for (bool inverted : {false, true}) {
    Cell* b = make(*block_of({integer(1), integer(4)}));
    if (inverted) b = complement(*b);
    Cell* part = stack::push_copy(integer(20));
    datatype::lookup<action::REMOVE>(TYPE_BITSET)(b, part, nullptr);
    EXPECT_FALSE(pick(*b, integer(20))) << inverted;
    EXPECT_EQ(pick(*b, integer(21)), inverted);
    datatype::lookup<action::CLEAR>(TYPE_BITSET)(b);
    for (int32_t bit : {0, 1, 4, 21, 5000}) EXPECT_FALSE(pick(*b, integer(bit))) << inverted;
  }
  Cell* b = make(integer(8));
  EXPECT_EQ(raised_by([&] { datatype::lookup<action::REMOVE>(TYPE_BITSET)(b, nullptr, nullptr); }),
            "script/missing-arg");
}

TEST_F(Bitset, BadSpecsRaiseTheirErrors) {
  Cell* none_cell = stack::push_copy(none());
  struct Case {
    const char* label;
    Cell* spec;
    bool to;
    const char* error;
  };
  std::vector<Case> cases = {
      {"range without end", block_of({chr('a'), dash()}), false, "script/past-end"},
      {"range end below start", block_of({chr('z'), dash(), chr('a')}), false, "script/past-end"},
      {"range end of another type", block_of({chr('a'), dash(), integer(100)}), false,
       "script/invalid-arg"},
      {"negative bit", block_of({integer(-1)}), false, "script/out-of-range"},
      {"negative size", stack::push_copy(integer(-8)), false, "script/out-of-range"},
      {"other word", block_of({source_word("foo")}), false, "script/invalid-arg"},
      {"none", none_cell, false, "script/bad-make-arg"},
      {"none to", none_cell, true, "script/bad-to-arg"},
      {"size to", stack::push_copy(integer(8)), true, "script/bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(raised_by([&] { make(*c.spec, c.to); }), c.error) << c.label;
  }
  Cell* b = make(integer(8));
  Cell* word = stack::push_copy(source_word("foo"));
  EXPECT_EQ(raised_by([&] {
              datatype::lookup<action::EVAL_PATH>(TYPE_BITSET)(b, word,
                                                              {.get = true, .last = true});
            }),
            "script/invalid-type");
}

TEST_F(Bitset, PathStepsReadAndWriteBits) {
  Cell* b = make(integer(8));
  Cell* element = stack::push_copy(chr(3));
  Cell* value = stack::push_copy(constants::true_value);
  auto step = datatype::lookup<action::EVAL_PATH>(TYPE_BITSET);
  step(b, element, {.value = value, .last = true});
  Cell* read = step(b, element, {.get = true, .last = true});
  EXPECT_EQ(cell::type_of(*read), TYPE_LOGIC);
  EXPECT_EQ(read->w1, 1u);
  EXPECT_EQ(mold(*b), "make bitset! #{10}");
}

TEST_F(Bitset, ToBinaryGivesTheStoredBytes) {
  Cell* b = make(*block_of({integer(0), integer(15)}));
  Cell* proto = stack::push_new();
  *proto = Cell{TYPE_DATATYPE, TYPE_BINARY, 0, 0};
  binary::to(proto, b, TYPE_BINARY);
  EXPECT_EQ(mold(*proto), "#{8001}");
  Cell* back = make(*proto);
  EXPECT_EQ(compare(*back, *b, action::EQUAL), 0);
}

}  // namespace
