// string!: make and to build text from sizes, blocks, other texts, binaries and the form of any
// value; form appends the text itself; mold writes it in double quotes or in braces, with caret
// escapes; compare folds letter case except for the strict operators (string_buffer.h holds the
// text primitives). Relies on the rooting rule (runtime/gc.h): text under construction sits on
// the data stack while elements are formed into it.
#include "datatypes/string.h"

#include <algorithm>
#include <climits>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string_buffer.h"
#include "datatypes/stack.h"

namespace string_type {

namespace {

int64_t rest_of(const Cell& value) {
  Cell copy = value;
  return string::rest_length(copy);
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  Cell text = *value;  // read before appending: the output may move the value's block
  int64_t length = rest_of(text);
  int64_t count = arg ? std::min<int64_t>(length, cell::get_integer_arg(*arg)) : length;
  string::concatenate(*out, text, count, 0, true, string::kAppend);
  return part - static_cast<int32_t>(length);
}

int32_t mold(Cell* value, Cell* out, bool, bool all, bool, Cell* arg, int32_t part, int32_t) {
  Cell text = *value;
  int64_t count = rest_of(text);
  if (arg && part != 0) count = std::clamp<int64_t>(part, 0, count);
  string::mold_text(*out, text, static_cast<uint32_t>(count), all);
  return part - static_cast<int32_t>(count) - 2;
}

// Every element of the block from its head formed into out, nothing between them. The block
// cell stays on the frame (rooted); elements are read by index, as forming may move buffers.
void append_formed_elements(const Cell& block, Cell* out) {
  Cell* element = stack::push_copy(constants::none);
  for (int32_t i = int32_t(block.w1); i < series::buffer_length(block); i++) {
    *element = *block::cell_at(block, i);
    datatype::call_form(element, out, nullptr, INT32_MAX);
  }
  stack::pop_cells(1);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*a) != cell::type_of(*b)) {
    // Texts of different types are only ever equal or not; they have no order.
    bool equality = op == action::EQUAL || op == action::NOT_EQUAL;
    if (!equality || !series::any_string(cell::type_of(*b))) return action::kNotComparable;
  }
  return string::compare_strings(*a, *b, op, false);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint8_t type) {
  uint8_t spec_type = cell::type_of(*spec);
  if (spec_type == TYPE_INTEGER || spec_type == TYPE_FLOAT) {
    int32_t size = cell::get_integer_arg(*spec);
    if (size < 0) rt::fire_error("script", "out-of-range", spec);
    if (type == TYPE_BINARY) return binary::make_at(proto, uint32_t(size));
    string::init_empty(proto, uint32_t(size));
    cell::set_type(*proto, type);
    return proto;
  }
  if (type == TYPE_BINARY) {
    if (spec_type == TYPE_MONEY) {
      Cell wanted{TYPE_DATATYPE, TYPE_BINARY, 0, 0};
      rt::fire_error("script", "bad-make-arg", &wanted, spec);
    }
    return binary::to(proto, spec, type);
  }
  return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, uint8_t type) {
  const uint8_t spec_type = cell::type_of(*spec);
  if (spec_type == TYPE_NONE) {
    Cell wanted{TYPE_DATATYPE, type, 0, 0};
    rt::fire_error("script", "bad-to-arg", &wanted, spec);
  }
  Cell* out = stack::push_copy(constants::none);
  if (spec_type == TYPE_BINARY) {
    Cell bytes = *spec;
    uint32_t length = binary::rest_length(bytes);
    *out = *string::load_utf8_strict(bytes.w2, bytes.w1, length);
    stack::pop_cells(1);
  } else if (series::any_string(spec_type)) {
    series::copy(spec, out, nullptr, false, nullptr);
  } else {
    string::init_empty(out, 16);
    if (spec_type == TYPE_BLOCK || spec_type == TYPE_PAREN || spec_type == TYPE_HASH) {
      append_formed_elements(*spec, out);
    } else if (spec_type == TYPE_REFINEMENT && type != TYPE_STRING) {
      datatype::call_mold(spec, out, true, true, true, nullptr, INT32_MAX, 0);
    } else {
      datatype::call_form(spec, out, nullptr, INT32_MAX);
    }
  }
  *proto = cell::make_series(type, out->w2, out->w1);
  stack::pop_cells(1);
  return proto;
}

void register_datatype() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(
      TYPE_STRING, TYPE_SERIES, "string!",
      {act<MAKE>(make), act<TO>(to), act<FORM>(form),
       act<MOLD>(mold), act<COMPARE>(compare), inherit<AT>(), inherit<BACK>(), inherit<CLEAR>(),
       inherit<COPY>(), inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(),
       inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(), inherit<PICK>(), inherit<POKE>(),
       inherit<REMOVE>(), inherit<REVERSE>(), inherit<SKIP>(), inherit<TAIL>(),
       inherit<TAIL_Q>(), inherit<MODIFY>()});
}

}  // namespace string_type
