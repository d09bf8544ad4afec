// The word family: molds and forms of each type, case variants keeping their spelling, the
// comparison operators, index?, make and to, the stack helpers, and the runtime's own words.
#include "datatypes/cell_ops.h"
#include "datatypes/runtime_words.h"
#include "datatypes/word.h"
#include "interpreter/frames.h"
#include "word_test_support.h"

namespace {

using word_test::WordTest;
using Word = WordTest;

TEST_F(Word, EachTypeMoldsWithItsDecorationAndFormsBare) {
  struct Case {
    uint8_t type;
    const char* mold;
  };
  const Case cases[] = {
      {TYPE_WORD, "foo"},        {TYPE_SET_WORD, "foo:"},    {TYPE_LIT_WORD, "'foo"},
      {TYPE_GET_WORD, ":foo"},   {TYPE_REFINEMENT, "/foo"},  {TYPE_ISSUE, "#foo"},
  };
  for (const Case& c : cases) {
    Cell value = source_word("foo", c.type);
    EXPECT_EQ(mold(value), c.mold);
    EXPECT_EQ(form(value), "foo") << c.mold;
  }
  EXPECT_EQ(mold(source_word("wörd-\U00010428", TYPE_LIT_WORD)), "'wörd-\U00010428");
}

TEST_F(Word, ACaseVariantFormsWithItsOwnSpelling) {
  Cell canonical = word::from_c_string("wordcase-print");
  Cell variant = word::from_c_string("Wordcase-Print");
  EXPECT_EQ(form(variant), "Wordcase-Print");
  EXPECT_EQ(mold(variant), "Wordcase-Print");
  EXPECT_EQ(form(canonical), "wordcase-print");
  EXPECT_EQ(variant.w3, canonical.w3);  // one value
}

TEST_F(Word, CompareFollowsTheOperator) {
  const Cell print = source_word("wordcmp-print");
  const Cell Print = source_word("Wordcmp-Print");
  const Cell lit = source_word("wordcmp-print", TYPE_LIT_WORD);
  const Cell Lit = source_word("Wordcmp-Print", TYPE_LIT_WORD);
  const Cell set = source_word("wordcmp-print", TYPE_SET_WORD);
  const Cell issue = source_word("wordcmp-print", TYPE_ISSUE);
  const Cell apple = source_word("wordcmp-apple");
  const Cell Banana = source_word("Wordcmp-banana");
  Cell bound = print;
  bound.w1 = 0;
  bound.w3 = 3;
  const Cell integer{TYPE_INTEGER, 0, 1, 0};
  const int32_t kNc = action::kNotComparable;
  struct Case {
    const char* what;
    const Cell& a;
    const Cell& b;
    int32_t op;
    int32_t expected;
  };
  const Case cases[] = {
      {"equal ignores case", print, Print, action::EQUAL, 0},
      {"strict-equal does not", print, Print, action::STRICT_EQUAL, 1},
      {"strict-equal same spelling", print, print, action::STRICT_EQUAL, 0},
      {"equal ignores the word type", print, set, action::EQUAL, 0},
      {"strict-equal does not", print, set, action::STRICT_EQUAL, 1},
      {"find equality ignores case", set, Print, action::FIND_EQUAL, 0},
      {"same? needs the same binding", print, bound, action::SAME, 1},
      {"same? of a copy", print, print, action::SAME, 0},
      {"10: word and lit-word, same spelling", print, lit, action::WORD_LIT_EQUAL, 0},
      {"10: word and lit-word, other case", print, Lit, action::WORD_LIT_EQUAL, 1},
      {"10: other pairs are strict", print, set, action::WORD_LIT_EQUAL, 1},
      {"11: word and lit-word ignore case", lit, Print, action::WORD_LIT_STRICT, 0},
      {"11: other pairs need one type", print, set, action::WORD_LIT_STRICT, 1},
      {"11: one type, other case", print, Print, action::WORD_LIT_STRICT, 0},
      {"ordering folds case", apple, Banana, action::LESSER, -1},
      {"case ordering does not", apple, Banana, action::SORT_CASE_ORDER, 1},
      {"ordering of equal names", print, Print, action::SORT_ORDER, 0},
      {"issue against a word", issue, print, action::EQUAL, kNc},
      {"word against an issue", print, issue, action::EQUAL, kNc},
      {"issue against an issue", issue, issue, action::EQUAL, 0},
      {"word against an integer", print, integer, action::EQUAL, kNc},
  };
  for (const Case& c : cases) {
    Cell a = c.a;
    Cell b = c.b;
    EXPECT_EQ(datatype::lookup<action::COMPARE>(cell::type_of(a))(&a, &b, c.op), c.expected)
        << c.what;
  }
}

TEST_F(Word, IndexIsNoneForAnUnboundWord) {
  struct Case {
    Cell word;
    uint8_t type;
    uint32_t index;
  };
  Cell bound = context::intern_global_word(sym("wordindex-bound"));
  const Case cases[] = {
      {source_word("wordindex-unbound"), TYPE_NONE, 0},
      {source_word("wordindex-issue", TYPE_ISSUE), TYPE_NONE, 0},
      {bound, TYPE_INTEGER, bound.w3 + 1},
  };
  for (const Case& c : cases) {
    frames::reset_all();
    stack::push_copy(c.word);
    datatype::lookup<action::INDEX_Q>(cell::type_of(c.word))();
    EXPECT_EQ(cell::type_of(*stack::arg(0)), c.type);
    if (c.type == TYPE_INTEGER) {
      EXPECT_EQ(stack::arg(0)->w2, c.index);
    }
  }
}

TEST_F(Word, MakeAndToConvertBySpecType) {
  Cell flagged = source_word("wordmake-x", TYPE_GET_WORD);
  flagged.header |= cell::kNewLine;
  struct Case {
    const char* what;
    Cell spec;
    uint8_t target;
    const char* mold;
  };
  const Case cases[] = {
      {"datatype", Cell{TYPE_DATATYPE, TYPE_BLOCK, 0, 0}, TYPE_WORD, "block!"},
      {"logic", constants::true_value, TYPE_LIT_WORD, "'true"},
      {"logic false", constants::false_value, TYPE_WORD, "false"},
      {"word retyped, flags cleared", flagged, TYPE_SET_WORD, "wordmake-x:"},
      {"issue from a word", source_word("wordmake-y"), TYPE_ISSUE, "#wordmake-y"},
  };
  for (const Case& c : cases) {
    Cell* proto = stack::push_copy(Cell{TYPE_DATATYPE, c.target, 0, 0});
    Cell* spec = stack::push_copy(c.spec);
    Cell* result = datatype::lookup<action::TO>(c.target)(proto, spec, c.target);
    EXPECT_EQ(result->header, c.target) << c.what;
    EXPECT_EQ(mold(*result), c.mold) << c.what;
  }

  Cell* proto = stack::push_copy(Cell{TYPE_DATATYPE, TYPE_WORD, 0, 0});
  Cell* spec = stack::push_copy(Cell{TYPE_INTEGER, 0, 5, 0});
  EXPECT_EQ(raised_by([&] { datatype::lookup<action::MAKE>(TYPE_WORD)(proto, spec, TYPE_WORD); }),
            "script/bad-to-arg");
}

TEST_F(Word, IssuesAreMadeFromTextAndCharactersUnbound) {
  Cell* text = stack::push_copy(constants::none);  // marked while init_empty allocates
  string::init_empty(text, 8);
  string::append_c_string(*text, "--wordissue");
  text->w1 = 2;  // from the head
  Cell* character = stack::push_copy(Cell{TYPE_CHAR, 0, 0xE9, 0});
  Cell* bound = stack::push_copy(context::intern_global_word(sym("wordissue-bound")));
  struct Case {
    Cell* spec;
    const char* mold;
  };
  const Case cases[] = {{text, "#wordissue"}, {character, "#é"}, {bound, "#wordissue-bound"}};
  for (const Case& c : cases) {
    Cell* proto = stack::push_copy(Cell{TYPE_DATATYPE, TYPE_ISSUE, 0, 0});
    Cell* result = datatype::lookup<action::MAKE>(TYPE_ISSUE)(proto, c.spec, TYPE_ISSUE);
    EXPECT_EQ(cell::type_of(*result), TYPE_ISSUE);
    EXPECT_EQ(result->w3, context::kUnresolved) << c.mold;
    EXPECT_EQ(mold(*result), c.mold);
  }
}

TEST_F(Word, TextConvertsToTheWordOfItsFirstValue) {
  Cell* text = stack::push_copy(constants::none);
  string::init_empty(text, 8);
  string::append_c_string(*text, "Wordtext-a b");
  Cell* proto = stack::push_copy(Cell{TYPE_DATATYPE, TYPE_SET_WORD, 0, 0});
  Cell* made = datatype::lookup<action::TO>(TYPE_WORD)(proto, text, TYPE_SET_WORD);
  EXPECT_EQ(mold(*made), "Wordtext-a:");
  EXPECT_EQ(made->w1, context::global);
}

TEST_F(Word, ValuesPushedAndStoredThroughTheStack) {
  Cell word = context::intern_global_word(sym("wordstack-v"));
  EXPECT_EQ(raised_by([&] { word::push_value_checked(word); }), "script/no-value");
  EXPECT_EQ(cell::type_of(*word::push_value(word)), TYPE_UNSET);

  // set-from-stack: arguments[1] is the value; it is also the result.
  frames::reset_all();
  stack::push_copy(constants::none);
  stack::push_copy(integer(8));
  word::set_from_stack(word);
  EXPECT_EQ(stack::arg(0)->w2, 8u);
  EXPECT_EQ(word::push_value_checked(word)->w2, 8u);
  frames::reset_all();
  EXPECT_EQ(raised_by([&] {
              // The native's frame: the result slot, then the value.
              stack::push_copy(constants::none);
              stack::push_copy(constants::unset);
              word::set_from_stack(word);
            }),
            "script/need-value");

  // The newest cell into a context, keeping the old value for a change handler.
  Cell* spec = build("f");
  uint32_t ctx = context::make_from_spec(*spec, false, true, context::kObject);
  gc::Guard guard(ctx);
  stack::push_copy(integer(1));
  word::store_top_in_context(ctx, 0);
  stack::push_copy(integer(2));
  Cell* slot = word::push_old_and_store_top(ctx, 0);
  EXPECT_EQ(slot->w2, 2u);
  EXPECT_EQ(stack::top_cell()->w2, 1u);  // the old value, pushed
  EXPECT_TRUE(context::word_at(ctx, 0)->header & context::kAssigned);
  EXPECT_EQ(word::push_context_value_checked(ctx, 0)->w2, 2u);
}

TEST_F(Word, PushingWordsOfAContext) {
  Cell* spec = build("pw-a pw-b");
  uint32_t ctx = context::make_from_spec(*spec, false, false, context::kObject);
  gc::Guard guard(ctx);
  context::word_at(ctx, 1)->header |= cell::kNewLine;

  Cell* w = word::push_context_word(ctx, 1);
  EXPECT_EQ(w->w1, ctx);
  EXPECT_EQ(w->w3, 1u);
  Cell* get = word::push_context_value_as_get_word(ctx, 1);
  EXPECT_EQ(get->header, TYPE_GET_WORD | cell::kNewLine);  // flags kept
  Cell* ref = word::push_context_value_as_refinement(ctx, 1);
  EXPECT_EQ(ref->header, uint32_t(TYPE_REFINEMENT));  // flags cleared
  EXPECT_EQ(mold(*ref), "/pw-b");
  EXPECT_EQ(mold(*word::push_as_issue(*w)), "#pw-b");

  // Lookup by symbol: the context's own word, else the global one.
  EXPECT_EQ(word::lookup_in_context(ctx, sym("pw-b")).w1, ctx);
  Cell other = word::lookup_in_context(ctx, sym("pw-elsewhere"));
  EXPECT_EQ(other.w1, context::global);
  EXPECT_NE(other.w3, context::kUnresolved);

  Cell* name = word::push_name_string(*w);
  EXPECT_EQ(text_of(*name), "pw-b");
  EXPECT_EQ(name->w2, word::symbol_cell(*w)->w2);  // the symbol's own decoded name
}

TEST_F(Word, GlobalWordsFromNamesAndSymbols) {
  Cell* block = build("");
  word::append_name_to_block("wordglobal-a", *block);
  word::append_global_to_block(sym("wordglobal-b"), *block);
  Cell* pushed = word::push_global(sym("wordglobal-c"));
  Cell* kept = stack::push_copy(Cell{TYPE_LIT_WORD | cell::kNewLine, 0, 0, 0});
  word::init_global(sym("wordglobal-d"), kept);
  EXPECT_EQ(kept->header, TYPE_WORD | cell::kNewLine);
  for (const Cell* w : {at(*block, {0}), at(*block, {1}), pushed, kept}) {
    EXPECT_EQ(w->w1, context::global);
    EXPECT_NE(w->w3, context::kUnresolved);
  }
  EXPECT_EQ(mold(*at(*block, {1})), "wordglobal-b");

  Cell* issue = word::make_issue("wordglobal-e");
  EXPECT_EQ(issue->w3, context::kUnresolved);
  Cell refinement = context::intern_global_word(sym("wordglobal-f"));
  refinement::from_c_string("wordglobal-g", &refinement);
  EXPECT_EQ(refinement.w1, 0u);
  EXPECT_EQ(mold(refinement), "/wordglobal-g");
}

TEST_F(Word, RefinementArgumentsFollowTheRefinement) {
  Cell frame[4];
  for (Cell& c : frame) c = integer(7);
  frame[0] = constants::false_value;
  cell::set_refinement_args(constants::true_value, frame, 2);
  EXPECT_EQ(frame[0].w1, 1u);
  EXPECT_EQ(cell::type_of(frame[1]), TYPE_INTEGER);

  frame[0] = constants::false_value;
  cell::set_refinement_args(constants::none, frame, 2);
  EXPECT_EQ(frame[0].w1, 0u);
  EXPECT_EQ(cell::type_of(frame[1]), TYPE_NONE);
  EXPECT_EQ(cell::type_of(frame[2]), TYPE_NONE);
  EXPECT_EQ(cell::type_of(frame[3]), TYPE_INTEGER);
}

TEST_F(Word, TheRuntimesOwnWordsAreMadeAtStartUp) {
  using runtime_words::refinements;
  using runtime_words::symbols;
  using runtime_words::words;
  EXPECT_EQ(symbols.self, sym("self"));
  EXPECT_EQ(symbols.events_q, sym("events?"));
  EXPECT_EQ(symbols.os_macos, sym("macOS"));
  EXPECT_EQ(symbols.no_trace, sym("no-trace"));
  struct Case {
    const Cell& value;
    const char* mold;
  };
  const Case cases[] = {
      {words.frame_body, "<body>"},       {words.frame_compare_callback, "<compare-callback>"},
      {words.on_change, "on-change*"},    {words.head_q, "head?"},
      {words.put_ed, "put-ed"},           {words.local, "local"},
      {refinements.part, "/part"},        {refinements.extern_, "/extern"},
      {runtime_words::issue_ooo, "#ooo"},
  };
  for (const Case& c : cases) EXPECT_EQ(mold(c.value), c.mold);
  EXPECT_EQ(words.frame_anon.w1, context::global);
  EXPECT_EQ(context::intern_global_word(sym("<anon>")).w3, words.frame_anon.w3);
  EXPECT_EQ(refinements.part.w1, 0u);
  EXPECT_EQ(runtime_words::issue_ooo.w3, context::kUnresolved);
  EXPECT_TRUE(alloc::node_in_use(runtime_words::root_block));
}

}  // namespace
