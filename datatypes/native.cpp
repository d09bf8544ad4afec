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
#include "datatypes/integer.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
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
  Cell block = cell::make_series(TYPE_BLOCK, node);
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
  if (cell::type_of(context) == TYPE_CONTEXT) gc::mark_block(context::record_of(context));
}

void mark_native(const Cell& value) {
  gc::mark_block(spec_of(value));
  mark_internal(internals_of(value));
}

void mark_op(const Cell& value) {
  if (!wraps_function(wrapped_type(value))) return mark_native(value);
  gc::mark_block(function::context_of(value));
  gc::mark_block(function::spec_of(value));
  gc::mark_block(function::internals_of(value));
}

}  // namespace

Cell unwrap_op(const Cell& op) {
  Cell callable = op;
  callable.header = (op.header & ~(cell::kTypeMask | kWrappedTypeBits)) | wrapped_type(op);
  return callable;
}

uint32_t arg_context(const Cell& value) {
  return context::record_of(cells_of(internals_of(value))[kArgContext]);
}

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
        if (symbol::same_canonical(word::symbol_of(entry),
                                   word::symbol_of(runtime_words::refinements.local)) ||
            symbol::same_canonical(word::symbol_of(entry),
                                   word::symbol_of(runtime_words::refinements.extern_))) {
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
  const Cell wanted = cell::make_datatype(type);
  auto refuse = [&] { rt::fire_error("script", "bad-make-arg", &wanted, &make_spec); };
  if (cell::type_of(make_spec) != TYPE_BLOCK || block::rest_length(make_spec) != 2) refuse();
  const Cell params = cell::block_head(make_spec)[0];
  const Cell index = cell::block_head(make_spec)[1];
  if (cell::type_of(params) != TYPE_BLOCK || cell::type_of(index) != TYPE_INTEGER) refuse();
  int32_t slot = integer::get_value(index);
  if (slot < 1 || slot > (type == TYPE_ACTION ? action::kSlotCount : kNativeSlots)) refuse();

  // The spec is kept from its start, as reflect and the argument cache read it.
  Cell* result = cell::series_index(params) ? block::push_clone(params, false, false)
                                            : stack::push_copy(params);
  // The names of the arguments and refinements come from the parameter spec: the refinements of
  // a path call are found there.
  uint32_t context = context::make_from_spec(*result, true, false, context::kFunction);
  gc::Guard keep_context(context);
  Cell* internal = block::push_new(2);
  Cell names = *context::context_cell(context);
  context::set_record(names, context);
  block::append_cell(*internal, names);
  block::append_cell(*internal, constants::none);
  *result = Cell{type, uint32_t(slot), cell::series_node(*result), cell::series_node(*internal)};
  stack::pop_cells(1);  // the internal block is held by the value now
  upcall::interpreter.native_made(*result);
  return result;
}

Cell* make_op(Cell* proto, Cell* spec, uint8_t) {
  const Cell source = *spec;
  uint8_t source_type = cell::type_of(source);
  if (source_type != TYPE_NATIVE && source_type != TYPE_ACTION && !wraps_function(source_type)) {
    const Cell type = cell::make_datatype(source_type);
    rt::fire_error("script", "invalid-type", &type);
  }
  if (!check_op_spec(spec_of(source))) rt::fire_error("script", "bad-op-spec");
  if (wraps_function(source_type)) function::set_op_copy(source);
  *proto = source;
  proto->header = (source.header & ~(cell::kTypeMask | kWrappedTypeBits | cell::kNewLine)) |
                  TYPE_OP | (uint32_t(source_type) << kWrappedShift);
  return proto;
}

void reflect(Cell* value, uint32_t field_symbol) {
  if (symbol::same_canonical(field_symbol, runtime_words::symbols.spec)) {
    *value = cell::make_series(TYPE_BLOCK, spec_of(*value));
    return;
  }
  if (!symbol::same_canonical(field_symbol, runtime_words::symbols.body)) {
    // Other fields are reserved: internal/not-done is the defined answer, not a gap.
    rt::fire_error("internal", "not-done");
  }
  if (cell::type_of(*value) == TYPE_OP && wraps_function(wrapped_type(*value))) {
    *value = function::body_of(*value);
    return;
  }
  *value = integer::make(static_cast<int32_t>(index_of(*value)));
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
    part = mold_block(spec_of(v), out, options, arg, part, indent);
    return append_text(out, "]", part);
  }
  part = append_text(out, "make op! ", part);
  upcall::interpreter.enter_frame(runtime_words::words.frame_anon);
  if (wrapped_type(v) == TYPE_FUNCTION) {
    part = append_text(out, "func ", part);
    part = mold_block(function::spec_of(v), out, options, arg, part, indent);
    Cell body = function::body_of(v);
    if (cell::type_of(body) == TYPE_BLOCK) {
      part = block::mold(&body, out, options.nested(), arg, part, indent);
    }
  } else {
    part = append_text(out, "[", part);
    part = mold_block(spec_of(v), out, options, arg, part, indent);
    part = append_text(out, "]", part);
  }
  upcall::interpreter.leave_frame();  // leaves the frame's empty result cell, which goes too
  stack::pop_cells(1);
  return part;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*a) != cell::type_of(*b)) return action::kNotComparable;
  return compare_words(op, index_of(*a), index_of(*b));
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
