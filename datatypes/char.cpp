// char!: its action entries. Arithmetic goes through the integer core (datatypes/integer.h) and
// must land in the code point range; mold writes the caret escapes shared with strings
// (datatypes/string.h). Operands live in the current frame's cells (rooted).
#include "datatypes/char.h"

#include <utility>

#include "datatypes/cell_ops.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace char_ {

Cell* push(uint32_t code_point) {
  Cell* c = stack::push_new();
  *c = make(code_point);
  return c;
}

Cell* append_to_block(const Cell* block, uint32_t code_point) {
  Cell* c = cell::append_new_cell(block);
  *c = make(code_point);
  return c;
}

namespace {

[[noreturn]] void fire_bad_to_arg(const Cell* spec) {
  rt::fire_error("script", "bad-to-arg", datatype::push(TYPE_CHAR), spec);
}

// The code point of the UTF-8 sequence at the binary's position; an empty, cut-short or
// malformed sequence cannot be converted.
uint32_t from_binary(const Cell& binary) {
  Cell copy = binary;
  const uint8_t* p = string::head_address(copy);
  const uint8_t* end = string::tail_address(copy);
  int32_t code_point;
  unicode::decode_utf8_dfa(p, end, code_point);
  if (code_point < 0) fire_bad_to_arg(&binary);
  return static_cast<uint32_t>(code_point);
}

// make and to.
Cell* to(Cell* proto, Cell* spec, uint8_t) {
  uint32_t code_point;
  switch (cell::type_of(*spec)) {
    case TYPE_CHAR:
    case TYPE_INTEGER: {
      int32_t n = integer::get_value(*spec);
      if (n < 0 || n > int32_t(unicode::kMaxCodePoint)) {
        rt::fire_error("script", "out-of-range", spec);
      }
      code_point = static_cast<uint32_t>(n);
      break;
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      // Truncated toward zero, so anything above -1.0 gives 0; NaN fails the test.
      double d = cell::get_double(*spec);
      if (!(d > -1.0 && d < unicode::kMaxCodePoint + 1.0)) {
        rt::fire_error("script", "out-of-range", spec);
      }
      code_point = static_cast<uint32_t>(d);
      break;
    }
    case TYPE_BINARY:
      code_point = from_binary(*spec);
      break;
    default:  // the first character of a text
      if (!types::any_string(cell::type_of(*spec)) || string::at_tail(*spec)) {
        fire_bad_to_arg(spec);
      }
      code_point = string::char_at(*spec, cell::series_index(*spec));
  }
  *proto = make(code_point);
  return proto;
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  string::append_char(cell::series_node(*out), code_point_of(*value));
  return part - 1;
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell*, int32_t part, int32_t) {
  // The value may lie in a buffer that the appends move.
  uint32_t code_point = code_point_of(*value);
  string::append_c_string(*out, "#\"");
  string::mold_char_escaped(*out, code_point, options.all);
  string::append_c_string(*out, "\"");
  return part - 4;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  uint8_t type = cell::type_of(*b);
  if ((op == action::STRICT_EQUAL || op == action::FIND_EQUAL) && type != TYPE_CHAR) return 1;
  if (type != TYPE_CHAR && type != TYPE_INTEGER) return action::kNotComparable;
  int32_t x = integer::get_value(*a), y = integer::get_value(*b);
  return (x > y) - (x < y);
}

// char op number on the frame's cells; the result stays a char!.
template <integer::Op op>
void math() {
  Cell* right = stack::arg(1);
  int32_t operand;
  switch (cell::type_of(*right)) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_FLOAT:
      operand = cell::get_integer_arg(*right);
      break;
    case TYPE_VECTOR:  // the vector applies the operation to each element
      std::swap(*stack::arg(0), *right);
      integer::run_slot(TYPE_VECTOR, integer::slot_of(op));
      return;
    default:
      rt::fire_error("script", "invalid-type", datatype::push(cell::type_of(*right)));
  }
  // The core turns this cell into a float! when the result leaves the 32-bit range; a divide
  // truncates instead.
  Cell range = integer::make(0);
  int32_t n = integer::do_math(integer::get_value(*stack::arg(0)), operand, op,
                               op == integer::DIVIDE ? nullptr : &range);
  if (cell::type_of(range) != TYPE_INTEGER || n < 0 || n > int32_t(unicode::kMaxCodePoint)) {
    rt::fire_error("math", "overflow");
  }
  set_code_point(*stack::arg(0), static_cast<uint32_t>(n));
}

}  // namespace

void init() {
  namespace a = action;
  using datatype::act;
  using datatype::inherit;
  namespace i = integer;
  datatype::register_type(
      TYPE_CHAR,
      {act<a::MAKE>(to), inherit<a::RANDOM>(), act<a::TO>(to), act<a::FORM>(form),
       act<a::MOLD>(mold), act<a::COMPARE>(compare), inherit<a::ABSOLUTE>(),
       act<a::ADD>(math<i::ADD>), act<a::DIVIDE>(math<i::DIVIDE>),
       act<a::MULTIPLY>(math<i::MULTIPLY>), act<a::REMAINDER>(math<i::REMAINDER>),
       act<a::SUBTRACT>(math<i::SUBTRACT>), inherit<a::EVEN_Q>(), inherit<a::ODD_Q>(),
       act<a::AND_T>(math<i::AND>), act<a::OR_T>(math<i::OR>), act<a::XOR_T>(math<i::XOR>)});
}

}  // namespace char_
