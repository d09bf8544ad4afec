// block! and paren!: mold and form layout (new-line markers, nesting limits, blocks inside
// themselves), comparison, deep copies, and edits that splice a block into itself.
#include "child_process.h"
#include "datatypes/hashtable.h"
#include "word_test_support.h"

namespace {

using word_test::WordTest;

class Block : public WordTest {
 protected:
  // A chain of `depth` blocks, each holding the next: [[[...]]].
  static Cell* nested(int depth) {
    Cell* outer = block::push_new(1);
    for (int i = 1; i < depth; i++) {
      Cell* wrapper = block::push_new(1);
      block::append_cell(*wrapper, *outer);
      *outer = *wrapper;
      stack::pop_cells(1);
    }
    return outer;
  }

  // Appends the block to itself as one cell.
  static Cell* containing_itself(std::string_view text) {
    Cell* b = build(text);
    block::append_cell(*b, *b);
    return b;
  }

  // The whole buffer of a block cell, from the buffer start.
  static std::string whole(const Cell& b) { return cells(Cell{TYPE_BLOCK, 0, b.w2, 0}); }
};

TEST_F(Block, MoldLaysOutNewLineMarkers) {
  struct Case {
    const char* text;
    bool only;
    bool flat;
    const char* expected;
  } cases[] = {
      {"a b c", false, false, "[a b c]"},
      {"", false, false, "[]"},
      {"a [b c] (d e) none true false", false, false, "[a [b c] (d e) none true false]"},
      {"\na\nb", false, false, "[\n    a\n    b\n]"},
      {"a\nb c", false, false, "[a\nb c]"},
      {"\na [\nb c]", false, false, "[\n    a [\n        b c\n    ]\n]"},
      {"[\na]", false, false, "[[\n    a\n]]"},
      {"\na\n(\nb)", false, false, "[\n    a\n    (\n        b\n    )\n]"},
      {"\na\nb", false, true, "[a b]"},
      {"\na [\nb]", false, true, "[a [b]]"},
      {"a b", true, false, "a b"},
      {"\na\nb", true, false, "a\nb"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(*build(c.text), c.only, c.flat), c.expected) << c.text;
  }
}

TEST_F(Block, ParenMoldsWithParenthesesAndOnlyDropsThem) {
  Cell* holder = build("(a [b] c)");
  Cell* paren = stack::push_copy(*block::head_cell(*holder));
  EXPECT_EQ(cell::type_of(*paren), TYPE_PAREN);
  EXPECT_EQ(mold(*paren), "(a [b] c)");
  EXPECT_EQ(mold(*paren, true), "a [b] c");
  EXPECT_EQ(form(*paren), "a b c");
}

TEST_F(Block, MoldStopsWalkingOnceThePartLimitIsSpent) {
  EXPECT_EQ(mold(*build("a b c d e f"), false, false, 4), "[a b]");
  EXPECT_EQ(mold(*build("a b c d e f"), false, false, 1), "[]");
}

TEST_F(Block, FormWritesNoBracketsAndNoSpaceAfterABreak) {
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"a b c", "a b c"},
      {"a [b [c]] (d) e", "a b c d e"},
      {"", ""},
      {"none true", "none true"},
      {"\na\nb", "a b"},
  };
  for (const Case& c : cases) EXPECT_EQ(form(*build(c.text)), c.expected) << c.text;

  Cell* b = build("a");
  block::append_cell(*b, source_word("\n"));  // a word spelt as a line feed
  block::append_cell(*b, source_word("b"));
  EXPECT_EQ(form(*b), "a \nb");
}

TEST_F(Block, NestingNineHundredNinetyNineDeepMoldsAndOneThousandRaises) {
  std::string expected = std::string(999, '[') + std::string(999, ']');
  EXPECT_EQ(mold(*nested(999)), expected);
  EXPECT_EQ(cycles::depth(), 0u);
  Cell* deeper = nested(1000);
  EXPECT_EQ(raised_by([&] { mold(*deeper); }), "internal/too-deep");
  EXPECT_EQ(raised_by([&] { form(*deeper); }), "internal/too-deep");
}

TEST_F(Block, ABlockInsideItselfPrintsTheCycleMarker) {
  Cell* b = containing_itself("a");
  EXPECT_EQ(mold(*b), "[a [...]]");
  EXPECT_EQ(form(*b), "a ...");
  Cell* only_itself = containing_itself("");
  EXPECT_EQ(mold(*only_itself), "[[...]]");
  EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Block, CompareByLengthThenElements) {
  struct Case {
    const char* a;
    const char* b;
    int32_t op;
    int32_t expected;
  } cases[] = {
      {"a b", "a b", action::EQUAL, 0},
      {"a b", "a c", action::LESSER, -1},
      {"a c", "a b", action::GREATER, 1},
      {"a b", "a b c", action::EQUAL, 1},
      {"z", "a b", action::EQUAL, 1},
      {"a b", "a b c", action::LESSER, -1},
      {"z", "a b", action::LESSER, 1},
      {"", "a", action::LESSER, -1},
      {"a none", "a b", action::LESSER, -1},  // none! orders before word!
      {"a [b c]", "a [b c]", action::EQUAL, 0},
      {"a [b c]", "a [b d]", action::EQUAL, 1},  // the first differing element decides
      {"a b", "a b", action::SAME, -1},       // equal, but two buffers
  };
  for (const Case& c : cases) {
    Cell* a = build(c.a);
    Cell* b = build(c.b);
    EXPECT_EQ(block::compare(a, b, c.op), c.expected) << c.a << " / " << c.b << " op " << c.op;
  }
  Cell* a = build("a");
  Cell* same = stack::push_copy(*a);
  EXPECT_EQ(block::compare(a, same, action::SAME), 0);
  Cell* paren = stack::push_copy(*a);
  cell::set_type(*paren, TYPE_PAREN);
  EXPECT_EQ(block::compare(a, paren, action::EQUAL), action::kNotComparable);
}

TEST_F(Block, CompareOfBlocksInsideThemselvesEnds) {
  Cell* a = containing_itself("x");
  Cell* b = containing_itself("x");
  EXPECT_EQ(block::compare(a, b, action::EQUAL), 0);
  Cell* c = containing_itself("y");
  EXPECT_NE(block::compare(a, c, action::EQUAL), 0);
  EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Block, CopyDeepCopiesEveryNestedSeries) {
  Cell* original = build("a [b [c]] (d)");
  Cell* copy = stack::push_copy(*original);
  block::copy(copy, copy, nullptr, true, nullptr);
  EXPECT_EQ(cells(*copy), "a [b [c]] (d)");
  Cell* inner_original = stack::push_copy(*block::cell_at(*original, 1));
  Cell* inner_copy = stack::push_copy(*block::cell_at(*copy, 1));
  EXPECT_NE(inner_copy->w2, inner_original->w2);
  EXPECT_NE(block::cell_at(*inner_copy, 1)->w2, block::cell_at(*inner_original, 1)->w2);
  EXPECT_NE(block::cell_at(*copy, 2)->w2, block::cell_at(*original, 2)->w2);
  block::append_cell(*inner_copy, source_word("z"));
  EXPECT_EQ(cells(*original), "a [b [c]] (d)");

  Cell* shallow = stack::push_copy(*original);
  block::copy(shallow, shallow, nullptr, false, nullptr);
  EXPECT_EQ(block::cell_at(*shallow, 1)->w2, block::cell_at(*original, 1)->w2);

  // With a datatype: only cells of that type are copied, one level without deep.
  Cell* types = stack::push_copy(Cell{TYPE_DATATYPE, TYPE_BLOCK, 0, 0});
  Cell* typed = stack::push_copy(*original);
  block::copy(typed, typed, nullptr, false, types);
  Cell* typed_inner = stack::push_copy(*block::cell_at(*typed, 1));
  EXPECT_NE(typed_inner->w2, inner_original->w2);
  EXPECT_EQ(block::cell_at(*typed_inner, 1)->w2, block::cell_at(*inner_original, 1)->w2);
  EXPECT_EQ(block::cell_at(*typed, 2)->w2, block::cell_at(*original, 2)->w2);
}

TEST_F(Block, DeepCopiesOfABlockInsideItselfRaiseNoCycle) {
  Cell* b = containing_itself("a");
  Cell* copy = stack::push_copy(*b);
  EXPECT_EQ(raised_by([&] { block::copy(copy, copy, nullptr, true, nullptr); }), "internal/no-cycle");
  EXPECT_EQ(raised_by([&] { block::push_clone(*b, true, false); }), "internal/no-cycle");
}

TEST_F(Block, PushCloneCopiesFromTheHeadAndDeepNestedBlocks) {
  Cell* b = build_at("a [b] (c)", 1);
  Cell* clone = block::push_clone(*b, true, false);
  EXPECT_EQ(cells(*clone), "[b] (c)");
  EXPECT_NE(block::cell_at(*clone, 0)->w2, block::cell_at(*b, 1)->w2);
  EXPECT_EQ(block::cell_at(*clone, 1)->w2, block::cell_at(*b, 2)->w2);  // a paren! is kept
  Cell* all = block::push_clone(*b, true, true);
  EXPECT_NE(block::cell_at(*all, 1)->w2, block::cell_at(*b, 2)->w2);
}

// Splicing a block into itself takes the cells it held before the edit.
TEST_F(Block, InsertAppendAndChangeOfABlockIntoItself) {
  enum Op { kInsert, kAppend, kChange };
  struct Case {
    Op op;
    int32_t target_head;
    int32_t value_head;
    int32_t part;
    int32_t dup;
    const char* expected;
    int32_t head_after;
  } cases[] = {
      {kInsert, 0, 1, -1, 1, "b c a b c", 2},
      {kInsert, 1, 0, -1, 1, "a a b c b c", 4},
      {kInsert, 3, 0, -1, 1, "a b c a b c", 6},
      {kInsert, 0, 1, 1, 1, "b a b c", 1},
      {kInsert, 1, 0, -1, 2, "a a b c a b c b c", 7},
      {kInsert, 2, 1, -1, 1, "a b b c c", 4},
      {kAppend, 0, 0, -1, 1, "a b c a b c", 0},
      {kAppend, 2, 1, -1, 1, "a b c b c", 0},
      {kChange, 0, 1, -1, 1, "b c c", 2},
      {kChange, 1, 0, -1, 1, "a a b c", 4},
      {kChange, 2, 0, 1, 1, "a b a b c", 5},
  };
  for (const Case& c : cases) {
    Cell* target = build_at("a b c", c.target_head);
    Cell* value = stack::push_copy(*target);
    value->w1 = static_cast<uint32_t>(c.value_head);
    if (c.op == kChange) {
      block::change(target, value, c.part, false, c.dup);
    } else {
      block::insert(target, value, c.part, false, c.dup, c.op == kAppend);
    }
    EXPECT_EQ(whole(*target), c.expected) << "case " << &c - cases;
    EXPECT_EQ(int32_t(target->w1), c.head_after) << "case " << &c - cases;
  }
}

TEST_F(Block, AppendAndInsertOfOtherValues) {
  Cell* b = build_at("a b", 1);
  Cell* empty = build("");
  block::insert(b, empty, -1, false, 1, true);
  EXPECT_EQ(whole(*b), "a b");

  Cell* value = build("x y");
  block::insert(b, value, -1, true, 1, true);  // /only: one cell
  EXPECT_EQ(whole(*b), "a b [x y]");
  EXPECT_EQ(b->w1, 0u);

  b->w1 = 1;
  Cell* single = stack::push_copy(source_word("z"));
  block::insert(b, single, -1, false, 3, true);
  EXPECT_EQ(whole(*b), "a b [x y] z z z");
  EXPECT_EQ(b->w1, 0u);

  block::insert(b, value, -1, false, 1, false);
  EXPECT_EQ(whole(*b), "x y a b [x y] z z z");
  EXPECT_EQ(b->w1, 2u);

  Cell* past = build_at("a", 5);  // a head past the tail inserts at the tail
  block::insert(past, single, -1, false, 1, false);
  EXPECT_EQ(whole(*past), "a z");
  EXPECT_EQ(past->w1, 2u);
}

TEST_F(Block, ChangeReplacesAsManyCellsAsItInserts) {
  struct Case {
    int32_t head;
    const char* value;
    bool only;
    int32_t part;
    int32_t dup;
    const char* expected;
    int32_t head_after;
  } cases[] = {
      {1, "x", false, -1, 1, "a x c d", 2},
      {1, "x y", false, -1, 1, "a x y d", 3},
      {1, "x y", true, -1, 1, "a [x y] c d", 2},
      {1, "x", false, 10, 1, "a x", 2},
      {1, "x", false, 0, 1, "a x b c d", 2},
      {3, "x y z", false, -1, 1, "a b c x y z", 6},
      {0, "x", false, -1, 2, "x x c d", 2},
      {1, "", false, 2, 1, "a d", 1},
  };
  for (const Case& c : cases) {
    Cell* b = build_at("a b c d", c.head);
    Cell* value = build(c.value);
    block::change(b, value, c.part, c.only, c.dup);
    EXPECT_EQ(whole(*b), c.expected) << c.value << " part " << c.part;
    EXPECT_EQ(int32_t(b->w1), c.head_after) << c.value << " part " << c.part;
  }
}

TEST_F(Block, TakeGivesTheCellItselfOrABlock) {
  Cell* b = build("[a] b c");
  Cell* first = stack::push_copy(*b);
  Cell* inner = stack::push_copy(*block::cell_at(*b, 0));
  block::take(first, nullptr, false, false);
  EXPECT_EQ(cell::type_of(*first), TYPE_BLOCK);
  EXPECT_EQ(first->w2, inner->w2);  // the taken cell itself
  EXPECT_EQ(cells(*b), "b c");

  Cell* two = stack::push_copy(*b);
  Cell* part = stack::push_copy(integer(2));
  block::take(two, part, false, false);
  EXPECT_EQ(mold(*two), "[b c]");
  EXPECT_EQ(cells(*b), "");

  Cell* deep_source = build("[a] b");
  Cell* deep_inner = stack::push_copy(*block::cell_at(*deep_source, 0));
  Cell* one = stack::push_copy(integer(1));
  block::take(deep_source, one, true, false);
  EXPECT_EQ(mold(*deep_source), "[[a]]");
  EXPECT_NE(block::cell_at(*deep_source, 0)->w2, deep_inner->w2);

  Cell* empty = build("");
  EXPECT_EQ(cell::type_of(*block::take(empty, nullptr, false, true)), TYPE_NONE);
}

TEST_F(Block, TrimRemovesEveryNone) {
  Cell* b = build_at("none a none none b none", 0);
  block::trim(b, {});
  EXPECT_EQ(whole(*b), "a b");
  Cell* later = build_at("none a none", 1);
  block::trim(later, {});
  EXPECT_EQ(whole(*later), "none a");
}

TEST_F(Block, SwapExchangesTheHeadCells) {
  Cell* a = build("a b");
  Cell* x = build_at("x y", 1);
  block::swap(a, x);
  EXPECT_EQ(whole(*a), "y b");
  EXPECT_EQ(whole(*x), "x a");
  Cell* tail = build_at("p", 1);
  block::swap(a, tail);
  EXPECT_EQ(whole(*a), "y b");
  Cell* none = stack::push_copy(constants::none);
  EXPECT_EQ(raised_by([&] { block::swap(a, none); }), "script/invalid-arg");
}

TEST_F(Block, MakeAndTo) {
  Cell* proto = stack::push_copy(Cell{TYPE_DATATYPE, TYPE_BLOCK, 0, 0});
  Cell* capacity = stack::push_copy(integer(10));
  block::make(proto, capacity, TYPE_BLOCK);
  EXPECT_EQ(proto->header, TYPE_BLOCK);
  EXPECT_EQ(block::rest_length(*proto), 0);
  EXPECT_GE(alloc::series_of(proto->w2)->capacity, 10 * sizeof(Cell));

  Cell* spec = build_at("a b c", 1);
  block::make(proto, spec, TYPE_PAREN);
  EXPECT_EQ(mold(*proto), "(b c)");
  EXPECT_NE(proto->w2, spec->w2);

  Cell* none = stack::push_copy(constants::none);
  EXPECT_EQ(raised_by([&] { block::make(proto, none, TYPE_BLOCK); }), "script/bad-make-arg");
  block::to(proto, none, TYPE_BLOCK);
  EXPECT_EQ(mold(*proto), "[none]");
}

TEST_F(Block, LowLevelSplicesOfABlockIntoItself) {
  Cell* b = build("a b c");
  block::append_all(b, *b);
  EXPECT_EQ(whole(*b), "a b c a b c");

  Cell* c = build_at("a b c", 1);
  Cell* source = stack::push_copy(*c);
  source->w1 = 0;
  block::insert_all(*c, *source);
  EXPECT_EQ(whole(*c), "a a b c b c");
  EXPECT_EQ(c->w1, 4u);

  Cell* d = build_at("a b", 1);
  block::insert_value(*d, *block::cell_at(*d, 0), true, false);
  EXPECT_EQ(whole(*d), "a a b");
  EXPECT_EQ(d->w1, 2u);
  block::insert_value(*d, *block::cell_at(*d, 2), false, true);
  EXPECT_EQ(whole(*d), "b a a b");
}

// A source whose head lies before its first cell gives its cells from the first: nothing is read
// from before the buffer.
TEST_F(Block, LowLevelSplicesReadASourceHeadBeforeTheStartFromTheStart) {
  Cell* source = build_at("a b", -3);
  Cell* b = build("x");
  block::append_all(b, *source);
  EXPECT_EQ(whole(*b), "x a b");
  Cell* c = build("x");
  block::insert_all(*c, *source);
  EXPECT_EQ(whole(*c), "a b x");
  EXPECT_EQ(c->w1, 2u);
}

// A head before the first cell compares and copies from the first cell, as its length counts.
TEST_F(Block, AHeadBeforeTheStartComparesAndClonesFromTheStart) {
  Cell* a = build_at("a b c", -2);
  Cell* b = build("a b c");
  EXPECT_EQ(block::compare(a, b, action::EQUAL), 0);
  EXPECT_EQ(block::compare(b, a, action::EQUAL), 0);
  EXPECT_EQ(mold(*block::push_clone(*a, false, false)), "[a b c]");
}

TEST_F(Block, SelectAndRemoveValue) {
  Cell* b = build("a b c b");
  Cell key = source_word("b");
  EXPECT_EQ(form(*block::select_value(*b, key)), "c");
  EXPECT_EQ(cell::type_of(*block::select_value(*b, source_word("z"))), TYPE_NONE);
  b->w1 = 2;
  EXPECT_TRUE(block::remove_value(*b, key, false));
  EXPECT_EQ(whole(*b), "a b c");
  EXPECT_TRUE(block::remove_value(*b, key, true));
  EXPECT_EQ(whole(*b), "a c");
  EXPECT_FALSE(block::remove_value(*b, key, true));
}

TEST_F(Block, BlocksWithoutAParentStayAliveThroughCollections) {
  uint32_t node = block::append_to_block(nullptr, 4)->w2;
  uint32_t on_heap = block::append_c_heap_to_block(nullptr, 4)->w2;
  Cell* parent = build("a");
  uint32_t child = block::append_to_block(parent, 2)->w2;
  gc::collect();
  gc::collect();
  for (uint32_t n : {node, on_heap, child}) {
    EXPECT_TRUE(alloc::node_in_use(n));
    EXPECT_EQ(alloc::series_of(n)->node, n);
  }
  EXPECT_EQ(mold(*parent), "[a []]");
}

// The hash! index follows every edit: each cell is found at its first position, and a value
// the edit dropped is not found at all. The cells are marked here as the hash! type will.
void mark_hash_cell(const Cell& value) {
  gc::mark_block(value.w2);
  if (value.w3) hashtable::mark(value.w3);
}

// hash! has no collector entry yet: the test's own one lives only in a child process.
TEST_F(Block, EditsKeepAHashIndexInStep) {
  child_process::expect_passes([] {
    gc::set_type_marker(TYPE_HASH, mark_hash_cell);
    enum Edit { kInsert, kAppend, kChange, kRemove, kReverse, kTake, kMove, kClear, kPoke, kSwap };
    struct Case {
      Edit edit;
      int32_t head;
      const char* expected;
    } cases[] = {
        {kInsert, 1, "a x y b c d e"}, {kAppend, 0, "a b c d e x y"}, {kChange, 1, "a x y d e"},
        {kRemove, 1, "a d e"},         {kReverse, 1, "a e d c b"},    {kTake, 1, "a c d e"},
        {kMove, 0, "b c d a e"},       {kClear, 2, "a b"},            {kPoke, 1, "a x c d e"},
        {kSwap, 0, "x b c d e"},
    };
    for (const Case& c : cases) {
      Cell* h = build("a b c d e");
      cell::set_type(*h, TYPE_HASH);
      h->w3 = hashtable::make(8, h->w2, hashtable::kHash, 0);
      h->w1 = static_cast<uint32_t>(c.head);
      Cell* xy = build("x y");
      Cell* two = stack::push_copy(integer(2));
      switch (c.edit) {
        case kInsert: block::insert(h, xy, -1, false, 1, false); break;
        case kAppend: block::insert(h, xy, -1, false, 1, true); break;
        case kChange: block::change(h, xy, -1, false, 1); break;
        case kRemove: series::remove(h, two, nullptr); break;
        case kReverse: series::reverse(h, nullptr, nullptr); break;
        case kTake: block::take(stack::push_copy(*h), nullptr, false, false); break;
        case kMove: {
          Cell* target = stack::push_copy(*h);
          target->w1 = 3;
          series::move(h, target, nullptr);
          break;
        }
        case kClear: series::clear(h); break;
        case kPoke: series::poke(h, 1, stack::push_copy(source_word("x")), nullptr); break;
        case kSwap: block::swap(h, xy); break;
      }
      std::string text = whole(*h);
      EXPECT_EQ(text, c.expected) << "case " << &c - cases;
      for (char v : std::string("abcdexyz")) {
        Cell key = source_word(std::string(1, v).c_str());
        Cell* found = hashtable::find(h->w3, &key, 0, 1, action::STRICT_EQUAL, false, false);
        size_t at = text.find(v);
        int64_t expected = at == std::string::npos ? -1 : int64_t(at / 2);
        int64_t index = found ? found - block::cell_at(*h, 0) : -1;
        EXPECT_EQ(index, expected) << "case " << &c - cases << " value " << v;
      }
    }
  });
}

}  // namespace
