// Test helper for the byte-buffer suites (binary!, bitset!): builders of chars, texts, binaries
// and blocks of given cells on the data stack, a reader of a binary's bytes, and a runner for the
// actions that work on the frame's cells. Builds on word_test_support.h; everything a test makes
// lives on the data stack, so it stays rooted under ZEL_GC_STRESS=1.
#pragma once
#include <initializer_list>
#include <string>
#include <string_view>

#include "datatypes/binary.h"
#include "word_test_support.h"

namespace byte_test {

class ByteTest : public word_test::WordTest {
 protected:
  static Cell chr(uint32_t c) { return Cell{TYPE_CHAR, 0, c, 0}; }

  // A string! of the UTF-8 text.
  static Cell* text(const char* utf8) {
    return string::load_encoded_push(reinterpret_cast<const uint8_t*>(utf8),
                                     std::char_traits<char>::length(utf8), string::kUtf8);
  }
  // A binary! of the bytes.
  static Cell* bytes(std::string_view b) {
    Cell* c = stack::push_copy(constants::none);
    return binary::make_from_bytes(c, reinterpret_cast<const uint8_t*>(b.data()), b.size());
  }
  // A block! of the cells (series among them must already be rooted, on the stack).
  static Cell* block_of(std::initializer_list<Cell> cells) {
    Cell* b = block::push_new(int32_t(cells.size()));
    for (const Cell& c : cells) block::append_cell(*b, c);
    return b;
  }
  // The bytes of a binary! from its head to its tail.
  static std::string read(const Cell& value) {
    alloc::Series* s = alloc::series_of(value.w2);
    return std::string(reinterpret_cast<const char*>(s->head_ptr()) + value.w1,
                       s->used() - value.w1);
  }

  // Runs an action on the frame's cells (arguments[0] and [1]); the result is pushed again so
  // that it stays rooted.
  static Cell* on_frame(void (*action)(), const Cell& first, const Cell& second = Cell{}) {
    Cell* saved = stack::args;
    stack::args = stack::top;
    stack::push_copy(first);
    stack::push_copy(second);
    action();
    Cell result = *stack::arg(0);
    stack::top = stack::args;
    stack::args = saved;
    return stack::push_copy(result);
  }
};

}  // namespace byte_test
