// Test helper for the lexer suites: loads source text and describes the loaded values exactly,
// type by type (block, paren and path nesting, word decorations, integers, floats, percents,
// chars, strings, binaries, datatypes, constants, the new-line marker as a line break), or the
// syntax error raised ("invalid integer! line 3"). The describer reads cells itself, so a
// datatype whose mold is not there yet still shows. Everything lives on the data stack.
#pragma once
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "lexer/lexer.h"
#include "tests/unit/word_test_support.h"

namespace lexer_test {

class LexerTest : public word_test::WordTest {
 protected:
  // The loaded block's values, or the error.
  static std::string load(std::string_view source, const lexer::Mode& mode = {}) {
    // A successful try drops the stack cells above its frame: the values are described inside.
    std::string text;
    std::string error = raised_by([&] {
      Cell* out = stack::push_new();
      *out = constants::none;
      lexer::scan(out, reinterpret_cast<const uint8_t*>(source.data()), source.size(), mode,
                  nullptr, nullptr, nullptr);
      text = cell::type_of(*out) == TYPE_BLOCK && !mode.one ? cells_of(*out) : describe(*out);
    });
    return error.empty() ? text : describe_error(error);
  }

  // The datatype a check-only scan reports (and the bytes it consumed).
  static std::string scan_type(std::string_view source, bool one = true, size_t* consumed = nullptr,
                               bool prescan = false) {
    lexer::Mode mode;
    mode.one = one;
    mode.load = false;
    mode.prescan = prescan;
    Cell* out = stack::push_new();
    *out = constants::none;
    uint8_t type = lexer::scan(out, reinterpret_cast<const uint8_t*>(source.data()), source.size(),
                               mode, consumed, nullptr, nullptr);
    stack::pop_cells(1);
    return type ? datatype::name_of(type) : "none";
  }

  static std::string describe(const Cell& c) {
    uint8_t type = cell::type_of(c);
    switch (type) {
      case TYPE_BLOCK: return "[" + cells_of(c) + "]";
      case TYPE_PAREN: return "(" + cells_of(c) + ")";
      case TYPE_PATH: return path_of(c, "", "");
      case TYPE_LIT_PATH: return path_of(c, "'", "");
      case TYPE_GET_PATH: return path_of(c, ":", "");
      case TYPE_SET_PATH: return path_of(c, "", ":");
      case TYPE_WORD: return name_of(c);
      case TYPE_SET_WORD: return name_of(c) + ":";
      case TYPE_GET_WORD: return ":" + name_of(c);
      case TYPE_LIT_WORD: return "'" + name_of(c);
      case TYPE_REFINEMENT: return "/" + name_of(c);
      case TYPE_ISSUE: return "#" + name_of(c);
      case TYPE_INTEGER: return std::to_string(static_cast<int32_t>(c.w2));
      case TYPE_FLOAT: return number_of(cell::get_double(c));
      case TYPE_PERCENT: return "pct " + number_of(cell::get_double(c));
      case TYPE_CHAR: return "#\"" + escaped(c.w2) + "\"";
      case TYPE_STRING: return "\"" + text_escaped(c) + "\"";
      case TYPE_BINARY: return "#{" + bytes_of(c) + "}";
      case TYPE_DATATYPE: return datatype::name_of(static_cast<uint8_t>(c.w1));
      case TYPE_LOGIC: return c.w1 ? "#(true)" : "#(false)";
      case TYPE_NONE: return "#(none)";
      case TYPE_UNSET: return "#(unset)";
      default: return std::string("?") + datatype::name_of(type);
    }
  }

  // The cells of a series from its head, separated by a blank, or a line break before a cell
  // that carries the new-line marker.
  static std::string cells_of(const Cell& series) {
    std::string text;
    // Describing allocates (names are decoded on demand): cells are re-read by index.
    uint32_t count = static_cast<uint32_t>(cell::block_tail(series) - cell::block_head(series));
    for (uint32_t i = 0; i < count; i++) {
      Cell c = cell::block_head(series)[i];
      if (c.header & cell::kNewLine) text += "\n";
      else if (i) text += " ";
      text += describe(c);
    }
    return text;
  }

  // The unit of a string value's buffer.
  static uint32_t unit_of(const Cell& value) { return alloc::series_of(value.w2)->unit(); }

 private:
  static std::string describe_error(const std::string& raised) {
    Cell* error = stack::top_cell();
    std::string id = raised.substr(raised.find('/') + 1);
    std::string text = raised.substr(0, raised.find('/')) == "syntax" ? id : raised;
    if (cell::type_of(*error) != TYPE_ERROR) return text;
    Cell line = *error::field(*error, error::kArg1);
    Cell detail = *error::field(*error, error::kArg2);
    if (id == "invalid") text += std::string(" ") + datatype::name_of(detail.w1);
    if (id == "missing") text += std::string(" ") + static_cast<char>(detail.w2);
    std::string line_text = text_of(line);  // "(line 3)"
    return text + " line " + line_text.substr(6, line_text.size() - 7);
  }

  static std::string name_of(const Cell& word) {
    Cell name = symbol::name_string(word.w2);
    return text_of(name);
  }

  static std::string path_of(const Cell& path, const char* before, const char* after) {
    std::string text = before;
    uint32_t count = static_cast<uint32_t>(cell::block_tail(path) - cell::block_head(path));
    for (uint32_t i = 0; i < count; i++) {
      Cell c = cell::block_head(path)[i];
      text += (i ? "/" : "") + describe(c);
    }
    return text + after;
  }

  static std::string number_of(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "+inf" : "-inf";
    char buffer[64];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, d);
    std::string text(buffer, r.ptr);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
  }

  static std::string escaped(uint32_t code_point) {
    if (code_point >= 0x20 && code_point < 0x7F && code_point != '"' && code_point != '^') {
      return std::string(1, static_cast<char>(code_point));
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "^(%X)", code_point);
    return buffer;
  }

  static std::string text_escaped(const Cell& value) {
    std::string text;
    for (uint32_t i = value.w1; i < string::whole_length(value); i++) {
      text += escaped(string::char_at(value, i));
    }
    return text;
  }

  static std::string bytes_of(const Cell& value) {
    std::string text;
    alloc::Series* s = alloc::series_of(value.w2);
    for (uint32_t i = value.w1; i < s->used(); i++) {
      char buffer[4];
      std::snprintf(buffer, sizeof buffer, "%02X", s->head_ptr()[i]);
      text += buffer;
    }
    return text;
  }
};

}  // namespace lexer_test
