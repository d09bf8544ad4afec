// Test helper for the series and block suites: a fixture that registers the types the suites
// need, builders that turn a short text ("a [b c] none\nd") into a block on the data stack, and
// readers that mold and form values. Letters are a test-only datatype (one lower-case letter a
// cell, at a type id no real type uses) so fixtures read like code. Every value a test makes
// lives on the data stack, so it stays rooted while ZEL_GC_STRESS=1 moves every buffer.
#pragma once
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string_buffer.h"
#include "datatypes/runtime_words.h"
#include "interpreter/stack.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace block_test {

constexpr uint8_t kLetter = 55;  // beyond event!: no real datatype

inline int32_t letter_form(Cell* value, Cell* out, Cell*, int32_t part) {
  char text[2] = {static_cast<char>(value->w2), 0};
  return part - cell::append_text(out, text);
}

inline int32_t letter_mold(Cell* value, Cell* out, bool, bool, bool, Cell* arg, int32_t part,
                           int32_t) {
  return letter_form(value, out, arg, part);
}

inline int32_t letter_compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != kLetter) return action::kNotComparable;
  int32_t d = a->w2 < b->w2 ? -1 : a->w2 > b->w2 ? 1 : 0;
  return op == action::SAME ? (d ? -1 : 0) : d;
}

class BlockTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!stack::bottom) stack::init();
    if (!datatype::lookup<action::MOLD>(TYPE_NONE)) {
      unset::init();
      none::init();
      logic::init();
    }
    if (!datatype::lookup<action::MOLD>(TYPE_BLOCK)) {
      series::init();
      block::init();
    }
    gc::set_type_marker(TYPE_STRING, gc::mark_series_cell);
    datatype::register_type(kLetter, TYPE_NONE_ID, "letter!",
                            {datatype::act<action::FORM>(letter_form),
                             datatype::act<action::MOLD>(letter_mold),
                             datatype::act<action::COMPARE>(letter_compare)});
  }
  void SetUp() override {
    saved_top_ = stack::top;
    saved_args_ = stack::args;
    rt::raised = {};
  }
  void TearDown() override {
    stack::top = saved_top_;
    stack::args = saved_args_;
    cycles::reset();
  }

  static Cell letter(char c) { return Cell{kLetter, 0, static_cast<uint32_t>(c), 0}; }
  static Cell integer(int32_t n) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(n), 0}; }

  // A block on the data stack from a text: a-z letters, none, true, false, [..] blocks, (..)
  // parens; a value that follows a line feed carries the new-line marker.
  static Cell* build(std::string_view text) {
    size_t at = 0;
    return build_cells(text, at, TYPE_BLOCK, 0);
  }

  // The string! the value molds (or forms) to.
  static std::string mold(Cell* value, bool only = false, bool flat = false, int32_t part = -1) {
    Cell* out = new_output();
    Cell limit = integer(part);
    auto fn = datatype::lookup<action::MOLD>(cell::type_of(*value));
    fn(value, out, only, false, flat, part < 0 ? nullptr : &limit, part < 0 ? INT32_MAX : part, 0);
    return text_of(*out);
  }
  static std::string form(Cell* value) {
    Cell* out = new_output();
    datatype::lookup<action::FORM>(cell::type_of(*value))(value, out, nullptr, INT32_MAX);
    return text_of(*out);
  }
  // A block as text, from its head (the cells of the block molded without brackets).
  static std::string cells(const Cell& value) {
    Cell* copy = stack::push_copy(value);
    return mold(copy, true);
  }

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

  // The error id the call raised, or "" when it returned.
  template <class Body>
  static std::string raised_by(Body&& body) {
    rt::raised = {};
    uint32_t code = stack::try_catch(runtime_words::words.try_, body);
    cycles::reset();
    return code ? rt::raised.id : "";
  }

 private:
  static Cell* new_output() {
    Cell* out = stack::push_new();
    *out = Cell{TYPE_NONE, 0, 0, 0};
    return string::init_empty(out, 16);
  }

  static std::string text_of(const Cell& out) {
    alloc::Series* s = alloc::series_of(out.w2);
    std::string text;
    for (uint32_t i = 0; i < s->used() / s->unit(); i++) {
      text += static_cast<char>(string::char_at(out, i));
    }
    return text;
  }

  static Cell* build_cells(std::string_view text, size_t& at, uint8_t type, char close) {
    Cell* result = block::push_new(4);
    cell::set_type(*result, type);
    bool new_line = false;
    while (at < text.size() && text[at] != close) {
      char c = text[at];
      if (c == ' ') {
        at++;
      } else if (c == '\n') {
        new_line = true;
        at++;
      } else {
        Cell value;
        if (c == '[' || c == '(') {
          at++;
          Cell* nested = build_cells(text, at, c == '[' ? TYPE_BLOCK : TYPE_PAREN,
                                     c == '[' ? ']' : ')');
          value = *nested;
          at++;
        } else {
          size_t end = text.find_first_of(" \n[]()", at);
          std::string_view token = text.substr(at, end - at);
          at = end == std::string_view::npos ? text.size() : end;
          value = token == "none"    ? constants::none
                  : token == "true"  ? Cell{TYPE_LOGIC, 1, 0, 0}
                  : token == "false" ? Cell{TYPE_LOGIC, 0, 0, 0}
                                     : letter(token[0]);
        }
        if (new_line) value.header |= cell::kNewLine;
        new_line = false;
        block::append_cell(*result, value);
        if (cell::type_of(value) == TYPE_BLOCK || cell::type_of(value) == TYPE_PAREN) {
          stack::pop_cells(1);  // the nested value, now held by the result
        }
      }
    }
    return result;
  }

  Cell* saved_top_ = nullptr;
  Cell* saved_args_ = nullptr;
};

}  // namespace block_test
