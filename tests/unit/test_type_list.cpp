// The datatype list (runtime/types.h) against the language: each type family the C++ code tests
// holds exactly the datatypes of the typeset of the same name that the environment defines, so
// the two cannot drift apart.
#include <string>

#include "datatypes/typeset.h"
#include "interpreter/eval.h"
#include "lexer/lexer.h"
#include "word_test_support.h"

namespace {

class TypeList : public word_test::WordTest {};

TEST_F(TypeList, EachFamilyIsTheTypesetOfItsName) {
  struct Case {
    const char* typeset;
    bool (*member)(uint8_t);
  };
  const Case cases[] = {
      {"any-word!", types::any_word},         {"all-word!", types::all_word},
      {"any-path!", types::any_path},         {"any-list!", types::any_list},
      {"any-block!", types::any_block},       {"any-string!", types::any_string},
      {"series!", types::any_series},         {"any-function!", types::any_function},
      {"number!", types::number},
  };
  for (const Case& c : cases) {
    const Cell typeset = *eval(c.typeset);
    ASSERT_EQ(cell::type_of(typeset), TYPE_TYPESET) << c.typeset;
    for (uint32_t type = 1; type < TYPE_COUNT; type++) {
      const Cell datatype{TYPE_DATATYPE, type, 0, 0};
      EXPECT_EQ(typeset::find(typeset, datatype), c.member(uint8_t(type)))
          << c.typeset << " and type " << type;
    }
  }
}

}  // namespace
