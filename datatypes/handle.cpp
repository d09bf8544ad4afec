// handle!: its text (eight hex digits and h; mold/all adds the type and the kind's name), its
// comparison as signed 32-bit values, and its collector marker, which keeps the external
// resource record a handle may name in word 3 (runtime/extres.h).
#include "datatypes/handle.h"

#include <cstdio>

#include "datatypes/cell_ops.h"
#include "datatypes/datatype.h"
#include "runtime/extres.h"
#include "runtime/gc.h"

namespace handle {

namespace {

constexpr const char* kKindNames[] = {"", "fd", "monitor", "window", "font", "rich-text"};
constexpr uint32_t kKindCount = sizeof kKindNames / sizeof *kKindNames;

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  char text[12];
  std::snprintf(text, sizeof text, "%08Xh", value_of(*value));
  return part - cell::append_text(out, text);
}

// With all: #[handle! 00001A2Bh window]; without: the type's word alone.
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell*, int32_t part, int32_t) {
  if (!options.all) return part - cell::append_text(out, "handle!");
  Cell handle = *value;  // read before appending: the output may move the value's block
  part -= cell::append_text(out, "#[handle! ");
  part = form(&handle, out, nullptr, part);
  if (kind_of(handle) > 0 && kind_of(handle) < kKindCount) {
    part -= cell::append_text(out, " ");
    part -= cell::append_text(out, kKindNames[kind_of(handle)]);
  }
  return part - cell::append_text(out, "]");
}

int32_t compare(Cell* a, Cell* b, int32_t) {
  if (cell::type_of(*b) != TYPE_HANDLE) return action::kNotComparable;
  auto x = static_cast<int32_t>(value_of(*a)), y = static_cast<int32_t>(value_of(*b));
  return (x > y) - (x < y);
}

}  // namespace

void register_datatype() {
  using namespace action;
  using datatype::act;
  datatype::register_type(TYPE_HANDLE,
                          {act<FORM>(form), act<MOLD>(mold), act<COMPARE>(compare)});
  gc::set_type_marker(TYPE_HANDLE, extres::mark_handle_cell);
}

}  // namespace handle
