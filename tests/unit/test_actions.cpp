// Action dispatch: the dispatchers called as the interpreter calls them (a native frame, the
// operands as its cells, refinement positions), the lookup errors, comparison by operator, the
// series refinement rules of append/insert/change, and form/mold with /part. Builds on
// word_test_support.h; every value a test makes lives on the data stack.
#include <cstring>
#include <initializer_list>
#include <vector>

#include "datatypes/error.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "interpreter/dispatch.h"
#include "interpreter/frames.h"
#include "word_test_support.h"

namespace {

using namespace action;

class ActionsTest : public word_test::WordTest {
 protected:
  static const Cell& frame_word() { return runtime_words::words.append; }

  // Runs the slot's dispatcher in a native frame named `append` over copies of the operands;
  // `refinements` lists the positions of the first refinements (the rest are absent). The result
  // stays on the stack as the newest cell.
  static Cell* call(Slot slot, std::initializer_list<Cell> operands,
                    std::vector<int32_t> refinements = {}) {
    refinements.resize(11, -1);  // find has the most refinements
    frames::mark_native(frame_word());
    for (const Cell& c : operands) stack::push_copy(c);
    dispatch::dispatcher(slot)(refinements.data());
    frames::unwind();
    return stack::top_cell();
  }

  // The error the body raised, as category/id ("" when it returned). The try frame runs above an
  // unnamed frame of its own, so that leaving the try frame keeps the cells the test made; a
  // raised error is then the newest cell.
  template <class Body>
  static std::string raised_by(Body&& body) {
    Cell* caller_args = stack::args;
    frames::mark_native(runtime_words::words.frame_anon);
    std::string error = WordTest::raised_by(body);
    frames::set_ctop(frames::top_frame());
    stack::args = caller_args;
    return error;
  }

  static Cell positioned(const Cell& series, uint32_t index) {
    Cell c = series;
    c.w1 = index;
    return c;
  }
  // The whole buffer of a block, whatever its head.
  static std::string whole(const Cell& block) { return mold(positioned(block, 0)); }
  static Cell* newest_error() { return stack::top_cell(); }
  static const Cell& error_arg(int n) {
    return *error::field(*newest_error(), error::kArg1 + static_cast<uint32_t>(n) - 1);
  }
};

// --- Lookup ----------------------------------------------------------------------------------

TEST_F(ActionsTest, DispatchReachesTheImplementationOrRaisesExpectArg) {
  struct Case {
    const char* source;  // the value: the first cell of the built block, or the block itself
    bool whole_block;
    Slot slot;
    const char* error;
    uint8_t reported_type;  // expect-arg's datatype
  };
  const Case cases[] = {
      {"a b c", true, LENGTH_Q, "", 0},
      {"true", false, LENGTH_Q, "script/expect-arg", TYPE_LOGIC},
      {"a", false, APPEND, "script/expect-arg", TYPE_WORD},
      {"a", false, NEXT, "script/expect-arg", TYPE_WORD},
      {"none", false, SKIP, "script/expect-arg", TYPE_NONE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    Cell* block = build(c.source);
    Cell value = c.whole_block ? *block : *at(*block, {0});
    std::string error = raised_by([&] { call(c.slot, {value, integer(1)}); });
    ASSERT_EQ(error, c.error);
    if (!*c.error) continue;
    EXPECT_EQ(error_arg(1).w2, frame_word().w2) << "the frame's name";
    EXPECT_EQ(cell::type_of(error_arg(2)), TYPE_DATATYPE);
    EXPECT_EQ(error_arg(2).w1, c.reported_type);
  }
}

TEST_F(ActionsTest, LengthGivesNoneWhereTheImplementationHasNoLength) {
  Cell* block = build("a b c none");
  EXPECT_EQ(call(LENGTH_Q, {*block})->w2, 4u);
  EXPECT_EQ(call(LENGTH_Q, {positioned(*block, 1)})->w2, 3u);
  EXPECT_EQ(cell::type_of(*call(LENGTH_Q, {*at(*block, {3})})), TYPE_NONE);
}

TEST_F(ActionsTest, MakeFromADatatypeDispatchesToTheTypeItNames) {
  Cell* made = call(MAKE, {Cell{TYPE_DATATYPE, TYPE_BLOCK, 0, 0}, integer(4)});
  EXPECT_EQ(cell::type_of(*made), TYPE_BLOCK);
  EXPECT_EQ(mold(*made), "[]");
  // An unsupported make reports the type being made, not datatype!.
  EXPECT_EQ(raised_by([&] { call(MAKE, {Cell{TYPE_DATATYPE, TYPE_CONTEXT, 0, 0}, integer(1)}); }),
            "script/expect-arg");
  EXPECT_EQ(error_arg(2).w1, TYPE_CONTEXT);
}

TEST_F(ActionsTest, ChildTypesReachTheirAncestorsImplementations) {
  struct Case {
    Slot slot;
    const char* expected;
  };
  const Case cases[] = {{APPEND, "(a b c)"}, {INSERT, "(c a b)"}, {CLEAR, "()"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    Cell* paren = build("(a b)");
    Cell value = *at(*paren, {0});
    Cell* result = call(c.slot, {value, source_word("c")});
    EXPECT_EQ(cell::type_of(*result), TYPE_PAREN);
    EXPECT_EQ(whole(*result), c.expected);
  }
}

TEST_F(ActionsTest, PathStepErrorsNameTheElementOrThePathReached) {
  // Without a path: the element and the type that refused it.
  Cell* words = build("a b c true");
  Cell flag = *at(*words, {3});
  Cell element = *at(*words, {1});
  EXPECT_EQ(raised_by([&] { call(EVAL_PATH, {flag, element}); }), "script/bad-path-type2");
  EXPECT_EQ(error_arg(1).w2, element.w2);
  EXPECT_EQ(error_arg(2).w1, TYPE_LOGIC);

  // With a path: the path, the type, and the path up to the value that refused the step.
  struct Case {
    int32_t index;
    const char* reached;
  };
  const Case cases[] = {{0, "[a]"}, {1, "[a b]"}, {7, "[a b c]"}, {-1, "[]"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    // A block stands for the path: path! cells have no collector entry yet.
    Cell* path = build("a b c");
    EXPECT_EQ(raised_by([&] {
                dispatch::call_eval_path(&flag, &element,
                                        {.path = path, .index = c.index, .get = true});
              }),
              "script/bad-path-type");
    EXPECT_EQ(error_arg(1).w2, path->w2);
    EXPECT_EQ(error_arg(2).w1, TYPE_LOGIC);
    Cell reached = error_arg(3);
    EXPECT_NE(reached.w2, path->w2) << "a copy";
    EXPECT_EQ(mold(*path), "[a b c]") << "the path itself is untouched";
    EXPECT_EQ(mold(reached), c.reached);
  }
}

// --- Comparison ------------------------------------------------------------------------------

constexpr int32_t kOps[] = {EQUAL, NOT_EQUAL, STRICT_EQUAL, LESSER, LESSER_OR_EQUAL, GREATER,
                            GREATER_OR_EQUAL};

class CompareTest : public ActionsTest {
 protected:
  // The truth of every comparison operator for (a, b), as the comparison natives see it: "T",
  // "F", or "E" for script/invalid-compare.
  static std::string truth_table(Cell a, Cell b) {
    std::string row;
    for (int32_t op : kOps) {
      bool truth = false;
      std::string error = raised_by([&] { truth = call(COMPARE, {a, b, integer(op)})->w1 != 0; });
      row += error == "script/invalid-compare" ? "E" : !error.empty() ? "?" : truth ? "T" : "F";
    }
    return row;
  }
  // a < b, then b > a, then a with itself. Copies: cells inside blocks move as buffers do.
  static void expect_ordered(Cell a, Cell b) {
    EXPECT_EQ(truth_table(a, b), "FTFTTFF");
    EXPECT_EQ(truth_table(b, a), "FTFFFTT");
    EXPECT_EQ(truth_table(a, a), "TFTFTFT");
  }
};

TEST_F(CompareTest, WordsOrderByName) {
  Cell* words = build("apple banana Apple");
  expect_ordered(*at(*words, {0}), *at(*words, {1}));
  // Equal but for letter case: not strictly equal, and neither lesser nor greater.
  EXPECT_EQ(truth_table(*at(*words, {0}), *at(*words, {2})), "TFFFTFT");
}

TEST_F(CompareTest, BlocksOrderByTheirCells) {
  Cell* blocks = build("[a b] [a c] [a]");
  expect_ordered(*at(*blocks, {0}), *at(*blocks, {1}));
  expect_ordered(*at(*blocks, {2}), *at(*blocks, {0}));  // a prefix is lesser
}

TEST_F(CompareTest, StringsOrderByText) {
  Cell a = *string::load_encoded_push(reinterpret_cast<const uint8_t*>("abc"), 3, string::kUtf8);
  Cell b = *string::load_encoded_push(reinterpret_cast<const uint8_t*>("abd"), 3, string::kUtf8);
  expect_ordered(a, b);
}

TEST_F(CompareTest, UncomparableValuesAreUnequalAndCannotBeOrdered) {
  Cell* values = build("apple [a]");
  EXPECT_EQ(truth_table(*at(*values, {0}), *at(*values, {1})), "FTFEEEE");
  EXPECT_EQ(truth_table(*at(*values, {1}), *at(*values, {0})), "FTFEEEE");
}

TEST_F(CompareTest, RawComparisonNeverRaises) {
  Cell* words = build("apple banana");
  struct Case {
    const char* name;
    Cell a, b;
    int32_t op;
    int32_t expected;
  };
  const Case cases[] = {
      {"true/false", constants::true_value, constants::false_value, LESSER, 1},
      {"false/true", constants::false_value, constants::true_value, EQUAL, -1},
      {"natives by entry", Cell{TYPE_NATIVE, 3, 9, 1}, Cell{TYPE_NATIVE, 5, 1, 9}, SAME, -1},
      {"actions by entry", Cell{TYPE_ACTION, 7, 0, 0}, Cell{TYPE_ACTION, 7, 1, 1}, LESSER, 0},
      {"functions by body", Cell{TYPE_FUNCTION, 9, 0, 4}, Cell{TYPE_FUNCTION, 1, 0, 2}, LESSER, 1},
      {"words", *at(*words, {0}), *at(*words, {1}), LESSER, -1},
      {"logic with a word", constants::true_value, *at(*words, {0}), LESSER, kNotComparable},
      {"no compare at all", Cell{TYPE_EVENT, 0, 0, 0}, Cell{TYPE_EVENT, 0, 0, 0}, EQUAL,
       kNotComparable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell a = c.a, b = c.b;
    int32_t result = 0;
    EXPECT_EQ(raised_by([&] { result = datatype::call_compare(&a, &b, c.op); }), "");
    EXPECT_EQ(result, c.expected);
  }
}

// --- append, insert and change ---------------------------------------------------------------

TEST_F(ActionsTest, AppendPartCountsFromTheValue) {
  struct Case {
    const char* name;
    int32_t value_index;  // of [a b c d]
    bool part_is_position;
    int32_t part;         // a count, or an index of the value's own series
    const char* expected;
  };
  const Case cases[] = {
      {"count", 2, false, 1, "[x c]"},
      {"count beyond the value", 2, false, 9, "[x c d]"},
      {"position ahead", 1, true, 3, "[x b c]"},
      {"position past the tail", 2, true, 9, "[x c d]"},
      {"position before the index", 2, true, 0, "[x a b]"},
      {"negative count", 3, false, -2, "[x b c]"},
      {"negative count past the head", 1, false, -5, "[x a]"},
      {"count 0", 2, false, 0, "[x]"},
      {"negative count at the head", 0, false, -1, "[x]"},
      {"value index past its tail", 7, false, 2, "[x]"},
      {"most negative count", 2, false, INT32_MIN, "[x a b]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* target = build("x");
    Cell* value = build("a b c d");
    Cell part = c.part_is_position ? positioned(*value, uint32_t(c.part)) : integer(c.part);
    Cell* result = call(APPEND, {*target, positioned(*value, uint32_t(c.value_index)), part},
                        {2});
    EXPECT_EQ(result->w1, 0u) << "append returns the head";
    EXPECT_EQ(mold(*result), c.expected);
    EXPECT_EQ(cells(*value), "a b c d") << "the value is left alone";
  }
}

TEST_F(ActionsTest, InsertAndChangeApplyPartToTheirOwnOperand) {
  struct Case {
    const char* name;
    Slot slot;
    int32_t target_index;  // of [a b c d]
    int32_t part_index;    // a position in the value (insert) or the target (change)
    const char* expected;
    uint32_t result_index;
  };
  const Case cases[] = {
      // insert: the value [p q r s] at index 2, limited by a position in it.
      {"insert up to a later position", INSERT, 1, 3, "[a r b c d]", 2},
      {"insert from an earlier position", INSERT, 1, 0, "[a p q b c d]", 3},
      // change: the stretch of the target from its index to the part position.
      {"change up to a later position", CHANGE, 1, 3, "[a z d]", 2},
      {"change from an earlier position", CHANGE, 2, 0, "[z c d]", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* target = build_at("a b c d", c.target_index);
    Cell* value = build_at("p q r s", 2);
    Cell inserted = c.slot == INSERT ? *value : source_word("z");
    Cell part = positioned(c.slot == INSERT ? *value : *target, uint32_t(c.part_index));
    Cell* result = call(c.slot, {*target, inserted, part}, {2});
    EXPECT_EQ(whole(*result), c.expected);
    EXPECT_EQ(result->w1, c.result_index);
  }
}

TEST_F(ActionsTest, PartErrors) {
  struct Case {
    const char* name;
    Slot slot;
    bool value_is_series;
    bool part_in_other_series;
    const char* error;
  };
  const Case cases[] = {
      {"append/part of a word", APPEND, false, false, "script/invalid-part"},
      {"insert/part of a word", INSERT, false, false, "script/invalid-part"},
      {"append/part at another series", APPEND, true, true, "script/invalid-refine-arg"},
      {"change/part at another series", CHANGE, false, true, "script/invalid-refine-arg"},
      {"change/part of a word value", CHANGE, false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* target = build("a b");
    Cell* other = build("p q");
    Cell value = c.value_is_series ? *other : source_word("z");
    Cell part = c.part_in_other_series ? *build("m n") : integer(1);
    EXPECT_EQ(raised_by([&] { call(c.slot, {*target, value, part}, {2}); }), c.error);
  }
}

TEST_F(ActionsTest, DupBelowOneLeavesTheSeriesUnchanged) {
  struct Case {
    int32_t dup;
    const char* expected;
  };
  const Case cases[] = {{0, "[a b]"}, {-3, "[a b]"}, {1, "[a b c]"}, {3, "[a b c c c]"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dup);
    Cell* target = build("a b");
    Cell* result = call(APPEND, {*target, source_word("c"), integer(c.dup)}, {-1, -1, 2});
    EXPECT_EQ(mold(*result), c.expected);
    EXPECT_EQ(whole(*target), c.expected) << "the series itself";
  }
}

TEST_F(ActionsTest, AnIndexPastTheTailCountsAsTheTail) {
  struct Case {
    Slot slot;
    uint32_t result_index;
  };
  const Case cases[] = {{APPEND, 0}, {INSERT, 4}, {CHANGE, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slot);
    Cell* target = build_at("a b c", 6);  // as left by a buffer that shrank
    Cell* result = call(c.slot, {*target, source_word("z")});
    EXPECT_EQ(whole(*result), "[a b c z]");
    EXPECT_EQ(result->w1, c.result_index);
  }
}

// A value whose head lies before its first cell reads from the first cell, as its length is
// counted: nothing is taken from before the buffer.
TEST_F(ActionsTest, AValueHeadBeforeTheStartReadsFromTheStart) {
  struct Case {
    Slot slot;
    const char* expected;
  };
  const Case cases[] = {{APPEND, "[x y a b c]"}, {INSERT, "[a b c x y]"}, {CHANGE, "[a b c]"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slot);
    Cell* target = build("x y");
    Cell* value = build("a b c");
    Cell* result = call(c.slot, {*target, positioned(*value, uint32_t(-2))});
    EXPECT_EQ(whole(*result), c.expected);
  }
}

// --- pick, copy ------------------------------------------------------------------------------

TEST_F(ActionsTest, PickIndexFromIntegerCharOrLogic) {
  struct Case {
    const char* name;
    Cell index;
    const char* expected;
  };
  const Case cases[] = {
      {"integer", integer(3), "[c]"},
      {"true is 1", constants::true_value, "[a]"},
      {"false is 2", constants::false_value, "[b]"},
      {"char code point", Cell{TYPE_CHAR, 0, 2, 0}, "[b]"},
      {"anything else is 0", constants::none, "[none]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* block = build("a b c");
    Cell* picked = call(PICK, {*block, c.index});
    Cell* shown = block::push_new(1);
    block::append_cell(*shown, *picked);
    EXPECT_EQ(mold(*shown), c.expected);
  }
}

TEST_F(ActionsTest, CopyTypesMustBeADatatypeOrTypeset) {
  Cell* block = build("a [b] c");
  EXPECT_EQ(raised_by([&] { call(COPY, {*block, source_word("x")}, {-1, -1, 1}); }),
            "script/expect-arg");
  EXPECT_EQ(error_arg(2).w1, TYPE_WORD);
  Cell* copied = call(COPY, {*block, Cell{TYPE_DATATYPE, TYPE_BLOCK, 0, 0}}, {-1, -1, 1});
  EXPECT_EQ(mold(*copied), "[a [b] c]");
  EXPECT_NE(copied->w2, block->w2);
  EXPECT_NE(at(*copied, {1})->w2, at(*block, {1})->w2) << "the nested block! was copied";
}

// --- form and mold ---------------------------------------------------------------------------

TEST_F(ActionsTest, FormAndMoldWithPart) {
  struct Case {
    const char* name;
    Slot slot;
    std::vector<int32_t> refinements;  // the part count, when given, is the second cell
    int32_t part;
    const char* expected;
  };
  const Case cases[] = {
      {"form", FORM, {}, 0, "a b c"},
      {"form/part 0", FORM, {1}, 0, ""},
      {"form/part -2", FORM, {1}, -2, ""},
      {"form/part 3", FORM, {1}, 3, "a b"},
      {"form/part past the text", FORM, {1}, 40, "a b c"},
      {"mold", MOLD, {}, 0, "[a b c]"},
      {"mold/only", MOLD, {0}, 0, "a b c"},
      {"mold/part 4", MOLD, {-1, -1, -1, 1}, 4, "[a b"},
      {"mold/part 0", MOLD, {-1, -1, -1, 1}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* block = build("a b c");
    Cell* result = call(c.slot, {*block, integer(c.part)}, c.refinements);
    ASSERT_EQ(cell::type_of(*result), TYPE_STRING);
    EXPECT_EQ(text_of(*result), c.expected);
  }
}

}  // namespace
