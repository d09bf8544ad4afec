// string!: form appends the text itself; mold writes it in double quotes or in braces, with
// caret escapes (string_buffer.h holds the text primitives both use).
#include "datatypes/string.h"

#include <algorithm>

#include "datatypes/cell_ops.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/string_buffer.h"

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

}  // namespace

void register_datatype() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(
      TYPE_STRING, TYPE_SERIES, "string!",
      {act<FORM>(form), act<MOLD>(mold), inherit<AT>(), inherit<BACK>(), inherit<CLEAR>(),
       inherit<COPY>(), inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(),
       inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(), inherit<PICK>(), inherit<POKE>(),
       inherit<REMOVE>(), inherit<REVERSE>(), inherit<SKIP>(), inherit<TAIL>(),
       inherit<TAIL_Q>(), inherit<MODIFY>()});
}

}  // namespace string_type
