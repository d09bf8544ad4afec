// The library's routines run through routine::run as the call dispatcher runs them: a frame
// marked for the routine, its arguments pushed, the result read from arguments[0]. These check
// the table (every row makes a routine! of its arity, found by name) and the bodies that need no
// file system or process state; tests/lang/library_routines.zel calls them from the language.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/tuple.h"
#include "interpreter/routine.h"
#include "library/routines.h"
#include "number_test_support.h"

namespace {

class Routines : public number_test::NumberTest {
 protected:
  // Runs the named routine on the arguments; gives the result shown as the number suites show
  // it (a tuple as its bytes "t1.2.3", logic as "true"/"false", none as "none"), or the raised
  // error as category/id.
  static std::string call(const char* name, std::initializer_list<Cell> arguments) {
    Cell result{};
    std::string error = guarded([&] {
      const int32_t entry = routines::entry_of(name);
      EXPECT_GT(entry, 0) << name;
      Cell* value = routines::make_value(entry);
      frames::mark_native(source_word(name));
      for (const Cell& c : arguments) stack::push_copy(c);
      routine::run(*value);
      result = *stack::arg(0);
      frames::unwind();
    });
    if (!error.empty()) return error;
    switch (cell::type_of(result)) {
      case TYPE_TUPLE: {
        std::string text = "t";
        for (uint32_t i = 0; i < tuple::count_of(result); i++) {
          text += (i ? "." : "") + std::to_string(tuple::data_of(result)[i]);
        }
        return text;
      }
      case TYPE_LOGIC: return result.w1 ? "true" : "false";
      case TYPE_NONE: return "none";
      default: return show(result);
    }
  }
};

TEST_F(Routines, EveryRowMakesARoutineOfItsArityFoundByName) {
  for (int32_t entry = 1; entry <= routines::count(); entry++) {
    const routines::Row& row = routines::row(entry);
    EXPECT_EQ(routines::entry_of(row.name), entry) << row.name;
    Cell* value = routines::make_value(entry);
    ASSERT_EQ(cell::type_of(*value), TYPE_ROUTINE) << row.name;
    // The arity counts the spec's words: as many as the spec text has unquoted words before
    // "return:" that are followed by a type block or end the spec; the rows keep to
    // word [types] pairs, so a "[" count less the return block's gives it.
    const std::string spec = row.spec;
    int32_t blocks = -1;  // the spec block itself
    for (char c : spec) blocks += c == '[';
    if (spec.find("return:") != std::string::npos) blocks--;
    EXPECT_EQ(int32_t(function::header_arity(*value)), blocks) << row.name;
    stack::pop_cells(1);
  }
  EXPECT_EQ(routines::entry_of("no-such-routine"), 0);
}

TEST_F(Routines, AnEntryOutsideTheTableIsNotDone) {
  std::string error = guarded([&] {
    Cell* spec = build("");
    Cell* value = function::make_routine_value(*spec, constants::none,
                                               uint32_t(routines::count() + 1), 0, true);
    frames::mark_native(source_word("stray"));
    routine::run(*value);
  });
  EXPECT_EQ(error, "internal/not-done");
}

TEST_F(Routines, Tuples) {
  EXPECT_EQ(call("as-color", {integer(255), integer(128), integer(0)}), "t255.128.0");
  EXPECT_EQ(call("as-color", {integer(256), integer(0), integer(0)}), "t0.0.0");
  EXPECT_EQ(call("as-color", {integer(-1), integer(0), integer(0)}), "script/invalid-arg");
  EXPECT_EQ(call("as-color", {integer(1), integer(2), integer(-3)}), "script/invalid-arg");
  EXPECT_EQ(call("as-ipv4", {integer(192), integer(168), integer(0), integer(1)}),
            "t192.168.0.1");
  EXPECT_EQ(call("as-rgba", {integer(1), integer(2), integer(3), integer(4)}), "t1.2.3.4");
  EXPECT_EQ(call("as-rgba", {integer(1), integer(2), integer(3), integer(-4)}),
            "script/invalid-arg");
}

TEST_F(Routines, Shifts) {
  EXPECT_EQ(call("shift-right", {integer(-8), integer(1)}), "-4");
  EXPECT_EQ(call("shift-right", {integer(-1), integer(40)}), "-1");
  EXPECT_EQ(call("shift-left", {integer(1), integer(4)}), "16");
  EXPECT_EQ(call("shift-logical", {integer(-8), integer(28)}), "15");
  EXPECT_EQ(call("shift-logical", {integer(-1), integer(1)}), "2147483647");
}

TEST_F(Routines, CountChars) {
  // "a", e acute (2 bytes), the euro sign (3 bytes), "b"
  const Cell start = binary({'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 'b'});
  Cell end = start;
  end.w1 = 7;
  EXPECT_EQ(call("count-chars", {start, end}), "4");
  Cell second = start;
  second.w1 = 1;
  Cell third = start;
  third.w1 = 3;
  EXPECT_EQ(call("count-chars", {second, third}), "1");
  EXPECT_EQ(call("count-chars", {third, second}), "0");
  end.w1 = 99;  // past the tail: counted to the tail
  EXPECT_EQ(call("count-chars", {start, end}), "4");
}

TEST_F(Routines, StackInspection) {
  EXPECT_EQ(call("pick-stack", {integer(0)}), "none");
  EXPECT_EQ(call("pick-stack", {integer(100000)}), "none");
  stack::push_copy(integer(77));  // bottom cell
  EXPECT_EQ(call("pick-stack", {integer(1)}), "77");
  EXPECT_EQ(call("tracing?", {}), "false");
}

TEST_F(Routines, SetSlotQuietWritesAtThePositionUnlessAtTheTail) {
  Cell* block = build("a b");
  EXPECT_EQ(call("set-slot-quiet", {*block, integer(9)}), "9");
  EXPECT_EQ(cell::block_head(*block)[0].w2, 9u);
  Cell tail = *block;
  tail.w1 = 2;
  call("set-slot-quiet", {tail, integer(5)});
  EXPECT_EQ(block::rest_length(*block), 2);
  EXPECT_EQ(call("set-slot-quiet", {text("ab"), integer(1)}), "script/expect-arg");
  EXPECT_EQ(call("set-slot-quiet", {integer(1), integer(1)}), "script/expect-arg");
}

TEST_F(Routines, SetQuietTakesWordsOnly) {
  EXPECT_EQ(call("set-quiet", {integer(1), integer(2)}), "script/expect-arg");
  EXPECT_EQ(call("set-quiet", {source_word("routines-test-word", TYPE_LIT_WORD), integer(6)}),
            "6");
}

}  // namespace
