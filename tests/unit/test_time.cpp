// time!: what the language cannot reach yet. Setting a field through the path step (the
// evaluator's path walk hands the step a copy of a scalar parent, so `t/hour: 5` does not show
// the change), the owner's change handler that a field set calls, and the text of seconds that
// no time value can hold (the date type molds its time part through form_hms).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "datatypes/time.h"
#include "interpreter/eval.h"
#include "lexer/lexer.h"
#include "number_test_support.h"

namespace {

class TimeTest : public number_test::NumberTest {
 protected:
  static Cell T(double seconds) { return real(seconds, TYPE_TIME); }

  // The path step of a time with a value to store; gives the new time or the raised error.
  static std::string set_field(double seconds, const Cell& element, const Cell& value,
                               const Cell& grandparent = constants::none,
                               const Cell& previous = constants::none, bool notify = false) {
    Cell result{};
    std::string error = guarded([&] {
      Cell* parent = stack::push_copy(T(seconds));
      Cell* e = stack::push_copy(element);
      Cell* v = stack::push_copy(value);
      Cell* g = stack::push_copy(grandparent);
      Cell* p = stack::push_copy(previous);
      result = *datatype::lookup<action::EVAL_PATH>(TYPE_TIME)(
          parent, e,
          {.value = v, .grandparent = g, .previous = p, .index = 0, .last = true,
           .notify = notify});
    });
    return error.empty() ? show(result) : error;
  }

  static std::string form_seconds(double seconds) {
    std::string text;
    std::string error = guarded([&] {
      Cell* out = string::init_empty(empty_stack_cell(), 16);
      int32_t left = time_::form_hms(seconds, out, 100);
      text = text_of(*out);
      EXPECT_EQ(left, 100 - static_cast<int32_t>(text.size()));
    });
    return error.empty() ? text : error;
  }
};

// Setting a field keeps the others; a field set to what it reads leaves the time unchanged,
// negative times included (their hours and seconds read signed, their minutes unsigned).
TEST_F(TimeTest, FieldSetters) {
  const double t = 1 * 3600 + 30 * 60 + 15;  // 1:30:15
  struct Case {
    double seconds;
    Cell element;
    Cell value;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {t, source_word("hour"), integer(5), "t:19815"},             // 5:30:15
      {t, source_word("HOUR"), integer(0), "t:1815"},              // 0:30:15
      {t, integer(2), integer(0), "t:3615"},                       // 1:00:15
      {t, source_word("minute"), integer(90), "t:9015"},           // 2:30:15
      {t + 0.5, source_word("second"), integer(0), "t:5400"},      // 1:30:00
      {t, integer(3), real(1.25), "t:5401.25"},                    // 1:30:01.25
      {-t, source_word("hour"), integer(-1), "t:-5415"},           // unchanged
      {-t, source_word("minute"), integer(30), "t:-5415"},         // unchanged
      {-t, source_word("second"), real(-15.0), "t:-5415"},         // unchanged
      {-t, source_word("minute"), integer(0), "t:-3615"},          // -1:00:15
      {-t, source_word("hour"), integer(-2), "t:-9015"},           // -2:30:15
      {t, source_word("hour"), real(5.0), "script/invalid-arg"},
      {t, source_word("minute"), real(1.5), "script/invalid-arg"},
      {t, source_word("second"), T(1.0), "script/invalid-arg"},
      {t, source_word("day"), integer(1), "script/cannot-use"},
      {t, integer(4), integer(1), "script/invalid-path"},
      {t, source_word("hour"), integer(2147483647), "script/out-of-range"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(set_field(c.seconds, c.element, c.value), c.expected)
        << c.seconds << " " << show(c.element) << " " << show(c.value);
  }
}

// Seconds no time holds are refused, never converted out of range; the largest that a time
// holds prints whole.
TEST_F(TimeTest, FormOfSecondsBeyondTheRange) {
  const double limit = 2147483647.0 * 3600;
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double seconds;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {1e300, "script/out-of-range"},
      {-1e300, "script/out-of-range"},
      {inf, "script/out-of-range"},
      {std::nan(""), "script/out-of-range"},
      {limit, "script/out-of-range"},
      {limit - 0.5, "2147483646:59:59.5"},
      {-(limit - 60), "-2147483646:59:00"},
      {59.99999, "0:01:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(form_seconds(c.seconds), c.expected) << c.seconds;
}

}  // namespace
