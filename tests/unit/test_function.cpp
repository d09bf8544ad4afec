// function! and routine!: the spec grammar, making function values (copies, binding, the owner
// cell), the automatic locals of `function`, the local-slot helpers, reflection, printing and
// comparison.
#include "callable_test_support.h"
#include "datatypes/word.h"

namespace {

class Function : public callable_test::CallableTest {
 protected:
  void SetUp() override {
    CallableTest::SetUp();
    // The type words a spec names; the boot environment defines them all.
    for (auto [name, type] : {std::pair{"integer!", TYPE_INTEGER}, {"string!", TYPE_STRING},
                              {"block!", TYPE_BLOCK}}) {
      Cell word = word::from_c_string(name);
      context::write_word(word, Cell{TYPE_DATATYPE, type, 0, 0});
    }
  }

  static Cell* make_function(const Cell& spec) { return make_value(TYPE_FUNCTION, spec); }
};

TEST_F(Function, ValidateSpecFollowsTheGrammar) {
  struct Case {
    const char* spec;
    const char* error;
    uint32_t flags;
  } cases[] = {
      {"a [integer!] \"doc\" /opt b /local c", "", 0},
      {"\"about\" a [integer! string!] return: [integer!] \"doc\" /local x", "", 0},
      {"a return: [integer!] /local x", "", 0},
      {"/opt 'x :y /local z", "", 0},
      {"[trace] a", "", function::kTrace},
      {"[no-trace catch] a", "", function::kNoTrace},
      {"", "", 0},
      {"a \"doc\" [integer!] /opt b /local c", "script/bad-func-def", 0},
      {"a b /local c d return: [integer!]", "script/bad-func-def", 0},
      {"a A", "script/dup-vars", 0},
      {"a /b /A", "script/dup-vars", 0},
      {"[trace 1] a", "script/bad-func-def", 0},
      {"a [trace]", "script/invalid-type-spec", 0},  // only the first block holds attributes (trace: a function)
      {"a [integer!] [string!]", "script/bad-func-def", 0},
      {"return: [integer!] a", "script/bad-func-def", 0},
      {"return: [integer!] \"doc\" a", "script/bad-func-def", 0},
      {"a return:", "script/bad-func-def", 0},
      {"a return: integer!", "script/bad-func-def", 0},
      {"a return: [integer!] return: [string!]", "script/bad-func-def", 0},
      {"a return: [integer!] /opt", "script/bad-func-def", 0},
      {"x: [integer!]", "script/bad-func-def", 0},
      {"/opt [integer!]", "script/bad-func-def", 0},
      {"a /local 'b", "script/bad-func-def", 0},
      {"a /local b /opt", "script/bad-func-def", 0},
      {"a 12", "script/bad-func-def", 0},
      {"a [undefined-type-word]", "script/no-value", 0},
      {"a [12]", "script/invalid-type-spec", 0},
      {"a [[integer!]]", "", 0},  // a nested block is skipped, as typesets skip it
      {"a [integer! [x] 12]", "script/invalid-type-spec", 0},
  };
  for (const Case& c : cases) {
    Cell* spec = build(c.spec);
    uint32_t flags = 0;
    EXPECT_EQ(raised_by([&] { flags = function::validate_spec(*spec); }), c.error) << c.spec;
    EXPECT_EQ(flags, c.flags) << c.spec;
  }
}

TEST_F(Function, MakeTakesASpecAndABody) {
  struct Case {
    const char* make_spec;
    const char* error;
    const char* molded;
  } cases[] = {
      {"[a b] [a]", "", "func [a b][a]"},
      {"[] [] extra", "", "func [][]"},
      {"[a]", "script/bad-func-def", nullptr},
      {"a [a]", "script/bad-func-def", nullptr},
      {"[a] none", "script/bad-func-def", nullptr},
      {"[a \"doc\" [integer!]] [a]", "script/bad-func-def", nullptr},
      {"[a a] [a]", "script/dup-vars", nullptr},
  };
  for (const Case& c : cases) {
    Cell* make_spec = build(c.make_spec);
    EXPECT_EQ(raised_by([&] { make_function(*make_spec); }), c.error) << c.make_spec;
    if (c.molded) {
      EXPECT_EQ(mold(*make_function(*make_spec)), c.molded);
    }
  }
  EXPECT_EQ(raised_by([&] { make_function(integer(3)); }), "script/bad-func-def");
  Cell* traced = make_function(*build("[[trace] a] [a]"));
  EXPECT_TRUE(traced->header & function::kTrace);
  EXPECT_EQ(cell::type_of(*traced), TYPE_FUNCTION);
}

TEST_F(Function, TheBodyIsADeepCopyBoundToTheLocalContext) {
  Cell* body = build("a [b (a)] [c a]");
  Cell* path = at(*body, {2});
  cell::set_type(*path, TYPE_PATH);
  Cell* f = function::make_function_value(*build("a b"), *body, 0, 0, 0, 0);
  uint32_t local = f->w1;
  Cell copy = function::body_of(*f);
  // Editing the original afterwards leaves the function alone.
  at(*body, {1, 0})->w2 = sym("changed");
  EXPECT_EQ(mold(copy), "[a [b (a)] c/a]");
  EXPECT_EQ(at(copy, {0})->w1, local);
  EXPECT_EQ(at(copy, {1, 0})->w1, local);
  EXPECT_EQ(at(copy, {1, 1, 0})->w1, local);
  EXPECT_EQ(at(copy, {2, 1})->w1, local);
  EXPECT_EQ(at(copy, {2, 0})->w1, context::global);  // c is not local
  const Cell* owner = context::owner_cell(local);
  EXPECT_EQ(cell::type_of(*owner), TYPE_FUNCTION);
  EXPECT_EQ(owner->w3, f->w3);
  EXPECT_TRUE(context::stack_held(local));
}

TEST_F(Function, MakeFunctionValueFillsTheInternalBlock) {
  Cell* spec = build_at("skipped a b", 1);
  Cell* f = function::make_function_value(*spec, constants::none, 0, 77, 88, function::kNoTrace);
  EXPECT_EQ(mold(reflect(*f, "spec")), "[a b]");
  EXPECT_NE(f->w2, spec->w2);  // copied from its head
  EXPECT_EQ(f->header & 0xFFFF, TYPE_FUNCTION | function::kNoTrace);
  const Cell* more = cell::block_head(Cell{TYPE_BLOCK, 0, f->w3, 0});
  EXPECT_EQ(block::rest_length(Cell{TYPE_BLOCK, 0, f->w3, 0}), function::kMoreCells);
  EXPECT_EQ(cell::type_of(more[function::kBody]), TYPE_NONE);
  EXPECT_EQ(cell::type_of(more[function::kArgCache]), TYPE_UNSET);
  EXPECT_EQ(more[function::kCodeEntry].w2, 77u);
  EXPECT_EQ(cell::type_of(more[function::kOpCopy]), TYPE_UNSET);
  EXPECT_EQ(more[function::kExtra].w2, 88u);
  EXPECT_EQ(mold(*f), "func [a b] none");

  // A context given is used as it is, and the body is not bound to it.
  Cell* shared = function::make_function_value(*build("x"), *build("a x"), f->w1, 0, 0, 0);
  EXPECT_EQ(shared->w1, f->w1);
  EXPECT_EQ(at(function::body_of(*shared), {0})->w1, context::global);
}

TEST_F(Function, CollectsTheWordsTheBodySets) {
  struct Case {
    const char* spec;
    const char* body;
    const char* result;  // the spec afterwards, or the error
  } cases[] = {
      {"", "x: 1 foreach [k v] m [y: k]", "/local x k v y"},
      {"/extern x", "x: 1 foreach [k v] m [y: k]", "/local k v y"},
      {"a", "a: 1 b: 2 b: 3", "a /local b"},
      {"a /local b", "b: 1 (c: 2)", "a /local b c"},
      {"'a :b /c", "a: b: c: d: 1", "'a :b /c /local d"},
      {"", "repeat i 10 [j: i] repeat n: 3 []", "/local i j n"},
      {"", "remove-each w s [w] foreach [p 'q :r] t []", "/local w p q r"},
      {"", "local: 1 z: 2", "/local z"},
      {"", "print x", ""},
      {"a /extern x /local y", "x: 1 y: 2 z: 3", "a /local y z"},
      {"a /extern 12", "", "script/bad-func-extern"},
      {"a 12", "b: 1", "a 12 /local b"},
  };
  for (const Case& c : cases) {
    Cell* spec = build(c.spec);
    Cell* body = build(c.body);
    std::string error = raised_by([&] { function::collect_local_words(*spec, *body); });
    EXPECT_EQ(error.empty() ? cells(*spec) : error, c.result) << c.spec << " | " << c.body;
  }
}

TEST_F(Function, CollectingFromABodyInsideItselfEnds) {
  Cell* spec = build("");
  Cell* body = build("a: [b: 1]");
  block::append_cell(*at(*body, {1}), *body);
  function::collect_local_words(*spec, *body);
  EXPECT_EQ(cells(*spec), "/local a b");
  EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Function, CountsAndPushesLocals) {
  struct Case {
    const char* spec;
    int32_t start;
    bool required;
    int32_t count;
  } cases[] = {
      {"a /local b c", 0, false, 3},
      {"a /local b c", 0, true, 3},
      {"a b", 0, true, -1},
      {"a b", 0, false, 0},
      {"a /local b \"doc\" c /local d", 0, false, 4},
      {"/local a b", 1, true, -1},
      {"x /LOCAL y", 0, true, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(function::count_locals(build(c.spec)->w2, c.start, c.required), c.count) << c.spec;
  }
  Cell* before = stack::top;
  function::push_locals(3);
  ASSERT_EQ(stack::top - before, 3);
  EXPECT_EQ(cell::type_of(before[0]), TYPE_LOGIC);
  EXPECT_EQ(logic::value_of(before[0]), 0u);
  EXPECT_EQ(cell::type_of(before[1]), TYPE_NONE);
  EXPECT_EQ(cell::type_of(before[2]), TYPE_NONE);
  function::push_locals(0);
  EXPECT_EQ(stack::top - before, 3);
}

TEST_F(Function, RoutineCountsItsWords) {
  Cell* spec = build("a [integer!] b \"doc\" c /local d");
  Cell* r = function::make_routine_value(*spec, constants::none, 5, 0, true);
  EXPECT_EQ(cell::type_of(*r), TYPE_ROUTINE);
  EXPECT_EQ(function::header_arity(*r), 4u);
  EXPECT_TRUE(r->header & function::kCellArgs);
  EXPECT_EQ(cell::type_of(*context::owner_cell(r->w1)), TYPE_ROUTINE);
  Cell* plain = function::make_routine_value(*build("a [integer!]"), constants::none, 5, 0, false);
  EXPECT_EQ(mold(*plain), "routine [a [integer!]] none");
  EXPECT_FALSE(plain->header & function::kCellArgs);
  EXPECT_EQ(form(*r), "?routine?");

  std::string many;
  for (int i = 0; i < 40; i++) many += "w" + std::to_string(i) + " ";
  Cell* big = function::make_routine_value(*build(many), constants::none, 5, 0, false);
  EXPECT_EQ(function::header_arity(*big), function::kArityMax);
  EXPECT_FALSE(big->header & cell::kNewLine);  // the count stays in its five bits
}

TEST_F(Function, ReflectsSpecBodyAndWords) {
  Cell* f = function_of("a /b c /local d", "a + c");
  EXPECT_EQ(mold(reflect(*f, "spec")), "[a /b c /local d]");
  EXPECT_EQ(mold(reflect(*f, "body")), "[a + c]");
  Cell words = reflect(*f, "words");
  EXPECT_EQ(mold(words), "[a b c local d]");
  for (uint32_t i = 0; i < 5; i++) EXPECT_EQ(at(words, {i})->w1, f->w1);
  EXPECT_NE(words.w2, context::word_block_node(f->w1));  // a copy
  EXPECT_EQ(raised_by([&] { reflect(*f, "class"); }), "internal/not-done");
}

TEST_F(Function, FormMoldAndCompare) {
  Cell f = *function_of("a", "a");
  Cell g = *function_of("a", "a");
  Cell r = *function::make_routine_value(*build("a"), *build("x"), 1, 0, false);
  EXPECT_EQ(form(f), "?function?");
  EXPECT_EQ(mold(f), "func [a][a]");
  EXPECT_EQ(mold(r), "routine [a][x]");
  EXPECT_EQ(compare(f, f, action::EQUAL), 0);
  EXPECT_NE(compare(f, g, action::EQUAL), 0);  // equal text, two functions
  EXPECT_EQ(compare(f, g, action::SORT_ORDER), -compare(g, f, action::SORT_ORDER));
  EXPECT_EQ(compare(f, g, action::LESSER), action::kNotComparable);
  EXPECT_EQ(compare(f, r, action::EQUAL), action::kNotComparable);
}

TEST_F(Function, SurvivesACollection) {
  Cell* f = function_of("a /b c", "[a] c");
  gc::collect();
  gc::verify();
  EXPECT_EQ(mold(*f), "func [a /b c][[a] c]");
  EXPECT_EQ(context::word_count(f->w1), 3u);
  EXPECT_EQ(context::owner_cell(f->w1)->w3, f->w3);
}

}  // namespace
