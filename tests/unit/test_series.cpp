// series!: position arithmetic, pick and poke, and the editing actions (clear, remove, reverse,
// copy, take, move) on blocks of cells, with their edge cases: heads past a shortened buffer,
// counts that are zero, negative or too large, and records of reverse/skip.
#include "word_test_support.h"

namespace {

using word_test::WordTest;

class Series : public WordTest {
 protected:
  // Runs an action that works on the frame's cells: arguments[0] is the series, [1] the operand.
  static Cell on_frame(void (*action)(), const Cell& series, const Cell& operand = Cell{}) {
    Cell* saved = stack::args;
    stack::args = stack::top;
    stack::push_copy(series);
    stack::push_copy(operand);
    action();
    Cell result = *stack::arg(0);
    stack::top = stack::args;
    stack::args = saved;
    return result;
  }
  // The cells of the whole buffer, whatever the head.
  static std::string whole(const Cell& block) {
    Cell c = block;
    c.w1 = 0;
    return cells(c);
  }
};

TEST_F(Series, AtAndSkipClampTheirTargetToTheBuffer) {
  struct Case {
    void (*action)();
    int32_t start;
    int32_t offset;
    int32_t expected;
  } cases[] = {
      {series::at, 0, 0, 0},   {series::at, 0, 1, 0},    {series::at, 0, -1, 0},
      {series::at, 2, -1, 1},  {series::at, 0, 100, 3},  {series::at, 1, 2, 2},
      {series::skip, 1, 1, 2}, {series::skip, 1, -5, 0}, {series::skip, 1, 100, 3},
      {series::skip, 2, 0, 2},
  };
  for (const Case& c : cases) {
    Cell* b = build_at("a b c", c.start);
    Cell result = on_frame(c.action, *b, integer(c.offset));
    EXPECT_EQ(int32_t(result.w1), c.expected) << "start " << c.start << " offset " << c.offset;
  }
  Cell* b = build("a b c");
  Cell not_integer = constants::none;
  EXPECT_EQ(raised_by([&] { on_frame(series::at, *b, not_integer); }), "script/invalid-arg");
}

TEST_F(Series, NextAndBackStopAtTheEnds) {
  Cell* tail = build_at("a b", 2);
  EXPECT_EQ(on_frame(series::next, *tail).w1, 2u);
  Cell* head = build("a b");
  EXPECT_EQ(on_frame(series::back, *head).w1, 0u);
  EXPECT_EQ(on_frame(series::next, *head).w1, 1u);
  Cell* second = build_at("a b", 1);
  EXPECT_EQ(on_frame(series::back, *second).w1, 0u);
}

TEST_F(Series, PositionQueries) {
  Cell* b = build_at("a b c", 3);
  Cell tail_q = on_frame(series::tail_q, *b);
  EXPECT_EQ(cell::type_of(tail_q), TYPE_LOGIC);
  EXPECT_EQ(tail_q.w1, 1u);
  EXPECT_EQ(on_frame(series::head_q, *b).w1, 0u);
  Cell index = on_frame(series::index, *b);
  EXPECT_EQ(cell::type_of(index), TYPE_INTEGER);
  EXPECT_EQ(index.w2, 4u);
  EXPECT_EQ(on_frame(series::head, *b).w1, 0u);
  Cell* h = build("a b c");
  EXPECT_EQ(on_frame(series::tail, *h).w1, 3u);
}

TEST_F(Series, PickCountsFromTheHeadAndBackwardsBeforeIt) {
  struct Case {
    int32_t head;
    int32_t n;
    const char* expected;  // the picked letter, or "none"
  } cases[] = {
      {1, 0, "none"}, {1, 1, "b"}, {1, -1, "a"}, {1, 3, "d"}, {1, 4, "none"},
      {0, -1, "none"}, {1, -2, "none"}, {4, -4, "a"},
  };
  for (const Case& c : cases) {
    Cell* b = build_at("a b c d", c.head);
    Cell picked = *series::pick(b, c.n, nullptr);
    Cell* shown = stack::push_copy(picked);
    EXPECT_EQ(form(*shown), c.expected) << "head " << c.head << " pick " << c.n;
  }
}

TEST_F(Series, PokeStoresOrRaisesOutOfRangeWithTheIndex) {
  Cell* b = build_at("a b c", 1);
  Cell* value = stack::push_copy(source_word("z"));
  EXPECT_EQ(series::poke(b, 2, value, nullptr), value);
  EXPECT_EQ(cells(Cell{TYPE_BLOCK, 0, b->w2, 0}), "a b z");
  for (int32_t n : {0, 3, -2}) {
    EXPECT_EQ(raised_by([&] { series::poke(b, n, value, nullptr); }), "script/out-of-range") << n;
  }
}

TEST_F(Series, LengthOfAHeadPastAShortenedBufferIsZeroAndMovesTheHead) {
  Cell* whole = build("a b c d");
  Cell* late = stack::push_copy(*whole);
  late->w1 = 3;
  Cell* cut = stack::push_copy(*whole);
  cut->w1 = 1;
  series::clear(cut);  // the buffer now holds one cell
  EXPECT_EQ(series::length(late), 0);
  EXPECT_EQ(late->w1, 1u);
  EXPECT_EQ(series::length(whole), 1);
  EXPECT_TRUE(series::at_tail(*late));
}

TEST_F(Series, ClearCutsAtTheHeadAndLeavesATailUntouched) {
  Cell* b = build_at("a b c", 1);
  series::clear(b);
  b->w1 = 0;
  EXPECT_EQ(cells(*b), "a");
  Cell* tail = build_at("a b", 2);
  series::clear(tail);
  tail->w1 = 0;
  EXPECT_EQ(cells(*tail), "a b");
}

TEST_F(Series, RemoveTakesPartCountsAndIgnoresEmptyOnes) {
  struct Case {
    int32_t head;
    int32_t part;  // INT32_MIN: no /part
    const char* expected;
  } cases[] = {
      {0, INT32_MIN, "b c d"}, {1, 2, "a d"}, {1, 0, "a b c d"},  {1, -1, "a b c d"},
      {2, 10, "a b"},          {4, 1, "a b c d"},
  };
  for (const Case& c : cases) {
    Cell* b = build_at("a b c d", c.head);
    Cell* part = c.part == INT32_MIN ? nullptr : stack::push_copy(integer(c.part));
    series::remove(b, part, nullptr);
    b->w1 = 0;
    EXPECT_EQ(cells(*b), c.expected) << "head " << c.head << " part " << c.part;
  }
  Cell* b = build("a b c d");
  Cell* position = stack::push_copy(*b);
  position->w1 = 3;
  series::remove(b, position, nullptr);
  EXPECT_EQ(cells(*b), "d");
  Cell* other = build("a b");
  EXPECT_EQ(raised_by([&] { series::remove(b, other, nullptr); }), "script/invalid-refine-arg");
}

TEST_F(Series, ReverseWholeRangesAndRecords) {
  struct Case {
    const char* text;
    int32_t head;
    int32_t part;  // INT32_MIN: none
    int32_t skip;  // INT32_MIN: none
    const char* expected;  // whole buffer afterwards, or the error as category/id
  } cases[] = {
      {"a b c d", 0, INT32_MIN, INT32_MIN, "d c b a"},
      {"a b c d e", 1, 3, INT32_MIN, "a d c b e"},
      {"a b c d", 0, INT32_MIN, 2, "c d a b"},
      {"a b c d", 0, INT32_MIN, 4, "a b c d"},
      {"a b c d", 0, INT32_MIN, 3, "script/invalid-refine-arg"},
      {"a b c d", 0, INT32_MIN, 5, "script/invalid-refine-arg"},
      {"a b c d", 0, INT32_MIN, 0, "script/out-of-range"},
      {"a b c d e f", 0, 4, 2, "c d a b e f"},
      {"a b c d", 2, 10, INT32_MIN, "a b d c"},
      {"a b", 2, INT32_MIN, INT32_MIN, "a b"},
  };
  for (const Case& c : cases) {
    Cell* b = build_at(c.text, c.head);
    Cell* part = c.part == INT32_MIN ? nullptr : stack::push_copy(integer(c.part));
    Cell* skip = c.skip == INT32_MIN ? nullptr : stack::push_copy(integer(c.skip));
    std::string error = raised_by([&] { series::reverse(b, part, skip); });
    b->w1 = 0;
    EXPECT_EQ(error.empty() ? cells(*b) : error, c.expected) << c.text << " skip " << c.skip;
  }
}

TEST_F(Series, CopyWithIntegerParts) {
  struct Case {
    int32_t head;
    int32_t part;  // INT32_MIN: none
    const char* expected;
  } cases[] = {
      {1, INT32_MIN, "b c d e"}, {1, 2, "b c"},  {1, 100, "b c d e"}, {3, -2, "b c"},
      {2, -5, "a b"},            {5, -1, "e"},   {5, 2, ""},          {0, 0, ""},
  };
  for (const Case& c : cases) {
    Cell* b = build_at("a b c d e", c.head);
    Cell* part = c.part == INT32_MIN ? nullptr : stack::push_copy(integer(c.part));
    Cell* result = stack::push_copy(constants::none);
    series::copy(b, result, part, false, nullptr);
    EXPECT_EQ(result->w1, 0u);
    EXPECT_NE(result->w2, b->w2);
    EXPECT_EQ(cells(*result), c.expected) << "head " << c.head << " part " << c.part;
  }
}

TEST_F(Series, CopyKeepsTheNewLineMarkerOfTheCellOnly) {
  Cell* b = build("a b");
  b->header |= cell::kNewLine | 0x100;
  series::copy(b, b, nullptr, false, nullptr);
  EXPECT_EQ(b->header, TYPE_BLOCK | cell::kNewLine);
}

// The engine leaves a series of the taken elements (or none) in the cell.
TEST_F(Series, TakeRemovesFromTheHeadTheTailOrBeforeTheHead) {
  struct Case {
    int32_t head;
    int32_t part;  // INT32_MIN: none
    bool last;
    const char* taken;  // or "none"
    const char* left;
  } cases[] = {
      {0, INT32_MIN, false, "a", "b c d e"}, {0, INT32_MIN, true, "e", "a b c d"},
      {1, 2, false, "b c", "a d e"},         {1, 2, true, "d e", "a b c"},
      {3, -2, false, "b c", "a d e"},        {1, -5, false, "a", "b c d e"},
      {1, 100, false, "b c d e", "a"},       {1, 0, false, "", "a b c d e"},
      {5, 1, false, "none", "a b c d e"},    {2, -1, true, "", "a b c d e"},
  };
  for (const Case& c : cases) {
    Cell* b = build_at("a b c d e", c.head);
    Cell* whole = stack::push_copy(*b);
    whole->w1 = 0;
    Cell* part = c.part == INT32_MIN ? nullptr : stack::push_copy(integer(c.part));
    Cell* result = series::take(b, part, false, c.last);
    std::string taken = cell::type_of(*result) == TYPE_NONE ? "none" : cells(*result);
    EXPECT_EQ(taken, c.taken) << "head " << c.head << " part " << c.part << " last " << c.last;
    EXPECT_EQ(cells(*whole), c.left) << "head " << c.head << " part " << c.part;
  }
  Cell* empty = build("");
  EXPECT_EQ(cell::type_of(*series::take(empty, nullptr, false, false)), TYPE_NONE);
}

// Each take gets a buffer of its own: an earlier result is not overwritten by a later take.
TEST_F(Series, TakeResultsDoNotShareABuffer) {
  Cell* b = build("a b c");
  Cell* first = stack::push_copy(*b);
  series::take(first, nullptr, false, false);
  Cell* second = stack::push_copy(*b);
  series::take(second, nullptr, false, false);
  EXPECT_NE(first->w2, second->w2);
  EXPECT_EQ(cells(*first), "a");
  EXPECT_EQ(cells(*second), "b");
  EXPECT_EQ(cells(*b), "c");
}

TEST_F(Series, MoveWithinOneBlock) {
  struct Case {
    int32_t from;
    int32_t to;
    int32_t part;  // INT32_MIN: none
    const char* expected;
  } cases[] = {
      {0, 3, INT32_MIN, "b c d a e f"}, {0, 1, INT32_MIN, "b a c d e f"},
      {4, 1, INT32_MIN, "a e b c d f"}, {0, 6, INT32_MIN, "b c d e f a"},
      {0, 4, 2, "c d e a b f"},         {1, 2, 2, "a b c d e f"},
      {5, 0, 3, "f a b c d e"},         {0, 3, 0, "a b c d e f"},
  };
  for (const Case& c : cases) {
    Cell* b = build_at("a b c d e f", c.from);
    Cell* target = stack::push_copy(*b);
    target->w1 = static_cast<uint32_t>(c.to);
    Cell* part = c.part == INT32_MIN ? nullptr : stack::push_copy(integer(c.part));
    series::move(b, target, part);
    b->w1 = 0;
    EXPECT_EQ(cells(*b), c.expected) << c.from << " -> " << c.to << " part " << c.part;
  }
}

TEST_F(Series, MoveBetweenBlocksAndRefusals) {
  Cell* origin = build_at("a b c", 1);
  Cell* target = build_at("x y", 1);
  Cell* part = stack::push_copy(integer(5));
  EXPECT_EQ(series::move(origin, target, part), target);
  origin->w1 = 0;
  target->w1 = 0;
  EXPECT_EQ(cells(*origin), "a");
  EXPECT_EQ(cells(*target), "x b c y");

  Cell* text = stack::push_copy(constants::none);
  string::init_empty(text, 4);
  string::append_c_string(*text, "pq");
  EXPECT_EQ(raised_by([&] { series::move(target, text, nullptr); }), "script/move-bad");
  Cell* no_series = stack::push_copy(constants::none);
  EXPECT_EQ(raised_by([&] { series::move(target, no_series, nullptr); }), "script/expect-arg");
}

// A head before the first element (a negative index) counts as the first element, as length
// counts it: no edit reads or writes before the buffer. Nor does skipping back make such a head.
TEST_F(Series, AHeadBeforeTheStartActsAsTheStart) {
  using Run = std::string (*)(Cell* b);  // the edit's outcome, from the block at head -2
  struct Case {
    const char* name;
    Run run;
    const char* expected;
  };
  const Case cases[] = {
      {"clear", [](Cell* b) { series::clear(b); return whole(*b); }, ""},
      {"reverse", [](Cell* b) { series::reverse(b, nullptr, nullptr); return whole(*b); },
       "d c b a"},
      {"copy",
       [](Cell* b) {
         Cell* result = stack::push_copy(constants::none);
         series::copy(b, result, nullptr, false, nullptr);
         return cells(*result);
       },
       "a b c d"},
      {"take",
       [](Cell* b) {
         Cell* whole_block = stack::push_copy(*b);
         std::string taken = cells(*series::take(b, nullptr, false, false));
         return taken + " | " + whole(*whole_block);
       },
       "a | b c d"},
      {"move within",
       [](Cell* b) {
         Cell* target = stack::push_copy(*b);
         target->w1 = 2;
         series::move(b, target, nullptr);
         return whole(*b);
       },
       "b c a d"},
      {"move between",
       [](Cell* b) {
         Cell* target = build_at("x y", 1);
         series::move(b, target, nullptr);
         return whole(*target) + " | " + whole(*b);
       },
       "x a y | b c d"},
      {"swap",
       [](Cell* b) {
         Cell* other = build("x y");
         datatype::lookup<action::SWAP>(TYPE_BLOCK)(b, other);
         return whole(*b) + " | " + whole(*other);
       },
       "x b c d | a y"},
      {"skip back",
       [](Cell* b) {
         b->w1 = 1;
         series::skip_head(*b, -5);
         return std::to_string(b->w1);
       },
       "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* b = build_at("a b c d", -2);
    EXPECT_EQ(c.run(b), c.expected);
  }
}

TEST_F(Series, ReflectOwnedOfASeriesWithoutOwnerIsNone) {
  Cell* b = build("a b");
  series::reflect(b, runtime_words::symbols.owned);
  EXPECT_EQ(cell::type_of(*b), TYPE_NONE);
  Cell* other = build("a");
  EXPECT_EQ(raised_by([&] { series::reflect(other, runtime_words::symbols.spec); }), "internal/not-done");
}

}  // namespace
