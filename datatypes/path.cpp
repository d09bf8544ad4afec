// path!, lit-path!, set-path! and get-path!: make, to, form and mold, and the registration that
// takes everything else from block!. Elements print through the action dispatch, so a path prints
// whatever it holds; the cycle stack stops a path that holds itself.
#include "datatypes/path.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace path {

namespace {

// Holds the path on the cycle stack while its elements print, also when an error ends that.
struct CycleScope {
  explicit CycleScope(uint32_t node) { cycles::push(node); }
  ~CycleScope() { cycles::pop(); }
  CycleScope(const CycleScope&) = delete;
  CycleScope& operator=(const CycleScope&) = delete;
};

// The elements from the head, "/" between them; `emit` prints one element and returns the part
// limit left. With a part limit given, printing stops once it falls below 1.
template <class Emit>
int32_t print_elements(const Cell& path, Cell* out, Cell* arg, int32_t part, bool mold,
                       Emit emit) {
  if (cycles::detect_and_emit(path, out, &part, mold)) return part;
  const Cell p = path;
  CycleScope scope(cell::series_node(p));
  int32_t head = std::max(cell::series_index_signed(p), 0);
  for (int32_t i = head; i < series::buffer_length(p); i++) {
    if (arg && part < 1) break;
    if (i > head) part -= cell::append_text(out, "/");
    Cell element = *block::cell_at(p, i);
    part = emit(&element, part);
  }
  return part;
}

template <action::Slot S>
datatype::Entry own_or_inherited(bool own, action::Fn<S> fn) {
  return own ? datatype::act<S>(fn) : datatype::inherit<S>();
}

}  // namespace

Cell* init_empty(Cell* cell, int32_t capacity) {
  block::init_empty(cell, capacity);
  *cell = cell::make_series(TYPE_PATH, cell::series_node(*cell));
  return cell;
}

// --- Actions -------------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint8_t type) {
  uint8_t spec_type = cell::type_of(*spec);
  if (types::any_block(spec_type) || spec_type == TYPE_INTEGER || spec_type == TYPE_FLOAT) {
    return block::make(proto, spec, type);
  }
  if (spec_type == TYPE_PERCENT) {  // a capacity like any other number
    Cell number = *spec;
    cell::set_type(number, TYPE_FLOAT);
    return block::make(proto, &number, type);
  }
  const Cell wanted = cell::make_datatype(type);
  rt::fire_error("script", "bad-make-arg", &wanted, spec);
}

Cell* to(Cell* proto, Cell* spec, uint8_t type) {
  uint8_t spec_type = cell::type_of(*spec);
  if (spec_type != TYPE_OBJECT && spec_type != TYPE_TYPESET && spec_type != TYPE_MAP) {
    return block::to(proto, spec, type);
  }
  Cell* made = block::push_new(1);
  block::append_cell(*made, *spec);
  *proto = cell::make_series(type, cell::series_node(*made));
  stack::pop_cells(1);
  return proto;
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  return print_elements(*value, out, arg, part, false, [&](Cell* element, int32_t left) {
    return datatype::call_form(element, out, arg, left);
  });
}

// `only` belongs to the path itself: passed on, it would strip a nested block's brackets or a
// paren's parentheses and the text would no longer load as the same path.
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent) {
  const Cell path = *value;  // read before the first append, which may move it
  uint8_t type = cell::type_of(path);
  if (type == TYPE_LIT_PATH) part -= cell::append_text(out, "'");
  if (type == TYPE_GET_PATH) part -= cell::append_text(out, ":");
  part = print_elements(path, out, arg, part, true, [&](Cell* element, int32_t left) {
    return datatype::call_mold(element, out, options.nested(), arg, left, indent);
  });
  if (type == TYPE_SET_PATH) part -= cell::append_text(out, ":");
  return part;
}

void register_datatypes() {
  using namespace action;
  using datatype::inherit;
  // Each variant's own mold is path!'s, which decorates by type.
  for (uint8_t type : {TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH}) {
    bool own = type == TYPE_PATH;
    datatype::register_type(
        type,
        {own_or_inherited<MAKE>(own, make), inherit<REFLECT>(), own_or_inherited<TO>(own, to),
         own_or_inherited<FORM>(own, form), own_or_inherited<MOLD>(own, mold),
         inherit<EVAL_PATH>(), inherit<COMPARE>(), inherit<APPEND>(), inherit<AT>(),
         inherit<BACK>(), inherit<CHANGE>(), inherit<CLEAR>(), inherit<COPY>(),
         inherit<FIND>(), inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(),
         inherit<INSERT>(), inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(),
         inherit<PICK>(), inherit<POKE>(), inherit<PUT>(), inherit<REMOVE>(),
         inherit<REVERSE>(), inherit<SELECT>(), inherit<SORT>(), inherit<SKIP>(), inherit<SWAP>(),
         inherit<TAIL>(), inherit<TAIL_Q>(), inherit<TAKE>(), inherit<MODIFY>()});
    gc::set_type_marker(type, gc::mark_block_cell);
  }
}

}  // namespace path
