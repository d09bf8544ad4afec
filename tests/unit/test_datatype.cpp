// The datatype registry: inheritance of action slots down a chain of types, and datatype!
// itself (form, mold, compare).
#include "child_process.h"
#include "word_test_support.h"

namespace {

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
  int32_t left = datatype::lookup<action::MOLD>(TYPE_DATATYPE)(&none_type, out, false, true,
                                                               false, nullptr, 100, 0);
  EXPECT_EQ(text_of(*out), "#(none!)");
  EXPECT_EQ(left, 100 - 8);
  auto compare = datatype::lookup<action::COMPARE>(TYPE_DATATYPE);
  Cell other = integer_type;
  EXPECT_EQ(compare(&integer_type, &other, action::EQUAL), 0);
  EXPECT_NE(compare(&integer_type, &none_type, action::EQUAL), 0);
  EXPECT_EQ(compare(&integer_type, &other, action::LESSER), action::kNotComparable);
}

}  // namespace
