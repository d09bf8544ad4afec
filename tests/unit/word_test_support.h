// Test helper for the suites over blocks of values (words, contexts, series, blocks): a fixture
// that empties the stacks around each test, a builder that turns a short text ("a [b :c] (d)
// e: /f #g none 12 \"doc\"\nh", strings without spaces) into a block as source code would hold
// it (words bound to the global context, unresolved), and readers for mold, form and raised
// errors (by name, or the error value itself).
// Everything a test makes lives on the data stack, so it stays rooted under ZEL_GC_STRESS=1.
#pragma once
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "gc_stress.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "lexer/lexer.h"
#include "runtime/gc.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace word_test {

using ::StressEveryAllocation;

class WordTest : public testing::Test {
 protected:
  void SetUp() override {
    frames::reset_all();
    rt::raised = {};
  }
  void TearDown() override {
    frames::reset_all();
    cycles::reset();
  }

  static uint32_t sym(const char* name) { return symbol::intern_c_string(name); }
  // Evaluates source text; the result is left on the data stack and returned.
  static Cell* eval(const std::string& source) {
    Cell* code = stack::push_new();
    *code = constants::none;
    lexer::scan(code, reinterpret_cast<const uint8_t*>(source.data()), source.size(),
                lexer::Mode{}, nullptr, nullptr, nullptr);
    interp::eval_block(*code, false);
    return stack::top_cell();
  }
  static Cell integer(int32_t n) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(n), 0}; }
  // A word as the loader makes it: bound to the global context, not yet looked up.
  static Cell source_word(const char* name, uint8_t type = TYPE_WORD) {
    return Cell{type, context::global, sym(name), context::kUnresolved};
  }

  // A block on the data stack from a text: name, name:, :name, 'name, /name, #name, none, true,
  // false, [ ... ] and ( ... ). A value that follows a line feed carries the new-line marker.
  static Cell* build(std::string_view text) {
    size_t at = 0;
    return build_cells(text, at, TYPE_BLOCK, 0);
  }
  // The same block positioned at the 0-based index.
  static Cell* build_at(std::string_view text, int32_t index) {
    Cell* b = build(text);
    b->w1 = static_cast<uint32_t>(index);
    return b;
  }
  // Cell #i of a block from its head, through nested blocks: at(block, {1, 0}).
  static Cell* at(const Cell& block, const std::vector<uint32_t>& path) {
    const Cell* c = &block;
    for (uint32_t i : path) c = cell::block_head(*c) + i;
    return const_cast<Cell*>(c);
  }

  // The text the value molds to; a part of -1 sets no limit.
  static std::string mold(const Cell& value, bool only = false, bool flat = false,
                          int32_t part = -1) {
    Cell* copy = stack::push_copy(value);
    Cell* out = new_output();
    Cell* limit = part < 0 ? nullptr : stack::push_copy(integer(part));
    datatype::lookup<action::MOLD>(cell::type_of(*copy))(
        copy, out, {.only = only, .flat = flat}, limit, part < 0 ? INT32_MAX : part, 0);
    std::string text = text_of(*out);
    stack::pop_cells(limit ? 3 : 2);
    return text;
  }
  static std::string form(const Cell& value) {
    Cell* copy = stack::push_copy(value);
    Cell* out = new_output();
    datatype::lookup<action::FORM>(cell::type_of(*copy))(copy, out, nullptr, INT32_MAX);
    std::string text = text_of(*out);
    stack::pop_cells(2);
    return text;
  }
  // A block's cells from its head, molded without the brackets.
  static std::string cells(const Cell& value) { return mold(value, true); }

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
  // The error the call raised as category/id ("" when it returned).
  template <class Body>
  static std::string raised_by(Body&& body) {
    rt::raised = {};
    uint32_t code = frames::try_catch(runtime_words::words.try_, body);
    cycles::reset();
    if (!code) return "";
    return std::string(rt::raised.category) + "/" + rt::raised.id;
  }
  // The error value the body raised (the newest stack cell after the throw), or null.
  template <class Body>
  static Cell* caught(Body&& body) {
    uint32_t code = frames::try_catch(runtime_words::words.try_, body);
    cycles::reset();
    if (code != rt::kThrowError) return nullptr;
    Cell* e = stack::top - 1;
    return cell::type_of(*e) == TYPE_ERROR ? e : nullptr;
  }

 private:
  static Cell* new_output() {
    Cell* out = stack::push_new();
    *out = constants::none;
    return string::init_empty(out, 16);
  }

  // The value of the token at `at`, which it passes.
  static Cell token_value(std::string_view text, size_t& at) {
    size_t end = text.find_first_of(" \n[]()", at);
    std::string token(text.substr(at, end - at));
    at = end == std::string_view::npos ? text.size() : end;
    if (token.size() > 1 && token.front() == '"' && token.back() == '"') {
      return *string::load_encoded_push(reinterpret_cast<const uint8_t*>(token.data()) + 1,
                                        token.size() - 2, string::kUtf8);
    }
    size_t digits = token[0] == '-' ? 1 : 0;
    if (token.size() > digits && token.find_first_not_of("0123456789", digits) == token.npos) {
      return integer(std::stoi(token));
    }
    if (token == "none") return constants::none;
    if (token == "true") return constants::true_value;
    if (token == "false") return constants::false_value;
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
    return source_word(token.c_str(), type);
  }

  static Cell* build_cells(std::string_view text, size_t& at, uint8_t type, char close) {
    Cell* result = block::push_new(4);
    cell::set_type(*result, type);
    bool new_line = false;
    while (at < text.size() && text[at] != close) {
      char c = text[at];
      if (c == ' ' || c == '\n') {
        new_line |= c == '\n';
        at++;
        continue;
      }
      Cell* before = stack::top;
      Cell value;
      if (c == '[' || c == '(') {
        at++;
        value = *build_cells(text, at, c == '[' ? TYPE_BLOCK : TYPE_PAREN, c == '[' ? ']' : ')');
        at++;
      } else {
        value = token_value(text, at);
      }
      if (new_line) value.header |= cell::kNewLine;
      new_line = false;
      block::append_cell(*result, value);
      stack::top = before;  // a nested series is now held by the result
    }
    return result;
  }
};

}  // namespace word_test
