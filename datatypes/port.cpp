// port!: make (the spec object, the scheme and its actor), mold and form, and the forwarding of
// actions to the actor (see datatypes/port.h). A forwarded action's arguments are laid out from
// its definition's spec: the action's own arguments, then each refinement as a logic! followed
// by its arguments (none! when the refinement is absent).
#include "datatypes/port.h"

#include <vector>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace port {

namespace {

using action::Slot;

struct Names {
  uint32_t spec = symbol::intern_c_string("spec");
  uint32_t scheme = symbol::intern_c_string("scheme");
  uint32_t actor = symbol::intern_c_string("actor");
  uint32_t schemes = symbol::intern_c_string("schemes");
  uint32_t standard = symbol::intern_c_string("standard");
  uint32_t port = symbol::intern_c_string("port");
  uint32_t url_parts = symbol::intern_c_string("url-parts");
  uint32_t local = symbol::intern_c_string("local");
};
const Names& names() {
  static const Names n;
  return n;
}

// The fields of a port when system/standard/port holds no template.
constexpr const char* kPortFields[] = {"spec", "scheme", "actor", "awake", "state", "data",
                                       "extra"};

// The value cell of the object's (or port's) field, or null. Valid until the next allocation.
Cell* field_cell(const Cell& object, uint32_t symbol) {
  return context::value_cell_of_symbol(symbol, object::context_of(object));
}

Cell field(const Cell& object, uint32_t symbol) {
  const Cell* cell = field_cell(object, symbol);
  return cell ? *cell : constants::none;
}

// Sets the field, adding it when the object lacks it. May allocate.
void set_field(const Cell& object, uint32_t symbol, const Cell& value) {
  const Cell word{TYPE_WORD, 0, symbol, 0};
  context::put_word_value(object::context_of(object), word, value);
}

// --- Argument layouts ------------------------------------------------------------------------

// An action's arguments as its definition lays them out: the count of its own, then the count
// of each refinement's.
struct Layout {
  bool known = false;
  uint32_t own = 0;
  std::vector<uint32_t> refinements;
};
Layout layouts[action::kSlotCount + 1];

// Read once from the spec of the action! the slot's word holds; an action word redefined
// before the first use leaves the layout unknown, and the frame's cells then go as they are.
const Layout& layout_of(Slot slot) {
  Layout& layout = layouts[slot];
  if (layout.known) return layout;
  const uint32_t symbol = symbol::intern_c_string(action::name(slot));
  const Cell* value = context::value_cell_of_symbol(symbol, context::global);
  if (!value || cell::type_of(*value) != TYPE_ACTION || native::index_of(*value) != slot) {
    return layout;
  }
  const uint32_t spec = native::spec_of(*value);
  const Cell* cells = cell::cells_of(spec);
  uint32_t* count = &layout.own;
  for (uint32_t i = 0; i < cell::cell_count(spec); i++) {
    const uint8_t type = cell::type_of(cells[i]);
    if (type == TYPE_WORD || type == TYPE_LIT_WORD || type == TYPE_GET_WORD) {
      ++*count;
    } else if (type == TYPE_REFINEMENT) {
      if (symbol::same_canonical(word::symbol_of(cells[i]), names().local)) break;
      layout.refinements.push_back(0);
      count = &layout.refinements.back();
    } else if (type == TYPE_SET_WORD) {
      break;
    }
  }
  layout.known = true;
  return layout;
}

// The refinements of a composed call: for refinement #k (from 0) whether it is used and its
// arguments' cells (null: none!).
struct Used {
  uint32_t index;
  std::vector<const Cell*> arguments;
};

// Pushes the arguments of the slot's actor function: the port, the action's other arguments,
// then the refinements by the layout. Returns the first pushed cell.
Cell* push_arguments(Slot slot, const Cell& port, std::initializer_list<const Cell*> own,
                     std::initializer_list<Used> used) {
  const Layout& layout = layout_of(slot);
  Cell* first = stack::push_copy(port);
  for (const Cell* value : own) stack::push_copy(value ? *value : constants::none);
  for (uint32_t k = 0; k < layout.refinements.size(); k++) {
    const Used* found = nullptr;
    for (const Used& u : used) {
      if (u.index == k) found = &u;
    }
    stack::push_copy(logic::make(found != nullptr));
    for (uint32_t j = 0; j < layout.refinements[k]; j++) {
      const Cell* value = found && j < found->arguments.size() ? found->arguments[j] : nullptr;
      stack::push_copy(value ? *value : constants::none);
    }
  }
  return first;
}

// Calls the actor with the cells from first to the stack's top, drops them, and pushes the
// result in their place.
Cell* call_pushed(Slot slot, Cell* first) {
  const Cell result = forward(slot, std::span<const Cell>(first, stack::top));
  stack::top = first;
  return stack::push_copy(result);
}

// Refinement numbers of the composed calls, in their actions' specs.
enum : uint32_t { kCopyPart = 0, kInsertPart = 0, kOpenWrite = 2, kOpenSeek = 3 };

void open_for(const Cell& port, bool write, const Cell* seek) {
  Cell* first = push_arguments(action::OPEN, port, {},
                               {Used{write ? kOpenWrite : UINT32_MAX, {}},
                                Used{seek ? kOpenSeek : UINT32_MAX, {}}});
  call_pushed(action::OPEN, first);
  stack::pop_cells(1);
}

// The actor's copy (with /part when a part is given), then close; pushes copy's result.
Cell* copy_and_close(const Cell& port, const Cell* part) {
  Cell* first = push_arguments(action::COPY, port, {},
                               {Used{part ? kCopyPart : UINT32_MAX, {part}}});
  Cell* result = call_pushed(action::COPY, first);
  first = push_arguments(action::CLOSE, port, {}, {});
  call_pushed(action::CLOSE, first);
  stack::pop_cells(1);
  return result;
}

}  // namespace

// --- Forwarding --------------------------------------------------------------------------------

Cell forward(Slot slot, std::span<const Cell> arguments) {
  const Cell& port = arguments[0];
  const Cell name = word::from_c_string(action::name(slot));
  const Cell actor = field(port, names().actor);
  if (cell::type_of(actor) != TYPE_OBJECT) rt::fire_error("access", "invalid-port", &port);
  const Cell function = object::field_value(actor, word::symbol_of(name));
  if (cell::type_of(function) != TYPE_FUNCTION) rt::fire_error("access", "no-port-action");
  return upcall::interpreter.call_function(name, function, arguments);
}

void forward_frame(Slot slot, const int32_t* refinements) {
  const Layout& layout = layout_of(slot);
  Cell* first = stack::top;
  if (!layout.known) {
    const Cell* end = stack::top;
    for (const Cell* c = stack::args; c < end; c++) stack::push_copy(*c);
  } else {
    for (uint32_t i = 0; i < layout.own; i++) stack::push_copy(*stack::arg(int(i)));
    for (uint32_t k = 0; k < layout.refinements.size(); k++) {
      const bool used = refinements && refinements[k] >= 0;
      stack::push_copy(logic::make(used));
      for (uint32_t j = 0; j < layout.refinements[k]; j++) {
        stack::push_copy(used ? *stack::arg(refinements[k] + int(j)) : constants::none);
      }
    }
  }
  const Cell result = forward(slot, std::span<const Cell>(first, stack::top));
  stack::set_only_result(result);
}

Cell* read(Cell* port, const action::ReadOptions& options) {
  open_for(*port, false, options.seek);
  return copy_and_close(*port, options.part);
}

Cell* write(Cell* port, Cell* data, const action::WriteOptions& options) {
  open_for(*port, true, options.seek);
  Cell* first = push_arguments(action::INSERT, *port, {data},
                               {Used{options.part ? kInsertPart : UINT32_MAX, {options.part}}});
  call_pushed(action::INSERT, first);
  stack::pop_cells(1);
  return copy_and_close(*port, nullptr);
}

void open(const Cell& port, const action::OpenOptions& options) {
  enum : uint32_t { kNew = 0, kRead = 1, kWrite = 2, kSeek = 3 };
  auto flag = [](bool on, uint32_t index) { return Used{on ? index : UINT32_MAX, {}}; };
  Cell* first = push_arguments(action::OPEN, port, {},
                               {flag(options.new_, kNew), flag(options.read, kRead),
                                flag(options.write, kWrite), flag(options.seek, kSeek)});
  call_pushed(action::OPEN, first);
  stack::pop_cells(1);
}

// --- Actions -----------------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, uint8_t) {
  const Names& n = names();
  Cell* original = stack::push_copy(*spec);
  // The spec object: a copy of an object! spec, else url-parts extended from the block.
  Cell* spec_object = stack::push_copy(constants::none);
  if (cell::type_of(*original) == TYPE_OBJECT) {
    object::copy(original, spec_object, nullptr, false, nullptr);
  } else {
    Cell* parts = stack::push_copy(object::system_field({n.standard, n.url_parts}));
    *spec_object = *object::make(parts, original, TYPE_OBJECT);
    stack::top = spec_object + 1;
  }
  const uint32_t spec_context = object::context_of(*spec_object);
  const Cell scheme = context::word_count(spec_context) > 0 && context::has_values(spec_context)
                          ? *context::values_of(spec_context)
                          : constants::none;
  if (cell::type_of(scheme) != TYPE_WORD) rt::fire_error("access", "no-scheme", original);

  // The port: a copy of the template (or the standard fields), retyped.
  Cell* port = stack::push_copy(constants::none);
  const Cell template_ = object::system_field({n.standard, n.port});
  if (cell::type_of(template_) == TYPE_OBJECT) {
    Cell* source = stack::push_copy(template_);
    object::copy(source, port, nullptr, false, nullptr);
    stack::top = port + 1;
  } else {
    Cell* none = stack::push_copy(constants::none);
    Cell* empty = block::push_new(0);
    *port = *object::make(none, empty, TYPE_OBJECT);
    stack::top = port + 1;
    for (const char* name : kPortFields) {
      set_field(*port, symbol::intern_c_string(name), constants::none);
    }
  }
  cell::set_type(*port, TYPE_PORT);
  cell::set_type(*context::owner_cell(object::context_of(*port)), TYPE_PORT);
  set_field(*port, n.spec, *spec_object);
  set_field(*port, n.scheme, scheme);

  // The scheme's actor, from the pairs of system/schemes.
  const Cell schemes = object::system_field({n.schemes});
  Cell definition = constants::none;
  if (types::any_block(cell::type_of(schemes))) {
    const int32_t head = int32_t(cell::series_index(schemes));
    const int32_t count = block::rest_length(schemes);
    for (int32_t i = 0; i + 1 < count; i += 2) {
      const Cell* name = block::cell_at(schemes, head + i);
      if (types::all_word(cell::type_of(*name)) &&
          symbol::same_canonical(word::symbol_of(*name), word::symbol_of(scheme))) {
        definition = *block::cell_at(schemes, head + i + 1);
        break;
      }
    }
  }
  if (cell::type_of(definition) != TYPE_OBJECT) {
    rt::fire_error("access", "unknown-scheme", &scheme);
  }
  const Cell actor = object::field_value(definition, n.actor);
  if (cell::type_of(actor) != TYPE_OBJECT && cell::type_of(actor) != TYPE_HANDLE) {
    rt::fire_error("access", "invalid-actor");
  }
  set_field(*port, n.actor, actor);
  *original = *port;
  stack::top = original + 1;
  return original;
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent) {
  return object::mold_as(value, out, "make port! [", options, arg, part, indent);
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  return mold(value, out, {}, arg, part, 0);
}

void register_datatype() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(TYPE_PORT, {act<MAKE>(make), inherit<REFLECT>(), act<FORM>(form),
                                      act<MOLD>(mold), inherit<EVAL_PATH>(),
                                      inherit<COMPARE>(), act<READ>(read), act<WRITE>(write)});
  gc::set_type_marker(TYPE_PORT, object::mark);
}

}  // namespace port
