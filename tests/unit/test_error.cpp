// error!: errors made from the catalog and by make (code, block, text), the report text, mold and
// compare, and the raiser behind rt::fire_error.
#include <cstring>
#include <string>
#include <vector>

#include "child_process.h"
#include "datatypes/cell_ops.h"
#include "datatypes/error.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/word.h"
#include "interpreter/frames.h"
#include "runtime/gc.h"
#include "word_test_support.h"

namespace {

using word_test::StressEveryAllocation;
using word_test::WordTest;

const char* const kNowhere = "\n*** Where: ???\n*** Near : none";

class Error : public WordTest {
 protected:
  // A new error made by make error! from the spec (pushed first, as a frame would hold it).
  static Cell* make(const Cell& spec) {
    Cell* s = stack::push_copy(spec);
    Cell proto{TYPE_DATATYPE, TYPE_ERROR, 0, 0};
    return datatype::lookup<action::MAKE>(TYPE_ERROR)(&proto, s, TYPE_ERROR);
  }
  // "category/id" of an error value.
  static std::string name(const Cell& e) {
    return form(Cell{TYPE_WORD, 0, error::type_symbol(e), context::kUnresolved}) + "/" +
           form(Cell{TYPE_WORD, 0, error::id_symbol(e), context::kUnresolved});
  }
  static Cell* text(const char* chars) {
    return string::load_encoded(reinterpret_cast<const uint8_t*>(chars), std::strlen(chars),
                                nullptr, string::kUtf8);
  }
  static Cell datatype_cell(uint8_t type) { return Cell{TYPE_DATATYPE, type, 0, 0}; }
  static Cell& field(const Cell& e, uint32_t index) { return *error::field(e, index); }
};

TEST_F(Error, CatalogErrorsCarryTheirArgumentsAndReportTheMessageWithThemFilledIn) {
  Cell foo = source_word("foo");
  Cell lit_a = source_word("a", TYPE_LIT_WORD), lit_b = source_word("b", TYPE_LIT_WORD);
  Cell lit_c = source_word("c", TYPE_LIT_WORD);
  Cell integer_type = datatype_cell(TYPE_INTEGER);
  Cell f = source_word("f"), value = source_word("value");
  Cell old_word = source_word("old"), new_word = source_word("new");
  struct Case {
    const char* category;
    const char* id;
    std::vector<const Cell*> args;
    int32_t code;
    const char* message;
  };
  const Case cases[] = {
      {"script", "no-value", {&foo}, 300, "*** Script Error: foo has no value"},
      {"script", "no-value", {&lit_a}, 300, "*** Script Error: 'a has no value"},  // molded
      {"syntax", "missing", {&lit_a, &lit_b, &lit_c}, 201,
       "*** Syntax Error: a missing b at c"},  // formed
      {"script", "expect-arg", {&f, &integer_type, &value}, 305,
       "*** Script Error: f does not allow integer! for its value argument"},
      {"math", "zero-divide", {}, 400, "*** Math Error: attempt to divide by zero"},
      {"throw", "throw", {&foo}, 2, "*** Throw Error: no catch for throw: foo"},
      {"note", "no-load", {&foo}, 100, "*** note: cannot load:  foo"},
      {"internal", "deprecated", {&old_word, &new_word}, 913,
       "*** Internal Error: old is DEPRECATED, please use new instead"},
      {"internal", "not-done", {}, 909,
       "*** Internal Error: reserved for future use (or not yet implemented)"},
      {"access", "invalid-cmd", {&foo}, 514, "*** Access Error: invalid port command: foo"},
      {"script", "zb-invalid-record", {&foo}, 393,
       "*** Script Error: ZELBIN - invalid record at index foo"},
  };
  for (const Case& c : cases) {
    const Cell* a[3] = {};
    for (size_t i = 0; i < c.args.size(); i++) a[i] = c.args[i];
    Cell* e = error::create_from_names(c.category, c.id, a[0], a[1], a[2]);
    ASSERT_EQ(cell::type_of(*e), TYPE_ERROR);
    EXPECT_EQ(name(*e), std::string(c.category) + "/" + c.id);
    EXPECT_EQ(field(*e, error::kCode).w2, uint32_t(c.code)) << c.id;
    for (uint32_t i = 0; i < 3; i++) {
      const Cell& arg = field(*e, error::kArg1 + i);
      if (a[i]) {
        EXPECT_EQ(arg.header, a[i]->header) << c.id;
        EXPECT_EQ(arg.w2, a[i]->w2) << c.id;
      } else {
        EXPECT_EQ(cell::type_of(arg), TYPE_NONE) << c.id;
      }
    }
    EXPECT_EQ(form(*e), std::string(c.message) + kNowhere);
  }
}

TEST_F(Error, FormLowersThePartBudgetByWhatItAppends) {
  Cell foo = source_word("foo");
  Cell* e = error::create_from_names("script", "no-value", &foo, nullptr, nullptr);
  Cell* out = stack::push_new();
  *out = constants::none;
  string::init_empty(out, 16);
  int32_t left = datatype::lookup<action::FORM>(TYPE_ERROR)(e, out, nullptr, 1000);
  EXPECT_EQ(1000 - left, int32_t(string::rest_length(*out)));
  EXPECT_EQ(text_of(*out), std::string("*** Script Error: foo has no value") + kNowhere);
}

TEST_F(Error, MakeFromAnIntegerCodeFindsCategoryAndId) {
  struct Case {
    int32_t code;
    const char* made;  // "" when the code is out of range
  };
  const Case cases[] = {
      {300, "script/no-value"}, {402, "math/positive"}, {0, "throw/break"},
      {913, "internal/deprecated"}, {800, "user/message"}, {514, "access/invalid-cmd"},
      {403, ""}, {1000, ""}, {-1, ""}, {600, ""}, {394, ""}, {0x7FFFFFFF, ""},
  };
  for (const Case& c : cases) {
    Cell code = integer(c.code);
    Cell made = constants::none;  // copied out: the try frame's cells are dropped after it
    gc::Guard guard(made);
    Cell* raised = caught([&] { made = *make(code); });
    if (*c.made) {
      ASSERT_EQ(cell::type_of(made), TYPE_ERROR) << c.code;
      EXPECT_EQ(name(made), c.made);
      EXPECT_EQ(int32_t(field(made, error::kCode).w2), c.code);
    } else {
      ASSERT_NE(raised, nullptr) << c.code;
      EXPECT_EQ(name(*raised), "script/out-of-range");
      EXPECT_EQ(int32_t(field(*raised, error::kArg1).w2), c.code);
    }
  }
}

TEST_F(Error, MakeFromABlockOfTwoWords) {
  struct Case {
    const char* spec;
    int32_t code;         // when made
    const char* refused;  // else the error raised
    const char* arg1;     // and its first argument molded ("" when none)
  };
  const Case cases[] = {
      {"math zero-divide", 400, "", ""},
      {"Math Zero-Divide", 400, "", ""},
      {"internal invalid-error", 910, "", ""},
      {"math", 0, "script/invalid-spec-field", "id"},
      {"bogus zero-divide", 0, "script/invalid-spec-field", "type"},
      {"math type", 0, "script/invalid-spec-field", "id"},  // code and type are not ids
      {"script code", 0, "script/invalid-spec-field", "id"},
      {"math no-value", 0, "script/invalid-spec-field", "id"},
      {"math 'zero-divide", 0, "script/invalid-arg", "'zero-divide"},
      {"", 0, "internal/invalid-error", ""},
      {"'math zero-divide", 0, "internal/invalid-error", ""},
      {"[math] zero-divide", 0, "internal/invalid-error", ""},
      {"type: script", 0, "script/no-value", "script"},  // the body is evaluated
  };
  for (const Case& c : cases) {
    Cell* spec = build(c.spec);
    Cell* made = nullptr;
    Cell* raised = caught([&] { made = make(*spec); });
    if (!*c.refused) {
      ASSERT_NE(made, nullptr) << c.spec;
      EXPECT_EQ(int32_t(field(*made, error::kCode).w2), c.code) << c.spec;
      continue;
    }
    ASSERT_NE(raised, nullptr) << c.spec;
    EXPECT_EQ(name(*raised), c.refused) << c.spec;
    if (*c.arg1) {
      EXPECT_EQ(mold(field(*raised, error::kArg1)), c.arg1) << c.spec;
    }
  }
}

TEST_F(Error, MakeFromAFloatIsRefusedNamingTheTypeAndTheSpec) {
  Cell number{TYPE_FLOAT, 0, 0, 0};
  cell::set_double(number, 2.5);
  Cell* raised = caught([&] { make(number); });
  ASSERT_NE(raised, nullptr);
  EXPECT_EQ(name(*raised), "script/bad-make-arg");
  EXPECT_EQ(mold(field(*raised, error::kArg1)), "error!");
  const Cell& arg2 = field(*raised, error::kArg2);
  EXPECT_EQ(cell::type_of(arg2), TYPE_FLOAT);
  EXPECT_EQ(cell::get_double(arg2), 2.5);
}

TEST_F(Error, MakeFromATextIsAUserErrorShowingTheText) {
  Cell* made = make(*text("the disk is full"));
  EXPECT_EQ(name(*made), "user/message");
  EXPECT_EQ(field(*made, error::kCode).w2, 800u);
  EXPECT_EQ(form(*made), std::string("*** User Error: the disk is full") + kNowhere);
}

TEST_F(Error, ArgumentsShowTheirFirst80CharactersAndNearItsFirst40) {
  std::string words;
  Cell* block = block::push_new(4);
  for (int i = 0; i < 20; i++) {
    block::append_cell(*block, source_word("abcdefgh"));
    words += i ? " abcdefgh" : "abcdefgh";
  }
  Cell* e = error::create_from_names("script", "invalid-arg", block, nullptr, nullptr);
  field(*e, error::kNear) = *block;
  std::string molded = "[" + words + "]";
  EXPECT_EQ(form(*e), "*** Script Error: invalid argument: " + molded.substr(0, 80) +
                          "\n*** Where: ???\n*** Near : " + words.substr(0, 40));

  Cell* short_block = build("a b");
  field(*e, error::kArg1) = *short_block;
  field(*e, error::kNear) = *short_block;
  EXPECT_EQ(form(*e), "*** Script Error: invalid argument: [a b]\n*** Where: ???\n*** Near : a b");
}

TEST_F(Error, WhereShowsAWordOrATextAndFilesOnlyABlock) {
  Cell* e = error::create_from_names("math", "overflow", nullptr, nullptr, nullptr);
  const std::string message = "*** Math Error: math or number overflow\n*** Where: ";
  struct Case {
    Cell where;
    const char* shown;
  };
  const Case cases[] = {
      {constants::none, "???"},
      {source_word("append"), "append"},
      {*text("console"), "console"},
      {constants::true_value, "???"},
  };
  for (const Case& c : cases) {
    field(*e, error::kWhere) = c.where;
    EXPECT_EQ(form(*e), message + c.shown + "\n*** Near : none");
  }

  field(*e, error::kWhere) = constants::none;
  error::set_where_if_none(*e, source_word("first"));
  error::set_where_if_none(*e, source_word("second"));
  EXPECT_EQ(mold(field(*e, error::kWhere)), "first");

  field(*e, error::kFiles) = source_word("script");
  EXPECT_EQ(form(*e), message + "first\n*** Near : none");
  field(*e, error::kFiles) = *build("a b");
  EXPECT_EQ(form(*e), message + "first\n*** Near : none\n*** Files: a b");
}

TEST_F(Error, ATypeOrIdTheCatalogLacksIsReportedAsAnInvalidErrorNamingIt) {
  const std::string invalid = "*** Internal Error: invalid error object field value: ";
  struct Case {
    uint32_t field;
    Cell value;
    const char* named;
  };
  const Case cases[] = {
      {error::kType, source_word("bogus"), "bogus"},
      {error::kId, source_word("nonesuch"), "nonesuch"},
      {error::kId, source_word("type"), "type"},  // a word of the category, but no id
      {error::kType, constants::true_value, "true"},
  };
  for (const Case& c : cases) {
    Cell* e = error::create_from_names("script", "no-value", nullptr, nullptr, nullptr);
    field(*e, c.field) = c.value;
    EXPECT_EQ(form(*e), invalid + c.named + kNowhere) << c.named;
    EXPECT_EQ(name(*e), "internal/invalid-error");
    EXPECT_EQ(form(*e), invalid + c.named + kNowhere) << "formed again";
  }
}

TEST_F(Error, AUserErrorWhoseMessageIsNeitherTextNorBlockNamesTheValue) {
  const std::string invalid = "*** Internal Error: invalid error object field value: ";
  Cell type = datatype_cell(TYPE_INTEGER);
  Cell* e = error::create_from_names("user", "message", &type, nullptr, nullptr);
  EXPECT_EQ(form(*e), invalid + "integer!" + kNowhere);
  EXPECT_EQ(form(*e), invalid + "integer!" + kNowhere);
  Cell* empty = make(integer(800));
  EXPECT_EQ(form(*empty), invalid + "none" + kNowhere);
}

TEST_F(Error, TheRaiserPutsTheErrorOnTheStackAndThrows) {
  Cell* e = caught([] { rt::fire_error("math", "zero-divide"); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(name(*e), "math/zero-divide");
  EXPECT_EQ(field(*e, error::kCode).w2, 400u);
  EXPECT_STREQ(rt::raised.id, "zero-divide");

  // An argument inside a block's buffer is copied before anything is allocated.
  Cell* holder = build("shifty");
  e = caught([&] { rt::fire_error("script", "no-value", cell::block_head(*holder)); });
  ASSERT_NE(e, nullptr);
  // Thrown, the error names the innermost named frame: here the try frame itself.
  EXPECT_EQ(form(*e), "*** Script Error: shifty has no value\n*** Where: try\n*** Near : none");

  e = caught([] { rt::fire_error("script", "no-such-id"); });
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(name(*e), "internal/invalid-error");
  EXPECT_EQ(mold(field(*e, error::kArg1)), "no-such-id");
}

TEST_F(Error, ErrorsAndTheCatalogOutliveCollections) {
  Cell* e = error::create_from_names("script", "invalid-arg", build("a [b c]"), nullptr, nullptr);
  gc::collect();
  gc::collect();
  EXPECT_EQ(form(*e), std::string("*** Script Error: invalid argument: [a [b c]]") + kNowhere);
  Cell* later = make(integer(904));
  gc::collect();
  EXPECT_EQ(form(*later), std::string("*** Internal Error: stack overflow") + kNowhere);
}

TEST_F(Error, MoldWritesTheFieldsAsAnObjectDoes) {
  Cell* e = error::create_from_names("math", "zero-divide", nullptr, nullptr, nullptr);
  field(*e, error::kCode) = constants::none;  // integer! molds with its own datatype
  const std::string fields[] = {"code: none", "type: 'math", "id: 'zero-divide", "arg1: none",
                                "arg2: none", "arg3: none", "near: none", "where: none",
                                "stack: none", "files: none"};
  std::string lines, flat, only;
  for (const std::string& f : fields) {
    lines += "\n    " + f;
    flat += (flat.empty() ? "" : " ") + f;
    only += (only.empty() ? "" : "\n") + f;
  }
  auto mold_with = [&](bool only_flag, bool flat_flag, int32_t indent) {
    Cell* out = stack::push_new();
    *out = constants::none;
    string::init_empty(out, 16);
    datatype::lookup<action::MOLD>(TYPE_ERROR)(e, out, {.only = only_flag, .flat = flat_flag},
                                               nullptr, INT32_MAX, indent);
    return text_of(*out);
  };
  EXPECT_EQ(mold_with(false, false, 0), "make error! [" + lines + "\n]");
  EXPECT_EQ(mold_with(false, true, 0), "make error! [" + flat + "]");
  EXPECT_EQ(mold_with(true, false, 0), only);
  std::string deeper;
  for (const std::string& f : fields) deeper += "\n        " + f;
  EXPECT_EQ(mold_with(false, false, 1), "make error! [" + deeper + "\n    ]");
}

TEST_F(Error, CompareTreatsTwoErrorsAsObjects) {
  auto compare = datatype::lookup<action::COMPARE>(TYPE_ERROR);
  Cell a1 = source_word("a"), b1 = source_word("b");
  Cell* x = error::create_from_names("script", "no-value", &a1, nullptr, nullptr);
  Cell* y = error::create_from_names("script", "no-value", &a1, nullptr, nullptr);
  Cell* z = error::create_from_names("script", "no-value", &b1, nullptr, nullptr);
  for (Cell* e : {x, y, z}) field(*e, error::kCode) = constants::none;
  Cell copy = *x;
  Cell not_an_error = source_word("a");
  EXPECT_EQ(compare(x, &copy, action::SAME), 0);
  EXPECT_EQ(compare(x, y, action::SAME), -1);
  EXPECT_EQ(compare(x, y, action::EQUAL), 0);
  EXPECT_NE(compare(x, z, action::EQUAL), 0);
  EXPECT_EQ(compare(x, z, action::SORT_ORDER), -compare(z, x, action::SORT_ORDER));
  EXPECT_EQ(compare(x, &not_an_error, action::EQUAL), action::kNotComparable);
}

TEST_F(Error, TheTypeAndIdSymbolsAreThoseOfTheirWords) {
  Cell* e = error::create_from_names("access", "no-codec", nullptr, nullptr, nullptr);
  EXPECT_EQ(error::type_symbol(*e), sym("access"));
  EXPECT_EQ(error::id_symbol(*e), sym("no-codec"));
  field(*e, error::kId) = integer(1);
  EXPECT_EQ(error::id_symbol(*e), 0u);
}

TEST_F(Error, AnErrorInsideItselfShowsTheCycleMarker) {
  Cell* e = error::create_from_names("script", "no-value", nullptr, nullptr, nullptr);
  field(*e, error::kCode) = constants::none;
  field(*e, error::kArg1) = *e;
  const std::string flat =
      "make error! [code: none type: 'script id: 'no-value arg1: ... arg2: none arg3: none "
      "near: none where: none stack: none files: none]";
  Cell* out = stack::push_new();
  *out = constants::none;
  string::init_empty(out, 16);
  datatype::lookup<action::MOLD>(TYPE_ERROR)(e, out, {.flat = true}, nullptr, INT32_MAX, 0);
  EXPECT_EQ(text_of(*out), flat);
  EXPECT_EQ(form(*e), "*** Script Error: " + flat.substr(0, 80) + " has no value" + kNowhere);
}

TEST_F(Error, TheCatalogHoldsEachCategorysCodeTitleAndTemplates) {
  EXPECT_EQ(context::word_count(error::catalog()), error::kCategoryCount);
  uint32_t script = error::category(3);
  const Cell* values = context::values_of(script);
  EXPECT_EQ(values[0].w2, 300u);
  EXPECT_EQ(text_of(values[1]), "Script Error");
  // no-value: a block of the get-word arg1 and a text
  const Cell& no_value = values[2];
  ASSERT_EQ(cell::type_of(no_value), TYPE_BLOCK);
  const Cell* parts = cell::block_head(no_value);
  EXPECT_EQ(cell::type_of(parts[0]), TYPE_GET_WORD);
  EXPECT_EQ(parts[0].w2, sym("arg1"));
  EXPECT_EQ(text_of(parts[1]), "has no value");
  // One text alone stays a text, one word alone a word.
  EXPECT_EQ(text_of(context::values_of(error::category(4))[2]), "attempt to divide by zero");
  const Cell& message = context::values_of(error::category(8))[2];
  EXPECT_EQ(cell::type_of(message), TYPE_WORD);
  EXPECT_EQ(message.w2, sym("arg1"));
  EXPECT_EQ(context::word_count(error::category(6)), 2u);  // reserved1: code and type only
  EXPECT_EQ(text_of(context::values_of(error::category(9))[1]), "Internal Error");
}

// expect-arg names the callee, whose word may first have to be added to the global context;
// the value it reports the type of (here a block's cell, which that addition moves) is read
// before. The global context is filled up to its capacity first, so the addition allocates.
TEST_F(Error, ExpectArgReadsTheValueBeforeNamingTheCallee) {
  child_process::expect_passes([] {
    auto full = [](uint32_t node) {
      alloc::Series* s = alloc::series_of(node);
      return s->tail + sizeof(Cell) > s->capacity;
    };
    for (int i = 0; !full(context::word_block_node(context::global)) &&
                    !full(context::values_position(context::global));
         i++) {
      word::from_c_string(("filler-" + std::to_string(i)).c_str());
    }
    Cell* holder = build("x");
    *cell::block_head(*holder) = integer(7);
    Cell callee{TYPE_WORD, 0, sym("a-callee-no-context-has"), context::kUnresolved};
    uint32_t code = 0;
    {
      StressEveryAllocation stress;
      code = frames::try_catch(runtime_words::words.frame_anon, [&] {
        frames::mark_native(callee);
        cell::fire_expect_arg(*cell::block_head(*holder), 0);
      });
    }
    ASSERT_EQ(code, rt::kThrowError);
    const Cell& error = *stack::top_cell();
    EXPECT_EQ(error::field(error, error::kArg1)->w2, callee.w2);
    EXPECT_EQ(error::field(error, error::kArg2)->w1, uint32_t(TYPE_INTEGER));
  });
}

}  // namespace
