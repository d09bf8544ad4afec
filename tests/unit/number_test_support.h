// Test helper for the number suites (integer!, char!): calls action entries the way the
// dispatcher does (a native frame, the operands pushed on the data stack), renders results as
// short texts ("5", "#97", "f:3.5", "math/overflow") so that case tables read at a glance, and
// stands in for the entries of other types (float!, pair!...) to show what they are handed.
// Builds on word_test_support.h; everything a test makes lives on the data stack.
#pragma once
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "interpreter/frames.h"
#include "word_test_support.h"

namespace number_test {

class NumberTest : public word_test::WordTest {
 protected:
  void SetUp() override {
    WordTest::SetUp();
    handed.clear();
  }

  static Cell real(double d, uint8_t type = TYPE_FLOAT) {
    Cell c{type, 0, 0, 0};
    cell::set_double(c, d);
    return c;
  }
  // A new data-stack cell the collector may scan while the caller allocates its contents.
  static Cell* empty_stack_cell() {
    Cell* c = stack::push_new();
    *c = constants::none;
    return c;
  }
  static Cell chr(uint32_t code_point) { return Cell{TYPE_CHAR, 0, code_point, 0}; }
  static Cell pair(int32_t x, int32_t y) {
    return Cell{TYPE_PAIR, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)};
  }
  static Cell issue(const char* text) { return source_word(text, TYPE_ISSUE); }
  // A binary! on the data stack holding the bytes, positioned at index.
  static Cell binary(std::initializer_list<uint8_t> bytes, uint32_t index = 0) {
    Cell* b = string::init_empty(empty_stack_cell(), 16);
    cell::set_type(*b, TYPE_BINARY);
    uint8_t* at = alloc::reserve_bytes(b->w2, static_cast<uint32_t>(bytes.size()));
    if (bytes.size()) std::memcpy(at, bytes.begin(), bytes.size());
    b->w1 = index;
    return *b;
  }
  // A string! on the data stack holding the UTF-8 text, positioned at index.
  static Cell text(const char* utf8, uint32_t index = 0) {
    Cell* s = string::load_encoded_push(reinterpret_cast<const uint8_t*>(utf8),
                                        std::strlen(utf8), string::kUtf8);
    s->w1 = index;
    return *s;
  }

  // integer 5 -> "5", char -> "#97", float -> "f:3.5", percent "p:", time "t:", pair "1x2";
  // other values by their datatype's name.
  static std::string show(const Cell& c) {
    char buffer[64];
    switch (cell::type_of(c)) {
      case TYPE_INTEGER:
        return std::to_string(static_cast<int32_t>(c.w2));
      case TYPE_CHAR:
        return "#" + std::to_string(c.w2);
      case TYPE_FLOAT:
      case TYPE_PERCENT:
      case TYPE_TIME: {
        const char* prefix = cell::type_of(c) == TYPE_FLOAT ? "f" : cell::type_of(c) == TYPE_PERCENT ? "p" : "t";
        std::snprintf(buffer, sizeof buffer, "%s:%.17g", prefix, cell::get_double(c));
        return buffer;
      }
      case TYPE_PAIR:
        return std::to_string(static_cast<int32_t>(c.w2)) + "x" +
               std::to_string(static_cast<int32_t>(c.w3));
      default:
        return datatype::name_of(cell::type_of(c));
    }
  }

  // Runs body inside a frame of its own, so that an error, which reshapes the stack down to the
  // frame that catches it, leaves the test's earlier values alone. Gives the raised error as
  // category/id, or "" when body returned.
  template <class Body>
  static std::string guarded(Body&& body) {
    frames::mark_native(source_word("test-call"));
    std::string error = raised_by(body);
    frames::unwind();
    stack::pop_cells(1);
    return error;
  }

  // Calls the first operand's on-frame entry for the slot as the dispatcher does. Gives what a
  // stand-in entry was handed when one ran, else the raised error as category/id, else the
  // result (arg 0).
  static std::string run(action::Slot slot, std::initializer_list<Cell> operands) {
    Cell result{};
    std::string error = guarded([&] {
      frames::mark_native(source_word("test-call"));
      for (const Cell& c : operands) stack::push_copy(c);
      auto fn = reinterpret_cast<action::OnFrame>(
          datatype::table[cell::type_of(*operands.begin())][slot - 1]);
      fn();
      result = *stack::arg(0);
      frames::unwind();
    });
    if (!handed.empty()) return handed;
    return error.empty() ? show(result) : error;
  }

  // make (or to) of the target type from the spec, as "make integer! spec" runs it.
  static std::string convert(action::Slot slot, uint8_t type, const Cell& spec) {
    Cell result{};
    std::string error = guarded([&] {
      frames::mark_native(source_word("test-call"));
      Cell* proto = datatype::push(type);
      Cell* copy = stack::push_copy(spec);
      result = slot == action::MAKE ? *datatype::lookup<action::MAKE>(type)(proto, copy, type)
                                    : *datatype::lookup<action::TO>(type)(proto, copy, type);
      frames::unwind();
    });
    return error.empty() ? show(result) : error;
  }

  static int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    Cell* first = stack::push_copy(a);
    Cell* second = stack::push_copy(b);
    int32_t r = datatype::lookup<action::COMPARE>(cell::type_of(a))(first, second, op);
    stack::pop_cells(2);
    return r;
  }

  static std::string mold_all(const Cell& value) {
    Cell* copy = stack::push_copy(value);
    Cell* out = string::init_empty(empty_stack_cell(), 16);
    datatype::lookup<action::MOLD>(cell::type_of(*copy))(copy, out, {.all = true}, nullptr,
                                                           INT32_MAX, 0);
    std::string molded = text_of(*out);
    stack::pop_cells(2);
    return molded;
  }

  // --- Stand-ins for other types' entries ---------------------------------------------------

  // What the stand-ins were handed, in call order: "add(f:5 f:1.5)".
  static inline std::string handed;

  // Puts a stand-in into a type's action row for the life of the object.
  class Stub {
   public:
    Stub(uint8_t type, action::Slot slot, datatype::AnyFn fn)
        : entry_(datatype::table[type][slot - 1]), saved_(entry_) {
      entry_ = fn;
    }
    ~Stub() { entry_ = saved_; }
    Stub(const Stub&) = delete;
    Stub& operator=(const Stub&) = delete;

   private:
    datatype::AnyFn& entry_;
    datatype::AnyFn saved_;
  };

  static const char* slot_label(action::Slot slot) {
    switch (slot) {
      case action::ADD: return "add";
      case action::SUBTRACT: return "subtract";
      case action::MULTIPLY: return "multiply";
      case action::DIVIDE: return "divide";
      case action::REMAINDER: return "remainder";
      case action::NEGATE: return "negate";
      case action::POWER: return "power";
      case action::AND_T: return "and~";
      case action::OR_T: return "or~";
      case action::XOR_T: return "xor~";
      default: return "?";
    }
  }
  // An on-frame stand-in: records the slot and both operands.
  template <action::Slot S>
  static void record() {
    handed += std::string(slot_label(S)) + "(" + show(*stack::arg(0)) + " " +
              show(*stack::arg(1)) + ")";
  }
  template <action::Slot S>
  static Stub stub(uint8_t type) {
    return Stub(type, S, reinterpret_cast<datatype::AnyFn>(&record<S>));
  }
};

}  // namespace number_test
