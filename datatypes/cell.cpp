// Cell helpers shared by every datatype: appending to block buffers, integer arguments,
// indentation, byte replication, the first value of a text (through the lexer's upcall) and the
// expect-arg error (naming the call through the interpreter's). Word and context
// helpers are in cell_words.cpp.
#include <cmath>
#include <cstring>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/integer.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/upcall.h"
#include "runtime/throw.h"

namespace cell {

Cell* append_new_cell(const Cell* block) {
  return buffer_append_new_cell(cell::series_node(*block));
}

Cell* buffer_append_new_cell(uint32_t node) {
  alloc::Series* s = alloc::series_of(node);
  if (s->tail + sizeof(Cell) > s->capacity) s = alloc::expand_series(node);
  auto* c = reinterpret_cast<Cell*>(s->tail_ptr());
  c->header = TYPE_UNSET;
  s->tail += sizeof(Cell);
  return c;
}

int32_t get_integer_arg(const Cell& value) {
  if (cell::type_of(value) != TYPE_FLOAT) return integer::get_value(value);
  double d = cell::get_double(value);
  // Compared as doubles before converting, so NaN and huge values never reach the cast.
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) rt::fire_error("script", "out-of-range", &value);
  return static_cast<int32_t>(std::trunc(d));
}

uint8_t* replicate_bytes(uint8_t* start, uint32_t unit, uint32_t count) {
  size_t total = size_t(unit) * count;
  if (count < 2) return start + total;
  size_t filled = unit;
  while (total - filled >= filled) {
    std::memcpy(start + filled, start, filled);
    filled *= 2;
  }
  std::memcpy(start + filled, start, total - filled);
  return start + total;
}

void fire_expect_arg(const Cell& value, int ordinal) {
  // The type first: naming the callee may add its word, and the value may lie in a buffer.
  Cell type = cell::make_datatype(cell::type_of(value));
  Cell argument = upcall::interpreter.parameter_word(ordinal);
  Cell name = upcall::interpreter.call_name();
  rt::fire_error("script", "expect-arg", &name, &type, &argument);
}

}  // namespace cell

namespace cell {

int32_t append_text(Cell* out, const char* text) {
  size_t length = std::strlen(text);
  string::append_c_chars(*out, text, length);
  return static_cast<int32_t>(length);
}

int32_t mold_indent(Cell* out, int32_t depth, int32_t part) {
  for (int32_t i = 0; i < depth; i++) append_text(out, "    ");
  return part - 4 * depth;
}

namespace {

// The value at the head of what the whole text loads into (with `only`, when that is its one
// value), new-line flag cleared; none! on a syntax error or a second value, unset! when empty.
Cell scan_value(const Cell& text, bool only) {
  const Cell source = text;
  Cell* out = stack::push_copy(constants::none);  // the loaded block, rooted
  Cell value = constants::none;
  if (upcall::lexer.scan_text(out, source, false) != TYPE_ERROR) {
    upcall::lexer.scan_text(out, source, true);
    int32_t count = block::rest_length(*out);
    if (count == 0) value = constants::unset;
    else if (count == 1 || !only)
      value = *block::cell_at(*out, cell::series_index_signed(*out));
    clear_new_line_flag(value.header);
  }
  stack::top = out;
  return value;
}

}  // namespace

Cell scan_first_value(const Cell& text) { return scan_value(text, false); }

Cell scan_only_value(const Cell& text) { return scan_value(text, true); }

}  // namespace cell
