// Test helper for the word and context suites: a fixture that brings up the block and string
// collector entries the suites lean on and empties the stacks around each test, a builder that
// turns a short text ("a [b :c] d: /e #f") into a block of words as source code would hold them
// (bound to the global context, unresolved), and readers for mold, form and raised errors.
// Everything a test makes lives on the data stack, so it stays rooted under ZEL_GC_STRESS=1.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "datatypes/runtime_words.h"
#include "interpreter/stack.h"
#include "runtime/gc.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace word_test {

class WordTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!datatype::lookup<action::MOLD>(TYPE_BLOCK)) {
      series::init();
      block::init();
    }
    gc::set_type_marker(TYPE_STRING, gc::mark_series_cell);
  }
  void SetUp() override {
    stack::reset_all();
    rt::raised = {};
  }
  void TearDown() override {
    stack::reset_all();
    cycles::reset();
  }

  static uint32_t sym(const char* name) { return symbol::intern_c_string(name); }
  static Cell integer(int32_t n) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(n), 0}; }
  // A word as the loader makes it: bound to the global context, not yet looked up.
  static Cell source_word(const char* name, uint8_t type = TYPE_WORD) {
    return Cell{type, context::global, sym(name), context::kUnresolved};
  }

  // A block of words on the data stack: name, name:, :name, 'name, /name, #name, [ ... ].
  static Cell* build(std::string_view text) {
    size_t at = 0;
    return build_cells(text, at);
  }
  // Cell #i of a block from its head, through nested blocks: at(block, {1, 0}).
  static Cell* at(const Cell& block, const std::vector<uint32_t>& path) {
    const Cell* c = &block;
    for (uint32_t i : path) c = cell::block_head(*c) + i;
    return const_cast<Cell*>(c);
  }

  static std::string mold(const Cell& value) { return output<action::MOLD>(value); }
  static std::string form(const Cell& value) { return output<action::FORM>(value); }


 public:
  // The text of a string value from its head, in UTF-8.
  static std::string text_of(const Cell& value) {
    std::string text;
    for (uint32_t i = value.w1; i < string::whole_length(value); i++) {
      uint8_t bytes[4];
      uint32_t n = unicode::encode_utf8_char(string::char_at(value, i), bytes);
      text.append(reinterpret_cast<char*>(bytes), n);
    }
    return text;
  }

 protected:
  // The error id the call raised ("" when it returned); the category must be script.
  template <class Body>
  static std::string raised_by(Body&& body) {
    rt::raised = {};
    uint32_t code = stack::try_catch(runtime_words::words.try_, body);
    cycles::reset();
    if (!code) return "";
    return std::string(rt::raised.category) + "/" + rt::raised.id;
  }

 private:
  template <action::Slot S>
  static std::string output(const Cell& value) {
    Cell* copy = stack::push_copy(value);
    Cell* out = stack::push_new();
    *out = constants::none;
    string::init_empty(out, 16);
    if constexpr (S == action::MOLD) {
      datatype::lookup<action::MOLD>(cell::type_of(*copy))(copy, out, false, false, false,
                                                             nullptr, INT32_MAX, 0);
    } else {
      datatype::lookup<action::FORM>(cell::type_of(*copy))(copy, out, nullptr, INT32_MAX);
    }
    std::string text = text_of(*out);
    stack::pop_cells(2);
    return text;
  }

  static Cell* build_cells(std::string_view text, size_t& at) {
    Cell* result = block::push_new(4);
    while (at < text.size() && text[at] != ']') {
      if (text[at] == ' ') {
        at++;
        continue;
      }
      if (text[at] == '[') {
        at++;
        Cell nested = *build_cells(text, at);
        at++;
        block::append_cell(*result, nested);
        stack::pop_cells(1);  // now held by the result
        continue;
      }
      size_t end = text.find_first_of(" []", at);
      std::string token(text.substr(at, end - at));
      at = end == std::string_view::npos ? text.size() : end;
      uint8_t type = TYPE_WORD;
      if (token.size() > 1 && token.back() == ':') {
        type = TYPE_SET_WORD;
        token.pop_back();
      } else if (token.size() > 1) {
        switch (token[0]) {
          case ':': type = TYPE_GET_WORD; break;
          case '\'': type = TYPE_LIT_WORD; break;
          case '/': type = TYPE_REFINEMENT; break;
          case '#': type = TYPE_ISSUE; break;
          default: break;
        }
        if (type != TYPE_WORD) token.erase(0, 1);
      }
      block::append_cell(*result, source_word(token.c_str(), type));
    }
    return result;
  }
};

}  // namespace word_test
