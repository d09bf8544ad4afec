// Control natives: if, unless, either, any, all, while, until, loop, repeat, forever, switch and
// case. Loops push a loop frame named <body>, the target of break and continue; a pending break
// or continue is cleared here, any other pending exit passes on (the stacks are already shaped
// for its target, so the native returns without touching them).
#include <cmath>
#include <limits>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/word.h"
#include "interpreter/dispatch.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "interpreter/natives.h"
#include "runtime/alloc.h"

namespace natives {

using interp::pending;
using stack::arg;

const Cell& body_word() { return runtime_words::words.frame_body; }

LoopExit take_loop_exit() {
  switch (pending) {
    case 0: return LoopExit::kNone;
    case rt::kThrowBreak: pending = 0; return LoopExit::kBreak;
    case rt::kThrowContinue: pending = 0; return LoopExit::kContinue;
    default: return LoopExit::kOther;
  }
}

LoopExit run_body(const Cell& body) {
  stack::reset();
  interp::eval_block_in_frame(body);
  return take_loop_exit();
}

void end_loop(const Cell& result) {
  frames::unwind_drop();
  stack::set_only_result(result);
}

namespace {

// A loop count: an integer! as it is; a float! truncated toward zero, NaN as 0 and values beyond
// the integer range at its ends. The argument cell becomes that integer!.
int32_t loop_count(Cell* count) {
  if (cell::type_of(*count) == TYPE_FLOAT) {
    double d = cell::get_double(*count);
    int32_t n;
    if (std::isnan(d)) {
      n = 0;
    } else if (d >= double(std::numeric_limits<int32_t>::max())) {
      n = std::numeric_limits<int32_t>::max();
    } else if (d <= double(std::numeric_limits<int32_t>::min())) {
      n = std::numeric_limits<int32_t>::min();
    } else {
      n = int32_t(std::trunc(d));
    }
    *count = integer::make(n);
  }
  return integer::get_value(*count);
}

}  // namespace

const Cell* chosen_branch(int32_t index, const Cell* arguments) {
  switch (index) {
    case IF: return logic::falsy(arguments[0]) ? nullptr : &arguments[1];
    case UNLESS: return logic::falsy(arguments[0]) ? &arguments[1] : nullptr;
    default: return &arguments[logic::strict_true(arguments[0]) ? 1 : 2];
  }
}

namespace {

void run_branch(int32_t index) {
  const Cell* chosen = chosen_branch(index, arg(0));
  if (!chosen) return stack::set_only_result(constants::none);
  interp::eval_block_in_frame(Cell(*chosen));
}

}  // namespace

void if_(const int32_t*) { run_branch(IF); }
void unless(const int32_t*) { run_branch(UNLESS); }
void either(const int32_t*) { run_branch(EITHER); }

// any and all: the block stays in arguments[0] (keeping it alive) while each value is pushed and
// looked at.
void any(const int32_t*) {
  interp::Feed feed{*arg(0), cell::series_index(*arg(0)), interp::kToTail};
  while (interp::feed_cell(feed)) {
    interp::eval_expression(feed, {.push = true});
    if (pending) return;
    const Cell value = *stack::top_cell();
    if (!logic::falsy(value)) return stack::set_only_result(value);
    stack::pop_cells(1);
  }
  stack::set_only_result(constants::none);
}

void all(const int32_t*) {
  interp::Feed feed{*arg(0), cell::series_index(*arg(0)), interp::kToTail};
  Cell last = constants::none;
  while (interp::feed_cell(feed)) {
    interp::eval_expression(feed, {.push = true});
    if (pending) return;
    last = *stack::top_cell();
    if (logic::falsy(last)) return stack::set_only_result(constants::none);
    stack::pop_cells(1);
  }
  stack::set_only_result(last);
}

void while_(const int32_t*) {
  const Cell condition = *arg(0);
  const Cell body = *arg(1);
  frames::mark_loop(body_word());
  for (;;) {
    interp::eval_block_in_frame(condition);
    switch (take_loop_exit()) {
      case LoopExit::kNone: break;
      case LoopExit::kOther: return;
      default: rt::fire_error("throw", "while-cond");
    }
    if (!logic::strict_true(*arg(0))) break;
    LoopExit exit = run_body(body);
    if (exit == LoopExit::kBreak) break;
    if (exit == LoopExit::kOther) return;
  }
  end_loop(constants::unset);
}

void until(const int32_t*) {
  const Cell body = *arg(0);
  frames::mark_loop(body_word());
  for (;;) {
    LoopExit exit = run_body(body);
    if (exit == LoopExit::kBreak) break;
    if (exit == LoopExit::kOther) return;
    if (exit == LoopExit::kContinue) continue;
    if (logic::strict_true(*arg(0))) break;
  }
  end_loop(*arg(0));
}

void loop(const int32_t*) {
  int32_t count = loop_count(arg(0));
  if (count <= 0) return stack::set_only_result(constants::none);
  const Cell body = *arg(1);
  frames::mark_loop(body_word());
  for (int32_t i = 0; i < count; i++) {
    LoopExit exit = run_body(body);
    if (exit == LoopExit::kBreak) break;
    if (exit == LoopExit::kOther) return;
  }
  end_loop(*arg(0));
}

void repeat(const int32_t*) {
  int32_t left = loop_count(arg(1));
  if (left <= 0) return stack::set_only_result(constants::none);
  Cell* counter = arg(1);
  integer::set_value(*counter, 1);
  const Cell body = *arg(2);
  Cell* word = arg(0);
  frames::mark_loop(body_word());
  for (;;) {
    interp::write_word(*word, *counter);
    LoopExit exit = run_body(body);
    if (exit == LoopExit::kBreak) break;
    if (exit == LoopExit::kOther) return;
    integer::set_value(*counter, int32_t(uint32_t(integer::get_value(*counter)) + 1));
    if (--left == 0) break;
  }
  end_loop(*arg(0));
}

void forever(const int32_t*) {
  const Cell body = *arg(0);
  frames::mark_loop(body_word());
  for (;;) {
    LoopExit exit = run_body(body);
    if (exit == LoopExit::kBreak) return end_loop(*arg(0));
    if (exit == LoopExit::kOther) return;
  }
}

void switch_(const int32_t* refinements) {
  const Cell value = *arg(0);
  const Cell cases = *arg(1);
  const uint8_t type = cell::type_of(value);
  if (type != TYPE_BLOCK) {
    bool matched = false;
    const uint32_t node = cell::series_node(cases);
    for (uint32_t i = cell::series_index(cases); i < cell::cell_count(node); i++) {
      Cell item = cell::cells_of(node)[i];
      if (!matched) {
        if (cell::type_of(item) != type) continue;
        Cell left = value;
        matched = datatype::compare(&left, &item, action::EQUAL);
      } else if (cell::type_of(item) == TYPE_BLOCK) {
        return interp::eval_block(item, true);
      }
    }
    if (matched) return stack::set_only_result(constants::none);
  }
  if (refinements[0] >= 0) return interp::eval_block(Cell(*arg(refinements[0])), true);
  stack::set_only_result(constants::none);
}

void case_(const int32_t* refinements) {
  const bool all = refinements[0] >= 0;
  interp::Feed feed{*arg(0), cell::series_index(*arg(0)), interp::kToTail};
  Cell result = constants::none;
  frames::mark_native(runtime_words::words.frame_anon);
  while (interp::feed_cell(feed)) {
    interp::eval_expression(feed, {.push = true});
    if (pending) return;
    if (!interp::feed_cell(feed)) {
      Cell word = word::from_c_string("case");
      rt::fire_error("script", "need-value", &word);
    }
    const bool truth = logic::strict_true(*stack::top_cell());
    stack::reset();
    if (!truth) {
      result = constants::none;
      feed.index++;
      continue;
    }
    const Cell* action = interp::feed_cell(feed);
    if (cell::type_of(*action) == TYPE_BLOCK) {
      const Cell block = *action;
      feed.index++;
      interp::eval_block(block, false);
    } else {
      interp::eval_expression(feed, {.push = true});
    }
    if (pending) return;
    result = *stack::top_cell();
    stack::reset();
    if (!all) break;
  }
  frames::unwind_drop();
  stack::set_only_result(result);
}

}  // namespace natives
