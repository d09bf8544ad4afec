// path!, lit-path!, set-path!, get-path! (and paren!'s mold): make and to, form and mold with
// their decorations, part limits and paths inside themselves, and what they take from block!.
#include "callable_test_support.h"
#include "datatypes/path.h"
#include "datatypes/typeset.h"

namespace {

class Path : public callable_test::CallableTest {
 protected:
  static Cell* path_of(const char* text, uint8_t type = TYPE_PATH) {
    Cell* p = build(text);
    cell::set_type(*p, type);
    return p;
  }
};

TEST_F(Path, MakeCopiesABlockOrReservesRoom) {
  Cell percent{TYPE_PERCENT, 0, 0, 0};
  cell::set_double(percent, 0.5);
  Cell* source = build("a b c");
  struct Case {
    uint8_t type;
    Cell spec;
    const char* molded;
  } cases[] = {
      {TYPE_PATH, *source, "a/b/c"},
      {TYPE_LIT_PATH, *source, "'a/b/c"},
      {TYPE_SET_PATH, *path_of("x y", TYPE_GET_PATH), "x/y:"},
      {TYPE_GET_PATH, *path_of("p", TYPE_PAREN), ":p"},
      {TYPE_PATH, integer(0), ""},
      {TYPE_PATH, integer(10), ""},
      {TYPE_PATH, percent, ""},
  };
  for (const Case& c : cases) {
    Cell* made = make_value(c.type, c.spec);
    EXPECT_EQ(cell::type_of(*made), c.type);
    EXPECT_EQ(mold(*made), c.molded);
  }
  Cell* copy = make_value(TYPE_PATH, *source);
  block::append_cell(*source, *source);  // the path keeps its own cells
  EXPECT_EQ(block::rest_length(*copy), 3);
  EXPECT_NE(copy->w2, source->w2);
  for (Cell spec : {constants::none, Cell{TYPE_CHAR, 0, 'x', 0}}) {
    EXPECT_EQ(raised_by([&] { make_value(TYPE_PATH, spec); }), "script/bad-make-arg");
  }
}

TEST_F(Path, ToWrapsAValueOrCopiesABlock) {
  Cell types = typeset::empty();
  typeset::set(types, TYPE_INTEGER);
  Cell* wrapped = make_value<action::TO>(TYPE_PATH, types);
  EXPECT_EQ(block::rest_length(*wrapped), 1);
  EXPECT_EQ(cell::type_of(*cell::block_head(*wrapped)), TYPE_TYPESET);
  EXPECT_EQ(mold(*make_value<action::TO>(TYPE_SET_PATH, *build("a b"))), "a/b:");
  Cell* word = make_value<action::TO>(TYPE_GET_PATH, *at(*build("w"), {0}));
  EXPECT_EQ(mold(*word), ":w");
}

TEST_F(Path, MoldAndFormDecorateByType) {
  struct Case {
    const char* text;
    uint8_t type;
    bool only;
    const char* molded;
    const char* formed;
  } cases[] = {
      {"a b c", TYPE_PATH, false, "a/b/c", "a/b/c"},
      {"a b", TYPE_SET_PATH, false, "a/b:", "a/b"},
      {"a b", TYPE_GET_PATH, false, ":a/b", "a/b"},
      {"a b", TYPE_LIT_PATH, false, "'a/b", "a/b"},
      {"a (b c) [d] 'e", TYPE_PATH, false, "a/(b c)/[d]/'e", "a/b c/d/e"},
      {"a (b c) [d]", TYPE_PATH, true, "a/(b c)/[d]", "a/b c/d"},
      {"a\nb", TYPE_PATH, false, "a/b", "a/b"},
      {"a (b c)", TYPE_PAREN, false, "(a (b c))", "a b c"},
      {"a (b c)", TYPE_PAREN, true, "a (b c)", "a b c"},
  };
  for (const Case& c : cases) {
    Cell* p = path_of(c.text, c.type);
    EXPECT_EQ(mold(*p, c.only), c.molded) << c.text;
    EXPECT_EQ(form(*p), c.formed) << c.text;
  }
}

TEST_F(Path, APartLimitStopsBetweenElements) {
  Cell* p = path_of("a b c d");
  EXPECT_EQ(mold(*p, false, false, 3), "a/b");
  EXPECT_EQ(mold(*p, false, false, 1), "a");
  EXPECT_EQ(mold(*path_of("a b", TYPE_SET_PATH), false, false, 100), "a/b:");
}

TEST_F(Path, APathInsideItselfPrintsAnEllipsis) {
  Cell* p = path_of("a b");
  block::append_cell(*p, *p);
  EXPECT_EQ(form(*p), "a/b/...");
  EXPECT_EQ(mold(*p), "a/b/...");
  Cell* set = path_of("s");
  block::append_cell(*set, *set);
  cell::set_type(*set, TYPE_SET_PATH);
  EXPECT_EQ(mold(*set), "s/...:");
  EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Path, RowsComeFromBlock) {
  using namespace action;
  for (uint8_t type : {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}) {
    SCOPED_TRACE(datatype::name_of(type));
    EXPECT_EQ(datatype::parent_of(type), type == TYPE_PATH ? TYPE_BLOCK : TYPE_PATH);
    EXPECT_EQ(datatype::lookup<COPY>(type), datatype::lookup<COPY>(TYPE_BLOCK));
    EXPECT_EQ(datatype::lookup<INSERT>(type), datatype::lookup<INSERT>(TYPE_BLOCK));
    EXPECT_EQ(datatype::lookup<MOLD>(type), datatype::lookup<MOLD>(TYPE_PATH));
    EXPECT_NE(datatype::lookup<MOLD>(type), datatype::lookup<MOLD>(TYPE_BLOCK));
    EXPECT_EQ(datatype::lookup<TRIM>(type), nullptr);  // block! trims, a path does not
    EXPECT_EQ(datatype::lookup<RANDOM>(type), nullptr);
  }
  // A copy keeps the path's type.
  Cell* p = path_of("a b", TYPE_GET_PATH);
  Cell* copy = stack::push_copy(constants::none);
  datatype::lookup<COPY>(TYPE_GET_PATH)(p, copy, nullptr, false, nullptr);
  EXPECT_EQ(mold(*copy), ":a/b");
}

TEST_F(Path, InitEmpty) {
  Cell* empty = stack::push_copy(Cell{TYPE_INTEGER | cell::kNewLine, 1, 2, 3});
  path::init_empty(empty, 0);
  EXPECT_EQ(empty->header, uint32_t(TYPE_PATH));
  EXPECT_EQ(block::rest_length(*empty), 0);
  block::append_cell(*empty, integer(5));
  EXPECT_EQ(mold(*empty), "5");
}

}  // namespace
