// Test helper for the text suites: a fixture that drops the cells a test pushed, and builders
// and readers of text values by code point and unit. It relies on the runtime's collector
// entries for the text types. Text cells live on the data stack, so they stay rooted while
// every allocation moves every buffer (ZEL_GC_STRESS=1).
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "runtime/alloc.h"

class TextTest : public testing::Test {
 protected:
  void SetUp() override { saved_top_ = stack::top; }
  void TearDown() override { stack::top = saved_top_; }

  // A new string! on the data stack holding the code points, in a buffer of at least `unit`.
  static Cell* text(std::u32string_view code_points, uint32_t unit = 1) {
    Cell* c = stack::push_new();
    *c = Cell{TYPE_NONE, 0, 0, 0};
    string::init_empty_of_unit(c, static_cast<uint32_t>(code_points.size()), unit);
    for (size_t i = 0; i < code_points.size(); i++) {
      string::poke_char_at(c->w2, static_cast<uint32_t>(i), code_points[i]);
    }
    return c;
  }

  // The code points from the value's head to its tail.
  static std::u32string read(const Cell& value) {
    alloc::Series* s = alloc::series_of(value.w2);
    uint32_t unit = s->unit();
    std::u32string out;
    for (uint32_t i = value.w1; i < s->used() / unit; i++) {
      out += static_cast<char32_t>(string::char_at(value, i));
    }
    return out;
  }

  static uint32_t unit_of(const Cell& value) { return alloc::series_of(value.w2)->unit(); }

 private:
  Cell* saved_top_ = nullptr;
};
