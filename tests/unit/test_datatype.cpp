// The datatype registry: inheritance of action slots down a chain of types, datatype! itself
// (form, mold, compare), and the form and mold entries of every type over a value that lies in a
// block buffer which moves while the output grows.
#include "child_process.h"
#include "datatypes/float.h"
#include "datatypes/typeset.h"
#include "word_test_support.h"

namespace {

using word_test::StressEveryAllocation;
using word_test::WordTest;

class Registry : public WordTest {};

// Two test types hung under block!, as path! and lit-path! are: a child that inherits a few
// slots and a grandchild that inherits from the child.
constexpr uint8_t kChild = TYPE_EVENT + 1;
constexpr uint8_t kGrandchild = TYPE_EVENT + 2;

Cell* child_pick(Cell*, int32_t, Cell*) { return nullptr; }

TEST_F(Registry, SlotsAreInheritedDownTheChainAndOthersStayUnsupported) {
  // The registry is shared by every suite: the test types live only in a child process.
  child_process::expect_passes([] {
    using namespace action;
    datatype::register_type(kChild, TYPE_BLOCK, "child!",
                            {datatype::inherit<MOLD>(), datatype::inherit<COMPARE>(),
                             datatype::inherit<APPEND>(), datatype::act<PICK>(child_pick)});
    datatype::register_type(kGrandchild, kChild, "grandchild!",
                            {datatype::inherit<MOLD>(), datatype::inherit<APPEND>(),
                             datatype::inherit<PICK>()});
    EXPECT_EQ(datatype::lookup<MOLD>(kGrandchild), datatype::lookup<MOLD>(TYPE_BLOCK));
    EXPECT_EQ(datatype::lookup<APPEND>(kGrandchild), datatype::lookup<APPEND>(TYPE_BLOCK));
    EXPECT_NE(datatype::lookup<MOLD>(TYPE_BLOCK), nullptr);
    EXPECT_EQ(datatype::lookup<PICK>(kGrandchild), child_pick);  // the nearer ancestor's own
    EXPECT_EQ(datatype::lookup<COMPARE>(kGrandchild), nullptr);  // not asked for
    EXPECT_EQ(datatype::lookup<FORM>(kChild), nullptr);
    EXPECT_EQ(datatype::parent_of(kGrandchild), kChild);
    EXPECT_STREQ(datatype::name_of(kGrandchild), "grandchild!");
  });
}

TEST_F(Registry, EveryTypeHasItsNameAndParent) {
  struct Case {
    uint8_t type;
    const char* name;
    uint8_t parent;
  };
  const Case cases[] = {
      {TYPE_DATATYPE, "datatype!", 0},     {TYPE_PAREN, "paren!", TYPE_BLOCK},
      {TYPE_LIT_PATH, "lit-path!", TYPE_PATH}, {TYPE_FILE, "file!", TYPE_URL},
      {TYPE_ROUTINE, "routine!", TYPE_FUNCTION}, {TYPE_ERROR, "error!", TYPE_OBJECT},
      {TYPE_HANDLE, "handle!", TYPE_INTEGER},  {TYPE_IMAGE, "image!", TYPE_SERIES},
      {TYPE_POINT3D, "point3D!", 0},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(datatype::name_of(c.type), c.name);
    EXPECT_EQ(datatype::parent_of(c.type), c.parent) << c.name;
    EXPECT_EQ(form(*datatype::name_word(c.type)), c.name);
  }
  EXPECT_EQ(datatype::highest_type(), TYPE_IMAGE);  // event! comes with the GUI
}

TEST_F(Registry, DatatypeValuesFormMoldAndCompare) {
  Cell none_type{TYPE_DATATYPE, TYPE_NONE, 0, 0};
  Cell integer_type{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
  EXPECT_EQ(form(none_type), "none");
  EXPECT_EQ(mold(none_type), "none!");
  Cell* out = stack::push_new();
  *out = constants::none;
  string::init_empty(out, 16);
  auto mold = datatype::lookup<action::MOLD>(TYPE_DATATYPE);
  int32_t left = mold(&none_type, out, {.all = true}, nullptr, 100, 0);
  EXPECT_EQ(text_of(*out), "#(none!)");
  EXPECT_EQ(left, 100 - 8);
  auto compare = datatype::lookup<action::COMPARE>(TYPE_DATATYPE);
  Cell other = integer_type;
  EXPECT_EQ(compare(&integer_type, &other, action::EQUAL), 0);
  EXPECT_NE(compare(&integer_type, &none_type, action::EQUAL), 0);
  EXPECT_EQ(compare(&integer_type, &other, action::LESSER), action::kNotComparable);
}

// The value a slot is given may be a cell of a block, and writing the output may move that
// block: form and mold read their value before they append. The output starts full, so its
// first append already allocates.
TEST_F(Registry, FormAndMoldReadAValueInABlockBeforeAppending) {
  Cell typeset = typeset::empty();
  typeset::set(typeset, TYPE_BLOCK);
  typeset::set(typeset, TYPE_STRING);
  const Cell* elements = build("a b");  // of the paths
  struct Case {
    const char* name;
    Cell value;
    bool mold;
    bool all;
    const char* expected;
  };
  const Case cases[] = {
      {"typeset! form", typeset, false, false, "block! string!"},
      {"typeset! mold", typeset, true, false, "make typeset! [block! string!]"},
      {"char! mold", Cell{TYPE_CHAR, 0, 'q', 0}, true, false, "#\"q\""},
      {"datatype! mold/all", Cell{TYPE_DATATYPE, TYPE_NONE, 0, 0}, true, true, "#(none!)"},
      {"triple! mold", triple::make(1, 2, 3), true, false, "make triple! [1 2 3]"},
      {"lit-path! mold", Cell{TYPE_LIT_PATH, 0, elements->w2, 0}, true, false, "'a/b"},
      {"get-path! mold", Cell{TYPE_GET_PATH, 0, elements->w2, 0}, true, false, ":a/b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* holder = build("x");
    *cell::block_head(*holder) = c.value;
    Cell* out = stack::push_new();
    *out = constants::none;
    string::init_empty(out, 16);
    string::append_c_string(*out, "0123456789abcdef");  // the whole capacity
    {
      StressEveryAllocation stress;
      Cell* value = cell::block_head(*holder);
      uint8_t type = cell::type_of(*value);
      if (c.mold) {
        datatype::lookup<action::MOLD>(type)(value, out, {.all = c.all}, nullptr, INT32_MAX, 0);
      } else {
        datatype::lookup<action::FORM>(type)(value, out, nullptr, INT32_MAX);
      }
    }
    EXPECT_EQ(text_of(*out), std::string("0123456789abcdef") + c.expected);
  }
}

}  // namespace
