// Contexts and binding: contexts made from specs, reading and writing words, case variants of
// global words, deep binding (cycles included), stack-held contexts, renewal, and the collector
// reaching a context through its words.
#include <functional>
#include <vector>

#include "datatypes/cell_ops.h"
#include "datatypes/runtime_words.h"
#include "datatypes/word.h"
#include "interpreter/frames.h"
#include "runtime/alloc.h"
#include "word_test_support.h"

namespace {

using word_test::WordTest;
using Context = WordTest;

// A word cell bound to the context, for the symbol.
Cell bound(uint32_t context, const char* name) {
  Cell word = Cell{TYPE_WORD, context::global, symbol::intern_c_string(name), context::kUnresolved};
  EXPECT_GE(context::bind_word(context, word), 0) << name;
  return word;
}

TEST_F(Context, MakeFromSpecTakesEachWordOnceWithOneValueEach) {
  Cell* spec = build("a b A /c :d 'e f: #g b");
  uint32_t ctx = context::make_from_spec(*spec, false, true, context::kObject);
  gc::Guard guard(ctx);
  struct Expect {
    const char* name;
    int32_t index;
  };
  const Expect expected[] = {{"a", 0}, {"A", 0}, {"b", 1}, {"c", 2}, {"d", 3}, {"e", 4},
                             {"f", -1}, {"g", -1}};
  for (const Expect& e : expected) {
    EXPECT_EQ(context::find_symbol(ctx, sym(e.name), true), e.index) << e.name;
  }
  EXPECT_EQ(context::find_symbol(ctx, sym("A"), false), -1);  // exact: only a was added
  EXPECT_EQ(context::word_count(ctx), 5u);
  EXPECT_EQ(alloc::series_of(context::values_position(ctx))->used(), 5 * sizeof(Cell));
  EXPECT_EQ(context::kind_of(ctx), context::kObject);
  EXPECT_TRUE(context::context_cell(ctx)->header & context::kHasSelf);

  // A word added later gets the next value cell, so values stay in step with words.
  Cell* slot = context::put_word_value(ctx, source_word("later"), integer(7));
  EXPECT_EQ(slot, context::values_of(ctx) + 5);
  EXPECT_EQ(context::word_value_cell(bound(ctx, "later"))->w2, 7u);
}

TEST_F(Context, WordsSetAndGetThroughTheirContext) {
  Cell* spec = build("x y");
  uint32_t ctx = context::make_from_spec(*spec, false, true, context::kObject);
  gc::Guard guard(ctx);
  Cell x = bound(ctx, "x");
  Cell y = bound(ctx, "y");
  EXPECT_EQ(cell::type_of(*context::word_value_cell(x)), TYPE_UNSET);

  context::write_word(x, integer(1));
  context::put_word_value(ctx, y, integer(2));
  EXPECT_EQ(context::word_value_cell(x)->w2, 1u);
  EXPECT_EQ(context::word_value_cell_in(y, ctx)->w2, 2u);
  EXPECT_EQ(cell::get_word_checked(x)->w2, 1u);
  // Writing into an object marks the field assigned; put does not.
  EXPECT_TRUE(context::word_at(ctx, 0)->header & context::kAssigned);
  EXPECT_FALSE(context::word_at(ctx, 1)->header & context::kAssigned);

  EXPECT_EQ(context::add_word_with_value(ctx, y, integer(9)), nullptr);
  EXPECT_EQ(context::word_value_cell(y)->w2, 2u);
  Cell* z = context::add_word_with_value(ctx, source_word("z"), integer(3));
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(context::word_value_cell(bound(ctx, "z"))->w2, 3u);
}

TEST_F(Context, BindingBindsTheContextsWordsDeeplyAndLeavesTheOthersAsTheyWere) {
  Cell* spec = build("x y z");
  uint32_t ctx = context::make_from_spec(*spec, false, true, context::kObject);
  gc::Guard guard(ctx);
  Cell* code = build("x [y :x [self 'z]] q Z: /x #x self");
  context::bind_block(*code, ctx, true);

  const uint32_t g = context::global;
  const uint32_t unresolved = context::kUnresolved;
  struct Expect {
    std::vector<uint32_t> path;
    uint32_t context;
    uint32_t index;
  };
  const Expect expected[] = {
      {{0}, ctx, 0},              // x
      {{1, 0}, ctx, 1},           // y, one level down
      {{1, 1}, ctx, 0},           // :x
      {{1, 2, 0}, ctx, unresolved},  // self, two levels down
      {{1, 2, 1}, ctx, 2},        // 'z
      {{2}, g, unresolved},       // q: not in the context, left as it was
      {{3}, ctx, 2},              // Z: case-insensitive
      {{4}, ctx, 0},              // /x
      {{5}, g, unresolved},       // #x: issues are never bound
      {{6}, ctx, unresolved},     // self
  };
  for (const Expect& e : expected) {
    SCOPED_TRACE(testing::PrintToString(e.path));
    EXPECT_EQ(at(*code, e.path)->w1, e.context);
    EXPECT_EQ(at(*code, e.path)->w3, e.index);
  }

  // Without self_too, self is a word like any other (this context has none).
  Cell* again = build("self x");
  context::bind_block(*again, ctx, false);
  EXPECT_EQ(at(*again, {0})->w1, g);
  EXPECT_EQ(at(*again, {1})->w1, ctx);
}

TEST_F(Context, SelfReadUnboundInAnObjectContextGivesTheOwner) {
  Cell* spec = build("a");
  uint32_t ctx = context::make_from_spec(*spec, false, true, context::kObject);
  gc::Guard guard(ctx);
  *context::owner_cell(ctx) = integer(42);  // stands for the owning object
  Cell* code = build("self");
  context::bind_block(*code, ctx, true);
  EXPECT_EQ(context::word_value_cell(*at(*code, {0})), context::owner_cell(ctx));
  EXPECT_EQ(context::word_value_cell(*at(*code, {0}))->w2, 42u);
}

TEST_F(Context, BindingABlockThatContainsItselfTerminates) {
  Cell* spec = build("a b");
  uint32_t ctx = context::make_from_spec(*spec, false, false, context::kObject);
  gc::Guard guard(ctx);
  Cell* code = build("a [b] c");
  block::append_cell(*at(*code, {1}), *code);  // [a [b [...]] c]: the inner block holds the outer
  block::append_cell(*code, *code);
  context::bind_block(*code, ctx, false);
  EXPECT_EQ(cycles::depth(), 0u);
  EXPECT_EQ(at(*code, {0})->w1, ctx);
  EXPECT_EQ(at(*code, {1, 0})->w1, ctx);
  EXPECT_EQ(at(*code, {1, 0})->w3, 1u);
  EXPECT_EQ(at(*code, {2})->w1, context::global);
}

TEST_F(Context, CaseVariantsOfAGlobalWordShareOneValue) {
  // The first spelling interned is the canonical one; the global words may come in either order.
  struct Case {
    const char* canonical;
    const char* variant;
    bool variant_word_first;
  };
  const Case cases[] = {
      {"ctxvar-one", "CTXVAR-ONE", false},
      {"ctxvar-two", "Ctxvar-Two", true},
      {"ctxvar-été", "CTXVAR-ÉTÉ", true},
  };
  int32_t n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variant);
    uint32_t canonical = sym(c.canonical);
    uint32_t variant = sym(c.variant);
    Cell first = context::intern_global_word(c.variant_word_first ? variant : canonical);
    Cell second = context::intern_global_word(c.variant_word_first ? canonical : variant);
    EXPECT_EQ(first.w3, second.w3);
    EXPECT_NE(first.w2, second.w2);  // each keeps its spelling

    context::write_word(first, integer(++n));
    EXPECT_EQ(context::word_value_cell(second)->w2, uint32_t(n));
    // Words met later, by binding or by name, reach the same value.
    Cell loaded = source_word(c.variant);
    ASSERT_GE(context::bind_word(context::global, loaded), 0);
    EXPECT_EQ(context::word_value_cell(loaded)->w2, uint32_t(n));
    Cell named = word::from_c_string(c.canonical);
    EXPECT_EQ(context::word_value_cell(named)->w2, uint32_t(n));
  }
}

TEST_F(Context, FailedReadsAndWritesRaiseTheirScriptErrors) {
  Cell* spec = build("a b");
  uint32_t fn = context::make_from_spec(*spec, true, false, context::kFunction);
  gc::Guard guard(fn);
  Cell in_function = bound(fn, "b");
  Cell never_set = source_word("ctxerr-never-set");
  Cell unset_global = context::intern_global_word(sym("ctxerr-unset"));
  Cell refinement{TYPE_REFINEMENT, 0, sym("ctxerr-refinement"), 0};

  struct Case {
    const char* what;
    std::function<void()> body;
    const char* error;
  };
  const Case cases[] = {
      {"unresolved word read", [&] { context::word_value_cell(never_set); }, "script/no-value"},
      {"unset value, checked read", [&] { cell::get_word_checked(unset_global); },
       "script/no-value"},
      {"unbound refinement read", [&] { context::word_value_cell(refinement); },
       "script/no-value"},
      {"function context outside its call, read",
       [&] { context::word_value_cell(in_function); }, "script/not-in-context"},
      {"function context outside its call, write",
       [&] { context::write_word(in_function, integer(1)); }, "script/not-defined"},
      {"function context outside its call, value by index",
       [&] { cell::get_context_value_cell(fn, 0); }, "script/not-defined"},
      {"unset stored from the stack",
       [&] {
         stack::push_copy(constants::unset);
         cell::set_word_from_stack(unset_global);
       },
       "script/need-value"},
      {"unset stored by index", [&] {
         stack::push_copy(constants::unset);
         cell::set_context_value_from_stack(context::global, unset_global.w3);
       },
       "script/need-value"},
  };
  for (const Case& c : cases) EXPECT_EQ(raised_by(c.body), c.error) << c.what;
}

TEST_F(Context, AStackHeldContextReadsTheCallsCells) {
  Cell* spec = build("a b c");
  uint32_t fn = context::make_from_spec(*spec, true, false, context::kFunction);
  gc::Guard guard(fn);
  EXPECT_FALSE(context::has_values(fn));
  // The call's arguments start at the data stack's very first cell.
  frames::reset_all();
  for (int32_t v : {10, 20, 30}) stack::push_copy(integer(v));
  context::set_values_position(fn, 0);
  EXPECT_TRUE(context::has_values(fn));
  EXPECT_EQ(context::word_value_cell(bound(fn, "b"))->w2, 20u);
  Cell c = bound(fn, "c");
  context::write_word(c, integer(33));
  EXPECT_EQ(stack::bottom[2].w2, 33u);
  // Symbol lookups by value go to the global context instead.
  Cell global_b = context::intern_global_word(sym("ctxstack-b"));
  context::write_word(global_b, integer(5));
  EXPECT_EQ(context::value_cell_of_symbol(sym("ctxstack-b"), fn)->w2, 5u);
  EXPECT_EQ(context::value_cell_of_symbol(sym("ctxstack-absent"), fn), nullptr);

  context::set_values_position(fn, context::kNoValues);
  EXPECT_EQ(raised_by([&] { context::word_value_cell(bound(fn, "a")); }), "script/not-in-context");
}

TEST_F(Context, WritingANewWordResolvesTheWordCellWhereverItLies) {
  // The set-words are bound to a context with room for one word, not yet looked up: adding them
  // grows the context, and the block that holds them moves meanwhile (under ZEL_GC_STRESS).
  // Each learns its index all the same.
  Cell* spec = build("a");
  uint32_t ctx = context::make_from_spec(*spec, false, true, context::kObject);
  gc::Guard guard(ctx);
  Cell* code = build("b: c: d: e: f: g:");
  for (uint32_t i = 0; i < 6; i++) at(*code, {i})->w1 = ctx;
  for (uint32_t i = 0; i < 6; i++) context::write_word(*at(*code, {i}), integer(int32_t(i)));
  for (uint32_t i = 0; i < 6; i++) {
    const Cell word = *at(*code, {i});
    EXPECT_EQ(word.w3, i + 1);
    EXPECT_EQ(context::word_value_cell(word)->w2, i);
  }
  gc::verify();
}

TEST_F(Context, RenewingGivesTheSameWordsAFreshContext) {
  Cell* spec = build("x y");
  uint32_t x = sym("x");
  uint32_t old = context::make_from_spec(*spec, false, true, context::kObject);
  gc::Guard guard(old);
  Cell* holder = stack::push_copy(Cell{TYPE_WORD, old, x, 0});
  context::put_word_value(old, source_word("x"), integer(1));

  uint32_t fresh = context::renew_with_same_words(*holder, context::kObject);
  EXPECT_NE(fresh, old);
  EXPECT_EQ(holder->w1, fresh);
  ASSERT_EQ(context::word_count(fresh), 2u);
  for (uint32_t i = 0; i < 2; i++) EXPECT_EQ(context::word_at(fresh, i)->w1, fresh);
  EXPECT_TRUE(context::context_cell(fresh)->header & context::kHasSelf);
  EXPECT_EQ(cell::type_of(*context::word_value_cell(bound(fresh, "x"))), TYPE_UNSET);
  // The copied words have their values, so a new word's value lands beside its word.
  context::put_word_value(fresh, source_word("z"), integer(3));
  EXPECT_EQ(context::word_value_cell(bound(fresh, "z"))->w2, 3u);
  EXPECT_EQ(cell::type_of(*context::word_value_cell(bound(fresh, "y"))), TYPE_UNSET);
  // The old context is untouched.
  EXPECT_EQ(context::word_value_cell(bound(old, "x"))->w2, 1u);
  EXPECT_EQ(context::find_symbol(old, sym("z"), true), -1);
}

TEST_F(Context, AddSetWordsAddsEachSetWordOnce) {
  Cell* spec = build("a");
  uint32_t ctx = context::make_from_spec(*spec, false, false, context::kObject);
  gc::Guard guard(ctx);
  Cell* code = build("b: c [d:] e: b: a:");
  EXPECT_TRUE(context::add_set_words(ctx, *code));
  EXPECT_EQ(context::word_count(ctx), 3u);  // a b e ([d:] is nested, c is no set-word)
  EXPECT_EQ(context::find_symbol(ctx, sym("e"), true), 2);
  EXPECT_EQ(context::find_symbol(ctx, sym("d"), true), -1);
  EXPECT_FALSE(context::add_set_words(ctx, *code));
}

TEST_F(Context, TheCollectorKeepsAContextWhileAWordIsBoundToIt) {
  Cell* spec = build("kept");
  uint32_t kept = sym("kept");
  uint32_t ctx = context::make_from_spec(*spec, false, true, context::kObject);
  Cell* word = stack::push_copy(Cell{TYPE_WORD, ctx, kept, 0});  // the only root
  Cell* value = build("p q");
  context::write_word(*word, *value);
  stack::pop_cells(1);  // the block is held by the context only
  gc::collect();
  ASSERT_TRUE(alloc::node_in_use(ctx));
  uint32_t q = sym("q");
  const Cell* held = context::word_value_cell(*word);
  ASSERT_EQ(cell::type_of(*held), TYPE_BLOCK);
  EXPECT_EQ(at(*held, {1})->w2, q);
  gc::verify();

  stack::pop_cells(1);
  gc::collect();
  EXPECT_FALSE(alloc::node_in_use(ctx));
}

}  // namespace
