// typeset!: members, form and mold, make and to, the set operations, compare, find, to-block and
// the builders of function specs.
#include <initializer_list>
#include <string>

#include "datatypes/cell_ops.h"
#include "datatypes/error.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/typeset.h"
#include "interpreter/frames.h"
#include "word_test_support.h"

namespace {

using word_test::WordTest;

class Typeset : public WordTest {
 protected:
  void SetUp() override {
    WordTest::SetUp();
    for (uint8_t type : {TYPE_INTEGER, TYPE_STRING, TYPE_BLOCK, TYPE_NONE, TYPE_OBJECT}) {
      Cell word = *datatype::name_word(type);
      context::put_word_value(context::global, word, Cell{TYPE_DATATYPE, type, 0, 0});
    }
  }

  static Cell of(std::initializer_list<uint8_t> types) {
    Cell t = typeset::empty();
    for (uint8_t type : types) typeset::set(t, type);
    return t;
  }
  static Cell datatype_cell(uint8_t type) { return Cell{TYPE_DATATYPE, type, 0, 0}; }
  // The names of the registered types in id order, for the sets that hold all of them.
  static std::string names(uint8_t skipped) {
    std::string text;
    for (uint32_t type = 1; type <= datatype::highest_type(); type++) {
      if (type == skipped || !datatype::name_of(uint8_t(type))) continue;
      text += (text.empty() ? "" : " ") + std::string(datatype::name_of(uint8_t(type)));
    }
    return text;
  }
  static uint32_t registered() {
    uint32_t n = 0;
    for (uint32_t type = 1; type <= datatype::highest_type(); type++) {
      n += datatype::name_of(uint8_t(type)) != nullptr;
    }
    return n;
  }
  // Runs the set operation on a frame holding the two operands; the result is arguments[0].
  static Cell bitwise(int32_t op, const Cell& a, const Cell& b) {
    Cell* saved = stack::args;
    stack::args = stack::top;
    stack::push_copy(a);
    stack::push_copy(b);
    typeset::do_bitwise(op);
    Cell result = *stack::arg(0);
    stack::top = stack::args;
    stack::args = saved;
    return result;
  }
  // A block of words bound as loaded code is: to the global context's words.
  static Cell* bound(const char* text) {
    Cell* block = build(text);
    context::bind_block(*block, context::global, false);
    return block;
  }
  static Cell* make(const Cell& spec) {
    Cell* s = stack::push_copy(spec);
    Cell proto = datatype_cell(TYPE_TYPESET);
    return datatype::lookup<action::MAKE>(TYPE_TYPESET)(&proto, s, TYPE_TYPESET);
  }
  static bool same(const Cell& a, const Cell& b) {
    return a.header == b.header && a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
  }
};

TEST_F(Typeset, AnEmptySetMoldsAsTheBareConstructorAndFormsAsNothing) {
  EXPECT_EQ(mold(typeset::empty()), "make typeset! []");
  EXPECT_EQ(form(typeset::empty()), "");
  EXPECT_EQ(typeset::count(typeset::empty()), 0u);
  EXPECT_EQ(mold(of({TYPE_STRING, TYPE_LOGIC})), "make typeset! [logic! string!]");
  EXPECT_EQ(form(of({TYPE_STRING, TYPE_LOGIC})), "logic! string!");
}

TEST_F(Typeset, TheComplementOfTheEmptySetHoldsEveryRegisteredType) {
  Cell all = typeset::empty();
  datatype::lookup<action::COMPLEMENT>(TYPE_TYPESET)(&all);
  EXPECT_EQ(typeset::count(all), registered());
  EXPECT_EQ(form(all), names(0));
  EXPECT_EQ(mold(all), "make typeset! [" + names(0) + "]");
  datatype::lookup<action::COMPLEMENT>(TYPE_TYPESET)(&all);
  EXPECT_TRUE(same(all, typeset::empty()));
}

TEST_F(Typeset, FormStopsWhenThePartBudgetRunsOut) {
  Cell* out = stack::push_new();
  *out = constants::none;
  string::init_empty(out, 16);
  Cell set = of({TYPE_UNSET, TYPE_NONE, TYPE_LOGIC});
  int32_t left = datatype::lookup<action::FORM>(TYPE_TYPESET)(&set, out, nullptr, 8);
  EXPECT_EQ(text_of(*out), "unset! none!");  // the third name would start past the budget
  EXPECT_EQ(left, 8 - 12);
}

TEST_F(Typeset, MakeAddsEachValueOfTheBlock) {
  Cell* made = make(*bound("integer! string!"));
  EXPECT_TRUE(same(*made, of({TYPE_INTEGER, TYPE_STRING})));
  EXPECT_EQ(form(*made), "string! integer!");

  Cell* spec = bound("none!");
  block::append_cell(*spec, of({TYPE_LOGIC}));
  block::append_cell(*spec, datatype_cell(TYPE_PAIR));
  EXPECT_TRUE(same(*make(*spec), of({TYPE_NONE, TYPE_LOGIC, TYPE_PAIR})));
  Cell existing = of({TYPE_BLOCK});
  EXPECT_TRUE(same(*make(existing), existing));

  EXPECT_EQ(raised_by([&] { make(*bound("integer! typeset-test-not-a-type")); }),
            "script/no-value");
  Cell word = source_word("typeset-test-word-value");
  context::put_word_value(context::global, word, source_word("elsewhere"));
  EXPECT_EQ(raised_by([&] { make(*bound("typeset-test-word-value")); }), "script/invalid-arg");
  EXPECT_EQ(raised_by([&] { make(integer(3)); }), "script/bad-to-arg");
}

TEST_F(Typeset, FindTellsWhetherADatatypeIsAMember) {
  Cell set = of({TYPE_INTEGER, TYPE_BLOCK});
  EXPECT_TRUE(typeset::find(set, datatype_cell(TYPE_INTEGER)));
  EXPECT_FALSE(typeset::find(set, datatype_cell(TYPE_STRING)));
  EXPECT_EQ(raised_by([&] { typeset::find(set, source_word("integer!")); }),
            "script/invalid-arg");
  auto find = datatype::lookup<action::FIND>(TYPE_TYPESET);
  Cell type = datatype_cell(TYPE_BLOCK);
  Cell* result = find(&set, &type, {});
  EXPECT_EQ(cell::type_of(*result), TYPE_LOGIC);
  EXPECT_EQ(result->w1, 1u);
}

TEST_F(Typeset, SetOperationsCombineTheMembers) {
  const Cell a = of({TYPE_INTEGER, TYPE_STRING});
  const Cell b = of({TYPE_STRING, TYPE_BLOCK});
  struct Case {
    int32_t op;
    Cell expected;
  };
  const Case cases[] = {
      {5, of({TYPE_INTEGER, TYPE_STRING, TYPE_BLOCK})},
      {9, of({TYPE_INTEGER, TYPE_STRING, TYPE_BLOCK})},
      {6, of({TYPE_STRING})},
      {10, of({TYPE_STRING})},
      {7, of({TYPE_INTEGER, TYPE_BLOCK})},
      {12, of({TYPE_INTEGER, TYPE_BLOCK})},
      {11, of({TYPE_INTEGER})},
      {8, a},
  };
  for (const Case& c : cases) EXPECT_TRUE(same(bitwise(c.op, a, b), c.expected)) << c.op;

  EXPECT_TRUE(same(bitwise(5, a, datatype_cell(TYPE_PAIR)),
                   of({TYPE_INTEGER, TYPE_STRING, TYPE_PAIR})));
  EXPECT_EQ(raised_by([&] { bitwise(5, a, integer(1)); }), "script/invalid-arg");
}

TEST_F(Typeset, CompareTellsEqualityAndOrdersByCountOnly) {
  auto compare = datatype::lookup<action::COMPARE>(TYPE_TYPESET);
  Cell one = of({TYPE_INTEGER}), other = of({TYPE_STRING}), two = of({TYPE_INTEGER, TYPE_BLOCK});
  Cell same_as_one = one;
  Cell type = datatype_cell(TYPE_INTEGER);
  struct Case {
    Cell* a;
    Cell* b;
    int32_t op;
    int32_t expected;
  };
  const Case cases[] = {
      {&one, &same_as_one, action::EQUAL, 0},
      {&one, &other, action::EQUAL, 1},
      {&one, &other, action::NOT_EQUAL, 1},
      {&one, &same_as_one, action::STRICT_EQUAL, 0},
      {&one, &same_as_one, action::SAME, 0},
      {&one, &other, action::FIND_EQUAL, 1},
      {&one, &two, action::SORT_ORDER, -1},
      {&two, &one, action::SORT_CASE_ORDER, 1},
      {&one, &other, action::SORT_ORDER, 0},
      {&one, &two, action::LESSER, action::kNotComparable},
      {&one, &two, action::GREATER_OR_EQUAL, action::kNotComparable},
      {&one, &type, action::EQUAL, action::kNotComparable},
  };
  for (const Case& c : cases) EXPECT_EQ(compare(c.a, c.b, c.op), c.expected) << c.op;
}

TEST_F(Typeset, SpecTypeBlocksBuildTheArgumentTypesets) {
  Cell word = source_word("typeset-test-word-value");
  context::put_word_value(context::global, word, source_word("elsewhere"));
  Cell set_word = source_word("typeset-test-set-value");
  context::put_word_value(context::global, set_word, of({TYPE_PAIR, TYPE_TIME}));
  struct Case {
    const char* types;
    Cell expected;
    const char* refused;
  };
  const Case cases[] = {
      {"integer! string!", of({TYPE_INTEGER, TYPE_STRING}), ""},
      {"integer! [nested things] block!", of({TYPE_INTEGER, TYPE_BLOCK}), ""},
      {"typeset-test-word-value", of({TYPE_OBJECT}), ""},
      {"none! typeset-test-set-value", of({TYPE_NONE, TYPE_PAIR, TYPE_TIME}), ""},
      {"", typeset::empty(), ""},
      {"integer! typeset-test-never-defined", typeset::empty(), "typeset-test-never-defined"},
      {"'integer!", typeset::empty(), "'integer!"},
  };
  for (const Case& c : cases) {
    Cell* types = build(c.types);
    Cell* holder = block::push_new(2);
    Cell* raised = nullptr;
    uint32_t code = frames::try_catch(runtime_words::words.try_, [&] {
      typeset::append_from_spec(*holder, *types);
    });
    if (code) raised = stack::top - 1;
    if (*c.refused) {
      ASSERT_NE(raised, nullptr) << c.types;
      EXPECT_STREQ(rt::raised.id, "invalid-type-spec");
      EXPECT_EQ(mold(*error::field(*raised, error::kArg1)), c.refused);
      continue;
    }
    ASSERT_EQ(raised, nullptr) << c.types;
    EXPECT_TRUE(same(*cell::block_head(*holder), c.expected)) << c.types;
  }
}

TEST_F(Typeset, TheOtherBuildersAppendTheirSets) {
  Cell* holder = block::push_new(2);
  typeset::append_bits(*holder, 0x01020304, 0x05060708, 0x090A0B0C);
  typeset::append_all_but_unset(*holder);
  const Cell* bits = cell::block_head(*holder);
  EXPECT_TRUE(same(bits[0], Cell{TYPE_TYPESET, 0x01020304, 0x05060708, 0x090A0B0C}));
  EXPECT_EQ(typeset::count(bits[1]), registered() - 1u);
  EXPECT_FALSE(cell::typeset_has(bits[1], TYPE_UNSET));
  EXPECT_EQ(form(bits[1]), names(TYPE_UNSET));
}

TEST_F(Typeset, ToBlockListsTheTypeNameWordsInIdOrder) {
  Cell* destination = stack::push_copy(constants::none);  // marked while to_block allocates
  typeset::to_block(of({TYPE_BLOCK, TYPE_NONE, TYPE_TYPESET}), destination);
  EXPECT_EQ(cell::type_of(*destination), TYPE_BLOCK);
  EXPECT_EQ(mold(*destination), "[none! block! typeset!]");
  const Cell* first = cell::block_head(*destination);
  EXPECT_EQ(cell::type_of(*first), TYPE_WORD);
  typeset::to_block(typeset::empty(), destination);
  EXPECT_EQ(mold(*destination), "[]");
}

TEST_F(Typeset, ClearEmptiesTheSet) {
  Cell set = of({TYPE_INTEGER, TYPE_POINT3D});
  EXPECT_EQ(typeset::count(set), 2u);
  typeset::clear(set);
  EXPECT_TRUE(same(set, typeset::empty()));
}

}  // namespace
