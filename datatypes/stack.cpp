// The data stack: positions and the cell operations that are not inline (see stack.h).
#include "datatypes/stack.h"

#include "datatypes/cycles.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace stack {

Cell* bottom = nullptr;
Cell* top = nullptr;
Cell* args = nullptr;
Cell* end = nullptr;

namespace {

uint32_t data_node = 0;

void mark_roots() {
  gc::mark_node(data_node);
  gc::mark_values(bottom, top);
}

}  // namespace

void init() {
  data_node = alloc::new_series_on_heap(kDataCells, sizeof(Cell));
  bottom = args = top = reinterpret_cast<Cell*>(alloc::series_of(data_node)->data());
  end = bottom + kDataCells;
  gc::add_marker(mark_roots);
}

// The data stack is full: a few cells are freed for building the report.
[[noreturn]] void overflow() {
  top = top - 5 < bottom ? bottom : top - 5;
  cycles::reset();
  rt::fire_error("internal", "stack-overflow");
}

void pop_cells(uint32_t n) { top = uint32_t(top - bottom) < n ? bottom : top - n; }
uint8_t top_type() { return cell::type_of(*top_cell()); }
void set_result(const Cell& value) { *args = value; }

Cell* keep() {
  top = args + 1;
  return args;
}

void keep_try_result() {
  Cell* newest = top_cell();
  if (cell::type_of(*newest) == TYPE_ERROR) *args = *newest;
  top = args + 1;
}

}  // namespace stack
