// native!, action! and op!: making them from specs, the operator spec check, reflection, form,
// mold, compare and their collector marking. The native table and the dispatchers are the
// evaluator's: a value keeps only its 1-based index (the evaluator records the start-up
// definitions' specs as their slots' signatures).
// Relies on the rooting rule (runtime/gc.h): what is being built sits on the data stack.
#include "datatypes/native.h"

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace native {

namespace {

// An op! keeps the wrapped value's flags (a function's trace attributes, a routine's arity and
// argument passing) so that the evaluator calls the unwrapped copy exactly as the original.
constexpr uint32_t kWrappedTypeBits = 0xFFu << kWrappedShift;

using cell::cells_of;

bool wraps_function(uint8_t type) { return type == TYPE_FUNCTION || type == TYPE_ROUTINE; }


using cell::append_text;

// A spec or body block molded with its brackets: `only` belongs to the outer value.
int32_t mold_block(uint32_t node, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
                   int32_t indent) {
  Cell block{TYPE_BLOCK, 0, node, 0};
  return block::mold(&block, out, options.nested(), arg, part, indent);
}

// --- Collector -----------------------------------------------------------------------------------

// The internal block, and the record of the argument context its first cell names.
void mark_internal(uint32_t internal) {
  if (!internal) return;
  gc::mark_block(internal);
  const alloc::Series* s = alloc::series_of(internal);
  if (s->used() < sizeof(Cell)) return;
  const Cell& context = cells_of(internal)[kArgContext];
  if (cell::type_of(context) == TYPE_CONTEXT) gc::mark_block(context.w3);
}

void mark_native(const Cell& value) {
  gc::mark_block(value.w2);
  mark_internal(value.w3);
}

void mark_op(const Cell& value) {
  if (!wraps_function(wrapped_type(value))) return mark_native(value);
  gc::mark_block(value.w1);
  gc::mark_block(value.w2);
  gc::mark_block(value.w3);
}

}  // namespace

Cell unwrap_op(const Cell& op) {
  Cell callable = op;
  callable.header = (op.header & ~(cell::kTypeMask | kWrappedTypeBits)) | wrapped_type(op);
  return callable;
}

uint32_t arg_context(const Cell& value) { return cells_of(value.w3)[kArgContext].w3; }

bool check_op_spec(uint32_t spec_node) {
  int32_t count = 0;
  bool word_seen = false;
  for (uint32_t i = 0; i < cell::cell_count(spec_node); i++) {
    const Cell& entry = cells_of(spec_node)[i];
    switch (cell::type_of(entry)) {
      case TYPE_WORD:
        word_seen = true;
        count++;
        break;
      case TYPE_LIT_WORD: case TYPE_GET_WORD:
        if (!word_seen) return false;
        count++;
        break;
      case TYPE_SET_WORD:
        return count == 2;
      case TYPE_REFINEMENT:
        if (symbol::same_canonical(entry.w2, runtime_words::refinements.local.w2) ||
            symbol::same_canonical(entry.w2, runtime_words::refinements.extern_.w2)) {
          return count == 2;
        }
        return false;
      default: break;
    }
  }
  return count == 2;
}

int32_t compare_words(int32_t op, uint32_t a, uint32_t b) {
  switch (op) {
    case action::EQUAL: case action::NOT_EQUAL: case action::STRICT_EQUAL:
    case action::SORT_ORDER: case action::SORT_CASE_ORDER: case action::SAME:
    case action::FIND_EQUAL:
      return int32_t(a) < int32_t(b) ? -1 : int32_t(a) > int32_t(b) ? 1 : 0;
    default:
      return action::kNotComparable;
  }
}

// --- Actions -------------------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, uint8_t type) {
  const Cell make_spec = *spec;
  const Cell wanted{TYPE_DATATYPE, type, 0, 0};
  auto refuse = [&] { rt::fire_error("script", "bad-make-arg", &wanted, &make_spec); };
  if (cell::type_of(make_spec) != TYPE_BLOCK || block::rest_length(make_spec) != 2) refuse();
  const Cell params = cell::block_head(make_spec)[0];
  const Cell index = cell::block_head(make_spec)[1];
  if (cell::type_of(params) != TYPE_BLOCK || cell::type_of(index) != TYPE_INTEGER) refuse();
  int32_t slot = static_cast<int32_t>(index.w2);
  if (slot < 1 || slot > (type == TYPE_ACTION ? action::kSlotCount : kNativeSlots)) refuse();

  // The spec is kept from its start, as reflect and the argument cache read it.
  Cell* result = params.w1 ? block::push_clone(params, false, false) : stack::push_copy(params);
  // The names of the arguments and refinements come from the parameter spec: the refinements of
  // a path call are found there.
  uint32_t context = context::make_from_spec(*result, true, false, context::kFunction);
  gc::Guard keep_context(context);
  Cell* internal = block::push_new(2);
  Cell names = *context::context_cell(context);
  names.w3 = context;
  block::append_cell(*internal, names);
  block::append_cell(*internal, constants::none);
  *result = Cell{type, uint32_t(slot), result->w2, internal->w2};
  stack::pop_cells(1);  // the internal block is held by the value now
  upcall::interpreter.native_made(*result);
  return result;
}

Cell* make_op(Cell* proto, Cell* spec, uint8_t) {
  const Cell source = *spec;
  uint8_t source_type = cell::type_of(source);
  if (source_type != TYPE_NATIVE && source_type != TYPE_ACTION && !wraps_function(source_type)) {
    const Cell type{TYPE_DATATYPE, source_type, 0, 0};
    rt::fire_error("script", "invalid-type", &type);
  }
  if (!check_op_spec(source.w2)) rt::fire_error("script", "bad-op-spec");
  if (wraps_function(source_type)) function::set_op_copy(source);
  *proto = source;
  proto->header = (source.header & ~(cell::kTypeMask | kWrappedTypeBits | cell::kNewLine)) |
                  TYPE_OP | (uint32_t(source_type) << kWrappedShift);
  return proto;
}

void reflect(Cell* value, uint32_t field_symbol) {
  if (symbol::same_canonical(field_symbol, runtime_words::symbols.spec)) {
    *value = Cell{TYPE_BLOCK, 0, value->w2, 0};
    return;
  }
  if (!symbol::same_canonical(field_symbol, runtime_words::symbols.body)) {
    rt::fire_error("internal", "not-done");
  }
  if (cell::type_of(*value) == TYPE_OP && wraps_function(wrapped_type(*value))) {
    *value = function::body_of(*value);
    return;
  }
  *value = Cell{TYPE_INTEGER, 0, value->w1, 0};
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  static constexpr const char* kNames[] = {"?native?", "?action?", "?op?"};
  return append_text(out, kNames[cell::type_of(*value) - TYPE_NATIVE], part);
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent) {
  const Cell v = *value;
  uint8_t type = cell::type_of(v);
  if (type != TYPE_OP) {
    part = append_text(out, type == TYPE_NATIVE ? "make native! [" : "make action! [", part);
    part = mold_block(v.w2, out, options, arg, part, indent);
    return append_text(out, "]", part);
  }
  part = append_text(out, "make op! ", part);
  upcall::interpreter.enter_frame(runtime_words::words.frame_anon);
  if (wrapped_type(v) == TYPE_FUNCTION) {
    part = append_text(out, "func ", part);
    part = mold_block(v.w2, out, options, arg, part, indent);
    Cell body = function::body_of(v);
    if (cell::type_of(body) == TYPE_BLOCK) {
      part = block::mold(&body, out, options.nested(), arg, part, indent);
    }
  } else {
    part = append_text(out, "[", part);
    part = mold_block(v.w2, out, options, arg, part, indent);
    part = append_text(out, "]", part);
  }
  upcall::interpreter.leave_frame();  // leaves the frame's empty result cell, which goes too
  stack::pop_cells(1);
  return part;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*a) != cell::type_of(*b)) return action::kNotComparable;
  return compare_words(op, a->w1, b->w1);
}

void register_datatypes() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(TYPE_NATIVE,
                          {act<MAKE>(make), act<REFLECT>(reflect), act<FORM>(form),
                           act<MOLD>(mold), act<COMPARE>(compare)});
  datatype::register_type(TYPE_ACTION,
                          {inherit<MAKE>(), inherit<REFLECT>(), inherit<FORM>(),
                           inherit<MOLD>(), inherit<COMPARE>()});
  datatype::register_type(TYPE_OP,
                          {act<MAKE>(make_op), inherit<REFLECT>(), inherit<FORM>(),
                           inherit<MOLD>(), inherit<COMPARE>()});
  gc::set_type_marker(TYPE_NATIVE, mark_native);
  gc::set_type_marker(TYPE_ACTION, mark_native);
  gc::set_type_marker(TYPE_OP, mark_op);
}

}  // namespace native
