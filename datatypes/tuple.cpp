// tuple!: its action entries: make and to (blocks, text, hexadecimal colour issues, binaries),
// text, the path step (pick and poke), comparison, arithmetic clamped to bytes, complement,
// length?, pick and reverse. Operands live in the current frame's cells (rooted); a tuple holds
// no series, and the bytes are copied out of a cell before anything can move it.
#include "datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/rng.h"
#include "runtime/throw.h"

namespace tuple {

namespace {

struct Bytes {
  uint32_t count;
  uint8_t b[kMaxBytes];
};

Bytes bytes_of(const Cell& tuple) {
  Bytes bytes{count_of(tuple), {}};
  get_bytes(tuple, bytes.b);
  return bytes;
}

Cell make_from(const Bytes& bytes) {
  Cell made{};
  return *make_at(&made, bytes.count, bytes.b);
}

[[noreturn]] void fire_bad_to_arg(const Cell& spec) {
  rt::fire_error("script", "bad-to-arg", datatype::push(TYPE_TUPLE), &spec);
}

// A result as a byte: the range 0-255 by clamping, fractions truncated, NaN 0.
uint8_t clamped(double value) {
  if (value >= 255.0) return 255;
  return value > 0.0 ? static_cast<uint8_t>(value) : 0;
}

// --- make and to ---------------------------------------------------------------------------------

Cell from_block(const Cell& spec) {
  int32_t length = block::rest_length(spec);
  if (length > int32_t(kMaxBytes)) fire_bad_to_arg(spec);
  Bytes bytes{std::max<uint32_t>(uint32_t(std::max(length, 0)), kMinBytes), {}};
  for (int32_t i = 0; i < length; i++) {
    const Cell& value = *block::cell_at(spec, cell::series_index_signed(spec) + i);
    uint8_t type = cell::type_of(value);
    if (type != TYPE_INTEGER && type != TYPE_CHAR) fire_bad_to_arg(spec);
    int32_t n = integer::get_value(value);
    if (n < 0 || n > 255) rt::fire_error("script", "out-of-range", &value);
    bytes.b[i] = uint8_t(n);
  }
  return make_from(bytes);
}

// A colour: 3 hexadecimal digits (each doubled: F0A is 255.0.170), 6 (r g b) or 8 (r g b
// alpha). The digits are read as integer! reads an issue.
Cell from_issue(Cell& issue) {
  const uint32_t name = symbol::utf8_node_of(*symbol::get_cell(word::symbol_of(issue)));
  const uint32_t length = alloc::series_of(name)->used();
  if (length != 3 && length != 6 && length != 8) rt::fire_error("script", "invalid-data", &issue);
  Cell digits = issue;
  datatype::implemented<action::TO>(TYPE_INTEGER)(&digits, &issue, TYPE_INTEGER);
  const uint32_t value = static_cast<uint32_t>(integer::get_value(digits));
  Bytes bytes{std::max(length / 2, kMinBytes), {}};
  for (uint32_t i = 0; i < bytes.count; i++) {
    uint32_t shift = (bytes.count - 1 - i) * (length == 3 ? 4 : 8);
    bytes.b[i] = uint8_t(length == 3 ? (value >> shift & 0xF) * 17 : value >> shift);
  }
  return make_from(bytes);
}

// Up to 12 bytes from the binary's head, at least 3 (zero-padded).
Cell from_binary(const Cell& spec) {
  Cell copy = spec;
  uint32_t length = std::min(string::rest_length(copy), kMaxBytes);
  Bytes bytes{std::max(length, kMinBytes), {}};
  std::memcpy(bytes.b, string::head_address(copy), length);
  return make_from(bytes);
}

Cell* to(Cell* proto, Cell* spec, uint8_t) {
  uint8_t type = cell::type_of(*spec);
  Cell made;
  switch (type) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
      made = from_block(*spec);
      break;
    case TYPE_ISSUE:
      made = from_issue(*spec);
      break;
    case TYPE_TUPLE:
      made = *spec;
      cell::clear_new_line_flag(made.header);
      break;
    case TYPE_BINARY:
      made = from_binary(*spec);
      break;
    default:
      if (!types::any_string(type)) fire_bad_to_arg(*spec);
      return compound::load_from_text(proto, *spec, TYPE_TUPLE);
  }
  *proto = made;
  return proto;
}

// --- Text ----------------------------------------------------------------------------------------

// The bytes in decimal joined by ".".
int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  const Bytes bytes = bytes_of(*value);
  for (uint32_t i = 0; i < bytes.count; i++) {
    if (i > 0) part -= cell::append_text(out, ".");
    part -= cell::append_text(out, integer::to_decimal_text(bytes.b[i]));
  }
  return part;
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  return form(value, out, nullptr, part);
}

// --- Pick, poke and the path step ----------------------------------------------------------------

Cell* pick(Cell* value, int32_t index, Cell* index_value) {
  const Bytes bytes = bytes_of(*value);
  if (index < 1 || uint32_t(index) > bytes.count) {
    rt::fire_error("script", "out-of-range", index_value);
  }
  *value = integer::make(bytes.b[index - 1]);
  return value;
}

// An integer! is clamped to a byte and stored, the count growing to the index when needed;
// none! cuts the tuple before the index, which may not leave fewer than 3 bytes.
void poke(Cell* tuple, int32_t index, const Cell& new_value, const Cell& index_value) {
  Bytes bytes = bytes_of(*tuple);
  if (index < 1 || uint32_t(index) > kMaxBytes) {
    rt::fire_error("script", "out-of-range", &index_value);
  }
  switch (cell::type_of(new_value)) {
    case TYPE_INTEGER:
      bytes.b[index - 1] = clamped(integer::get_value(new_value));
      bytes.count = std::max(bytes.count, uint32_t(index));
      break;
    case TYPE_NONE:
      if (uint32_t(index) - 1 < kMinBytes) rt::fire_error("script", "out-of-range", &index_value);
      bytes.count = std::min(bytes.count, uint32_t(index) - 1);
      break;
    default:
      rt::fire_error("script", "invalid-type", datatype::push(cell::type_of(new_value)));
  }
  make_at(tuple, bytes.count, bytes.b);
}

// A byte set changes the step's parent, which path evaluation stores where the tuple lives.
Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  if (cell::type_of(*element) != TYPE_INTEGER) {
    rt::fire_error("script", "invalid-type", datatype::push(cell::type_of(*element)));
  }
  int32_t n = integer::get_value(*element);
  if (!step.value) return pick(parent, n, element);
  poke(parent, n, *step.value, *element);
  return step.value;
}

// --- Comparison ----------------------------------------------------------------------------------

// Byte by byte over the longer count (missing bytes are 0), the first difference deciding. The
// same-value tests also want the same count: 1.2.3 is equal to 1.2.3.0 but not the same.
int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_TUPLE) return action::kNotComparable;
  const Bytes x = bytes_of(*a), y = bytes_of(*b);
  bool same_value = op == action::STRICT_EQUAL || op == action::SAME || op == action::FIND_EQUAL;
  if (same_value && x.count != y.count) return 1;
  for (uint32_t i = 0; i < std::max(x.count, y.count); i++) {
    if (x.b[i] != y.b[i]) return x.b[i] < y.b[i] ? -1 : 1;
  }
  return 0;
}

// --- Arithmetic ----------------------------------------------------------------------------------

// A byte op an integer in the integer core: division truncates; a sum, difference or product
// past the 32-bit range comes back a float!, which clamps by its sign.
uint8_t integer_op(int32_t byte, int32_t n, integer::Op op) {
  Cell result = integer::make(0);
  int32_t r = integer::do_math(byte, n, op, op == integer::DIVIDE ? nullptr : &result);
  return clamped(cell::type_of(result) == TYPE_FLOAT ? float_::get(result) : double(r));
}

Cell* do_math(integer::Op op) {
  Cell* left = stack::arg(0);
  Cell* right = stack::arg(1);
  // A number on the left (float! arithmetic hands the operands over as they came): the tuple
  // goes first, which subtract and divide cannot allow.
  if (cell::type_of(*left) != TYPE_TUPLE) {
    if (op == integer::SUBTRACT || op == integer::DIVIDE) {
      const Cell& word = op == integer::SUBTRACT ? runtime_words::words.subtract
                                                 : runtime_words::words.divide;
      rt::fire_error("script", "not-related", &word, datatype::push(cell::type_of(*left)));
    }
    std::swap(*left, *right);
  }
  Bytes bytes = bytes_of(*left);
  switch (uint8_t type = cell::type_of(*right)) {
    case TYPE_TUPLE: {
      const Bytes other = bytes_of(*right);
      bytes.count = std::max(bytes.count, other.count);
      for (uint32_t i = 0; i < bytes.count; i++) {
        bytes.b[i] = integer_op(bytes.b[i], other.b[i], op);
      }
      break;
    }
    case TYPE_INTEGER:
      for (uint32_t i = 0; i < bytes.count; i++) {
        bytes.b[i] = integer_op(bytes.b[i], integer::get_value(*right), op);
      }
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
      if (op > integer::REMAINDER) {
        Cell name = upcall::interpreter.call_name();
        rt::fire_error("script", "cannot-use", stack::push_copy(name), datatype::push(TYPE_FLOAT));
      }
      for (uint32_t i = 0; i < bytes.count; i++) {
        bytes.b[i] = clamped(float_::apply(op, bytes.b[i], float_::get(*right)));
      }
      break;
    default:
      rt::fire_error("script", "invalid-type", datatype::push(type));
  }
  *left = make_from(bytes);
  return left;
}

template <integer::Op op>
void math() {
  do_math(op);
}

// --- The other actions ---------------------------------------------------------------------------

// random 1.2.3: each byte 0..itself; /seed restarts the generator from the xor of the payload
// words.
void random(Cell* value, const action::RandomOptions& options) {
  if (options.seed) {
    rng::seed(value->w1 ^ value->w2 ^ value->w3);
    *value = constants::unset;
    return;
  }
  Bytes bytes = bytes_of(*value);
  for (uint32_t i = 0; i < bytes.count; i++) {
    bytes.b[i] = static_cast<uint8_t>(rng::int_range(options.secure, bytes.b[i] + 1) - 1);
  }
  *value = make_from(bytes);
}

Cell* complement(Cell* value) {
  Bytes bytes = bytes_of(*value);
  for (uint32_t i = 0; i < bytes.count; i++) bytes.b[i] = uint8_t(~bytes.b[i]);
  *value = make_from(bytes);
  return value;
}

int32_t length_q(Cell* value) { return int32_t(bytes_of(*value).count); }

// The bytes reversed; with part only the first ones, with skip in records of that many bytes
// (which must divide the range).
void reverse(Cell* value, Cell* part, Cell* skip) {
  Bytes bytes = bytes_of(*value);
  uint32_t range = bytes.count;
  if (part) {
    uint8_t type = cell::type_of(*part);
    if (type != TYPE_INTEGER && type != TYPE_FLOAT) {
      series::fire_invalid_refine(runtime_words::refinements.part, *part);
    }
    range = uint32_t(std::clamp(cell::get_integer_arg(*part), 0, int32_t(range)));
  }
  uint32_t record = 1;
  if (skip) {
    int32_t n = integer::get_value(*skip);
    if (n <= 0) rt::fire_error("script", "out-of-range", skip);
    if (uint32_t(n) > range || range % uint32_t(n) != 0) {
      series::fire_invalid_refine(runtime_words::refinements.skip, *skip);
    }
    record = uint32_t(n);
  }
  uint32_t records = range / record;
  for (uint32_t i = 0; i < records / 2; i++) {
    std::swap_ranges(bytes.b + i * record, bytes.b + (i + 1) * record,
                     bytes.b + (records - 1 - i) * record);
  }
  make_at(value, bytes.count, bytes.b);
}

}  // namespace

// Bytes past the count are cleared, so that they read as 0.
Cell* make_at(Cell* cell, uint32_t count, const uint8_t* bytes) {
  cell::set_type(*cell, TYPE_TUPLE);
  cell->header = (cell->header & ~kCountMask) | count << kCountShift;
  set_bytes(*cell, bytes, count);
  return cell;
}

void register_datatype() {
  using namespace action;
  using datatype::act;
  datatype::register_type(
      TYPE_TUPLE,
      {act<MAKE>(to), act<RANDOM>(random), act<TO>(to), act<FORM>(form), act<MOLD>(mold),
       act<EVAL_PATH>(eval_path), act<COMPARE>(compare), act<ADD>(math<integer::ADD>),
       act<DIVIDE>(math<integer::DIVIDE>), act<MULTIPLY>(math<integer::MULTIPLY>),
       act<REMAINDER>(math<integer::REMAINDER>),
       act<SUBTRACT>(math<integer::SUBTRACT>), act<AND_T>(math<integer::AND>),
       act<COMPLEMENT>(complement), act<OR_T>(math<integer::OR>), act<XOR_T>(math<integer::XOR>),
       act<LENGTH_Q>(length_q), act<PICK>(pick), act<REVERSE>(reverse)});
}

}  // namespace tuple
