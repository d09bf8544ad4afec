// object!: making objects (from a spec block run in the new context, from a prototype, without
// evaluation), copies, reflection, printing, comparison, path access, and the change handlers,
// which run language code through the evaluator. Relies on datatypes/context.h and the rooting
// rule of runtime/gc.h: objects being built sit on the data stack, and walks keep context nodes
// and field indexes, re-deriving cell addresses after anything that can allocate or run code.
#include "datatypes/object.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <span>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace object {

namespace {

using cell::cells_of;

constexpr uint32_t kEmptyCapacity = 4;
enum Handler : uint32_t { kOnChange = 0, kOnDeepChange = 1, kHandlerCount = 2 };

constexpr uint32_t kAbsent = 0xFFFF;  // the index of a handler the object lacks

uint32_t class_counter = 0;
uint32_t new_class_id() { return ++class_counter; }

inline uint32_t canonical(uint32_t symbol) { return symbol::resolve_alias(symbol); }

Cell datatype_of(const Cell& value) { return cell::make_datatype(cell::type_of(value)); }

// --- Fields --------------------------------------------------------------------------------------

uint32_t field_count(uint32_t context) { return context::word_count(context); }
uint32_t values_node(uint32_t context) { return context::values_position(context); }
// Value cells written so far; a field past them reads as unset!.
uint32_t value_count(uint32_t context) {
  return cell::cell_count(values_node(context));
}
// Value #index, valid until the next allocation; null when never written.
Cell* value_at(uint32_t context, uint32_t index) {
  return index < value_count(context) ? context::values_of(context) + index : nullptr;
}
Cell value_or_unset(uint32_t context, uint32_t index) {
  const Cell* v = value_at(context, index);
  return v ? *v : constants::unset;
}
// Word #index without its changed marker: what a script gets to see.
Cell plain_word(uint32_t context, uint32_t index) {
  Cell word = *context::word_at(context, index);
  word.header &= ~context::kAssigned;
  return word;
}

void clear_changed(uint32_t context) {
  for (uint32_t i = 0; i < field_count(context); i++) {
    context::word_at(context, i)->header &= ~context::kAssigned;
  }
}

void clear_new_line_flags(uint32_t series) {
  alloc::Series* s = alloc::series_of(series);
  auto* cells = reinterpret_cast<Cell*>(s->head_ptr());
  for (uint32_t i = 0; i < s->length(); i++) cell::clear_new_line_flag(cells[i].header);
}

bool is_owner(uint32_t context) {
  return context::context_cell(context)->header & ownership::kOwnerObject;
}

// Makes the object the owner of the series held in its fields.
void own_series(const Cell& object) {
  Cell owner = object;
  gc::Guard guard(owner);
  for (uint32_t i = 0; i < field_count(context_of(owner)); i++) {
    Cell word = plain_word(context_of(owner), i);
    ownership::set_owner(value_or_unset(context_of(owner), i), owner, word);
  }
  context::context_cell(context_of(owner))->header |= ownership::kOwnerObject;
}

// --- Making and copying --------------------------------------------------------------------------

// Pushes a new object over a new empty context.
Cell* push_empty(uint32_t class_id) {
  uint32_t context = context::create(kEmptyCapacity, false, true, 0, context::kObject);
  Cell* object = stack::push_new();
  *object = Cell{TYPE_OBJECT, context, class_id, 0};
  *context::owner_cell(context) = *object;
  return object;
}

// Replaces value #index (a series) by its copy, deep or not.
void copy_value_at(uint32_t context, uint32_t index, bool deep) {
  Cell* slot = stack::push_copy(*value_at(context, index));  // roots the original meanwhile
  if (auto copy = datatype::lookup<action::COPY>(cell::type_of(*slot))) {
    copy(slot, slot, nullptr, deep, nullptr);
    *value_at(context, index) = *slot;
  }
  stack::pop_cells(1);
}

// Replaces value #index, a function!, by a copy whose body is bound to the context; its own
// parameters and locals still take precedence, being bound last, when the copy is made.
void rebind_function_at(uint32_t context, uint32_t index) {
  const Cell function = *value_at(context, index);
  Cell* original = stack::push_copy(function);
  Cell body = function::body_of(function);
  if (cell::type_of(body) == TYPE_BLOCK) {
    body = *block::push_clone(body, true, true);
    context::bind_block(body, context, true);
  }
  Cell spec = cell::make_series(TYPE_BLOCK, function::spec_of(function));
  uint32_t flags = function.header & (function::kTrace | function::kNoTrace);
  Cell* made = function::make_function_value(spec, body, 0, 0, 0, flags);
  *value_at(context, index) = *made;
  stack::top = original;
}

// The values of the types a plain deep copy duplicates.
bool copied_when_deep(uint8_t type) {
  switch (type) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
    case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_TAG:
    case TYPE_EMAIL: case TYPE_REF:
      return true;
    default:
      return false;
  }
}

// Pushes a copy of the object: a new context with the same words and values, the source's
// class id and (unless without_handlers) its handler record. Functions are rebound to the new
// context; with deep, series are duplicated too, or with types the values they select.
Cell* copy_into(const Cell& source, bool deep, const Cell* types, bool without_handlers) {
  Cell* made = stack::push_copy(source);
  const Cell original = source;  // the caller keeps the source alive
  uint32_t context = context::renew_with_same_words(*made, context::kObject);
  uint32_t count = std::min(field_count(context), value_count(context_of(original)));
  std::copy_n(context::values_of(context_of(original)), count, context::values_of(context));
  if (without_handlers) set_handlers(*made, 0);
  *context::owner_cell(context) = *made;

  for (uint32_t i = 0; i < count; i++) {
    uint8_t type = cell::type_of(*value_at(context, i));
    if (type == TYPE_FUNCTION) {
      rebind_function_at(context, i);
    } else if (deep && !types && copied_when_deep(type)) {
      copy_value_at(context, i, true);
    }
  }
  if (types) {
    std::optional<cycles::Entry> entry;
    if (deep) {
      if (cycles::find(context_of(original))) {
        cycles::reset();
        rt::fire_error("internal", "no-cycle");
      }
      entry.emplace(context_of(original));
    }
    block::copy_nested(values_node(context), 0, int32_t(count), 1, deep, types);
  }
  return made;
}

// The prototype's series become the target's own copies, blocks rebound to the target, and its
// functions copies bound to the target, which may have gained words since it was copied.
void copy_values_rebind(uint32_t source, uint32_t target) {
  uint32_t count = std::min(field_count(source), value_count(target));
  for (uint32_t i = 0; i < count; i++) {
    uint8_t type = cell::type_of(*value_at(target, i));
    if (type == TYPE_FUNCTION) {
      rebind_function_at(target, i);
    } else if (types::any_series(type)) {
      copy_value_at(target, i, true);
      if (types::any_block(type)) context::bind_block(*value_at(target, i), target, true);
    }
  }
}

// Sets every field of the source into the target, adding the words it lacks, then gives the
// target its own copies of its series and functions; whether words were added.
bool extend_from(uint32_t target, uint32_t source) {
  uint32_t before = field_count(target);
  for (uint32_t i = 0; i < field_count(source); i++) {
    context::put_word_value(target, plain_word(source, i), value_or_unset(source, i));
  }
  for (uint32_t i = 0; i < value_count(target); i++) {
    uint8_t type = cell::type_of(*value_at(target, i));
    if (type == TYPE_FUNCTION) rebind_function_at(target, i);
    else if (types::any_series(type)) copy_value_at(target, i, true);
  }
  return field_count(target) > before;
}

// --- Change handlers -----------------------------------------------------------------------------

Cell* record_cell(uint32_t record, Handler which) {
  return cells_of(record) + which;
}
uint32_t handler_index(uint32_t record, Handler which) {
  return handler_field_of(*record_cell(record, which));
}

// Counts the handler's parameters (the words before its first refinement) and the frame cells
// after them, into the record cell.
void count_frame(Cell* entry, const Cell& function) {
  uint32_t params = 0;
  alloc::Series* spec = alloc::series_of(function::spec_of(function));
  auto* cells = reinterpret_cast<const Cell*>(spec->head_ptr());
  for (uint32_t i = 0; i < spec->length(); i++) {
    uint8_t type = cell::type_of(cells[i]);
    if (type == TYPE_REFINEMENT) break;
    if (type == TYPE_WORD || type == TYPE_LIT_WORD || type == TYPE_GET_WORD) params++;
  }
  uint32_t rest = context::word_count(function::context_of(function)) - params;
  set_handler_params(*entry, params);
  set_handler_rest(*entry, rest);
  set_handler_spec(*entry, function::spec_of(function));
}

// The indexes of the context's on-change* and on-deep-change* fields, -1 when absent.
struct HandlerFields {
  int32_t index[kHandlerCount];
  bool any() const { return index[kOnChange] >= 0 || index[kOnDeepChange] >= 0; }
};

HandlerFields handler_fields(uint32_t context) {
  const auto& words = runtime_words::words;
  return {{context::find_symbol(context, word::symbol_of(words.on_change), true),
           context::find_symbol(context, word::symbol_of(words.on_deep_change), true)}};
}

}  // namespace

// Gives the object (a stack cell) a handler record, its entries still absent, when its context
// has handler fields, so that a copy of the object taken while its spec runs (self) already
// carries the record; stores the object in its context's self slot.
void prepare_handlers(Cell* object) {
  set_handlers(*object, 0);
  if (handler_fields(context_of(*object)).any()) {
    uint32_t record = alloc::new_cell_series(kHandlerCount);
    alloc::Series* s = alloc::series_of(record);
    s->tail = s->head + kHandlerCount * sizeof(Cell);
    for (uint32_t h = 0; h < kHandlerCount; h++) {
      *record_cell(record, Handler(h)) = make_handler_entry(kAbsent);
    }
    set_handlers(*object, record);
  }
  *context::owner_cell(context_of(*object)) = *object;
}

// Fills the prepared record from the handler fields, each of which must hold a function! or
// routine!; an on-deep-change* handler makes the object the owner of its series.
void attach_handlers(const Cell& object) {
  if (!handlers_of(object)) return;
  HandlerFields fields = handler_fields(context_of(object));
  for (uint32_t h = 0; h < kHandlerCount; h++) {
    int32_t index = fields.index[h];
    if (index < 0) continue;
    Cell value = value_or_unset(context_of(object), uint32_t(index));
    uint8_t type = cell::type_of(value);
    if (type != TYPE_FUNCTION && type != TYPE_ROUTINE) {
      Cell word = plain_word(context_of(object), uint32_t(index));
      Cell datatype = datatype_of(value);
      rt::fire_error("script", "bad-field-set", &word, &datatype);
    }
    Cell* entry = record_cell(handlers_of(object), Handler(h));
    set_handler_field(*entry, uint32_t(index));
    count_frame(entry, value);
  }
  if (fields.index[kOnDeepChange] >= 0) own_series(object);
}

namespace {

// The handler's function, or unset! when its field was never written.
Cell handler_function(const Cell& object, Handler which) {
  return value_or_unset(context_of(object), handler_index(handlers_of(object), which));
}

// Calls the handler in a call frame named by `name`: the arguments fill its parameters (none!
// for those beyond them), its refinements and locals follow. The handler's value is dropped and
// the data stack left as it was: the caller's frame, whose cells lie below, keeps its own
// arguments and result. A break, throw... leaving the handler has already unwound this frame; it
// goes on as a C++ throw, the handler being foreign code to whoever assigned the field.
void call_handler(const Cell& name, const Cell& object, Handler which, const Cell& function,
                  std::initializer_list<Cell> arguments) {
  Cell* entry = record_cell(handlers_of(object), which);
  if (handler_spec_of(*entry) != function::spec_of(function)) count_frame(entry, function);
  uint32_t params = handler_params_of(*entry);
  int32_t rest = int32_t(handler_rest_of(*entry));
  upcall::interpreter.call_handler(name, function, context_of(object),
                                   std::span<const Cell>(arguments.begin(), arguments.size()),
                                   params, rest);
}

// --- Printing ------------------------------------------------------------------------------------

using cell::append_text;

int32_t mold_cell(Cell value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
                  int32_t indent) {
  gc::Guard guard(value);
  auto mold = datatype::implemented<action::MOLD>(cell::type_of(value));
  return mold(&value, out, options.nested(), arg, part, indent);
}

bool is_handler_word(const Cell& word) {
  const auto& words = runtime_words::words;
  return symbol::same_canonical(word::symbol_of(word), word::symbol_of(words.on_change)) ||
         symbol::same_canonical(word::symbol_of(word), word::symbol_of(words.on_deep_change));
}

// Writes the fields as "word: value", molded, the handler fields only with all. In mold's block
// layout (not flat or only) a line break comes first and each field has an indented line of its
// own; otherwise the fields are separated by single spaces (flat) or line breaks. Returns the
// remaining part limit.
int32_t mold_fields(const Cell& object, Cell* out, action::MoldOptions options, Cell* arg,
                    int32_t part, int32_t indent, bool block_layout) {
  uint32_t context = context_of(object);
  if (field_count(context) == 0) return part;
  const char* separator = options.flat ? " " : "\n";
  const bool indenting = block_layout && !options.flat && !options.only;
  if (indenting) part = append_text(out, "\n", part);
  cycles::Entry entry(context);
  bool first = true;
  for (uint32_t i = 0; i < field_count(context) && part > 0; i++) {
    Cell word = plain_word(context, i);
    if (!options.all && is_handler_word(word)) continue;
    if (!indenting && !first) part = append_text(out, separator, part);
    first = false;
    if (indenting) part = cell::mold_indent(out, indent, part);
    part = mold_cell(word, out, options, arg, part, indent);
    part = append_text(out, ": ", part);
    Cell value = value_or_unset(context, i);
    if (cell::type_of(value) == TYPE_WORD) part = append_text(out, "'", part);
    part = mold_cell(value, out, options, arg, part, indent);
    if (indenting) part = append_text(out, separator, part);
  }
  return part;
}

// --- Path access ---------------------------------------------------------------------------------

// A missing field at a path step.
Cell* missing_field(const Cell* path, const Cell& word, bool get, bool last) {
  if (get && last) return const_cast<Cell*>(&constants::unset);
  rt::fire_error("script", last ? "invalid-path" : "unset-path", path, &word);
}

// The field a word names: its own index when bound to the context, else found by symbol.
int32_t field_index(uint32_t context, const Cell& word) {
  if (word::context_of(word) == context && word::index_of(word) < field_count(context)) {
    return int32_t(word::index_of(word));
  }
  return context::find_symbol(context, word::symbol_of(word), true);
}

// Assigns the field, telling the object's on-change* handler (with the word, the old and the new
// value) when it has handlers.
void assign_field(const Cell& object, uint32_t index, const Cell& word, const Cell& value) {
  if (!handlers_of(object)) {
    context::set_value_at(context_of(object), index, value);
    return;
  }
  Cell* saved_top = stack::top;
  Cell* old = stack::push_copy(value_or_unset(context_of(object), index));
  Cell* fresh = stack::push_copy(value);
  Cell* holder = stack::push_copy(object);
  Cell* name = stack::push_copy(word);
  context::set_value_at(context_of(*holder), index, *fresh);
  fire_on_change(*holder, *name, *old, *fresh);
  stack::top = saved_top;
}

// What construct makes of a value: the words none, true, false, yes, no, on and off stand for
// their values; anything else stays as it is.
Cell literal_value(const Cell& value) {
  if (cell::type_of(value) != TYPE_WORD) return value;
  const auto& s = runtime_words::symbols;
  const struct {
    uint32_t symbol;
    const Cell& value;
  } literals[] = {
      {s.none, constants::none},          {s.true_, constants::true_value},
      {s.yes, constants::true_value},     {s.on, constants::true_value},
      {s.false_, constants::false_value}, {s.no, constants::false_value},
      {s.off, constants::false_value},
  };
  for (const auto& literal : literals) {
    if (symbol::same_canonical(word::symbol_of(value), literal.symbol)) return literal.value;
  }
  return value;
}

bool is_number(uint8_t type) {
  return type == TYPE_INTEGER || type == TYPE_FLOAT || type == TYPE_PERCENT;
}

int32_t order(uint32_t a, uint32_t b) { return a < b ? -1 : a > b ? 1 : 0; }

}  // namespace

// --- Low-level operations ------------------------------------------------------------------------

Cell field_value(const Cell& object, uint32_t symbol) {
  if (cell::type_of(object) != TYPE_OBJECT) return constants::none;
  const Cell* value = context::value_cell_of_symbol(symbol, context_of(object));
  return value ? *value : constants::none;
}

Cell system_field(std::initializer_list<uint32_t> symbols) {
  return system_field(symbols, constants::none);
}

Cell system_field(std::initializer_list<uint32_t> symbols, const Cell& absent) {
  const Cell* field = system_field_cell(symbols);
  return field ? *field : absent;
}

Cell* system_field_cell(std::initializer_list<uint32_t> symbols) {
  Cell* field = context::value_cell_of_symbol(runtime_words::symbols.system, context::global);
  for (uint32_t symbol : symbols) {
    if (!field || cell::type_of(*field) != TYPE_OBJECT) return nullptr;
    field = context::value_cell_of_symbol(symbol, context_of(*field));
  }
  return field;
}

void write_word(Cell& word, const Cell& value) {
  const uint32_t context = word::context_of(word);
  if (!context || context::kind_of(context) != context::kObject) {
    context::write_word(word, value);
    return;
  }
  const Cell object = *context::owner_cell(context);
  if (cell::type_of(object) != TYPE_OBJECT || !handlers_of(object)) {
    context::write_word(word, value);
    return;
  }
  gc::Guard guard_object(object);
  Cell old_value = *context::word_value_cell(word);
  Cell new_value = value;
  gc::Guard guard_old(old_value), guard_new(new_value);
  context::write_word(word, new_value);
  Cell field = word;  // a set-word reaches the handler as the plain word
  field.header = TYPE_WORD;
  fire_on_change(object, field, old_value, new_value);
}

void fire_on_change(const Cell& object, const Cell& word, const Cell& old_value,
                    const Cell& new_value) {
  if (!handlers_of(object) || handler_index(handlers_of(object), kOnChange) == kAbsent) return;
  Cell function = handler_function(object, kOnChange);
  if (cell::type_of(function) != TYPE_FUNCTION) {
    rt::fire_error("script", "invalid-obj-evt", &function);
  }
  Cell field = word;
  if (word::context_of(field) != context_of(object)) context::bind_word(context_of(object), field);
  call_handler(runtime_words::words.on_change, object, kOnChange, function,
               {field, old_value, new_value});
}

void fire_on_deep_change(const Cell& owner, const Cell& word, const Cell& target,
                         const Cell& action, const Cell* new_value, int32_t index,
                         int32_t count) {
  if (!handlers_of(owner)) rt::fire_error("script", "invalid-obj-evt", &owner);
  if (handler_index(handlers_of(owner), kOnDeepChange) == kAbsent) return;
  Cell function = handler_function(owner, kOnDeepChange);
  if (cell::type_of(function) != TYPE_FUNCTION) return;
  call_handler(runtime_words::words.on_deep_change, owner, kOnDeepChange, function,
               {owner, word, target, action, new_value ? *new_value : constants::none,
                integer::make(index), integer::make(count)});
}

void set_many(Cell* object, const Cell* value, const SetOptions& options) {
  Cell* target = stack::push_copy(*object);
  Cell* source = stack::push_copy(*value);
  uint32_t context = context_of(*target);
  uint32_t count = field_count(context);
  bool from_block = !options.only && cell::type_of(*source) == TYPE_BLOCK;
  bool from_object = !options.only && cell::type_of(*source) == TYPE_OBJECT;
  // The value for field #i into *out; false when the field is left alone.
  auto value_for = [&](uint32_t i, Cell* out) {
    if (from_block) {
      uint32_t at = cell::series_index(*source) + i;
      uint32_t node = cell::series_node(*source);
      *out = at < cell::cell_count(node) ? cells_of(node)[at] : constants::none;
    } else if (from_object) {
      int32_t at = context::find_symbol(context_of(*source),
                                        word::symbol_of(*context::word_at(context, i)), true);
      if (at < 0) return false;
      *out = value_or_unset(context_of(*source), uint32_t(at));
    } else {
      *out = *source;
    }
    return true;
  };
  Cell* next = stack::push_copy(constants::none);
  if (!options.any && !options.only && !options.some) {
    for (uint32_t i = 0; i < count; i++) {
      if (value_for(i, next) && cell::type_of(*next) == TYPE_UNSET) {
        Cell word = plain_word(context, i);
        rt::fire_error("script", "need-value", &word);
      }
    }
  }
  for (uint32_t i = 0; i < count; i++) {
    if (!value_for(i, next)) continue;
    if (options.some && cell::type_of(*next) == TYPE_NONE) continue;
    Cell word = plain_word(context, i);
    bool handler_field = handlers_of(*target) &&
                         (i == handler_index(handlers_of(*target), kOnChange) ||
                          i == handler_index(handlers_of(*target), kOnDeepChange));
    if (handler_field) context::set_value_at(context, i, *next);
    else assign_field(*target, i, word, *next);
  }
  stack::top = target;
}

Cell* construct(const Cell& spec, const Cell* prototype, bool only) {
  Cell* source = stack::push_copy(spec);
  Cell* result = prototype ? copy_into(*prototype, true, nullptr, false)
                           : push_empty(new_class_id());
  uint32_t node = cell::series_node(*source);
  for (uint32_t i = cell::series_index(*source); i < alloc::series_of(node)->length(); i++) {
    const Cell* cells = cells_of(node);
    if (cell::type_of(cells[i]) != TYPE_SET_WORD) continue;
    const Cell word = cells[i];
    uint32_t at = i + 1;
    uint32_t length = alloc::series_of(node)->length();
    while (at < length && cell::type_of(cells[at]) == TYPE_SET_WORD) at++;
    Cell value = at >= length ? constants::none : only ? cells[at] : literal_value(cells[at]);
    cell::clear_new_line_flag(value.header);
    context::put_word_value(context_of(*result), word, value);
  }
  *source = *result;
  stack::top = source + 1;
  return source;
}

// --- Actions -------------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint8_t) {
  uint8_t spec_type = cell::type_of(*spec);
  if (spec_type != TYPE_BLOCK && spec_type != TYPE_OBJECT) {
    rt::fire_error("syntax", "malconstruct", spec);
  }
  bool from_prototype = cell::type_of(*proto) == TYPE_OBJECT;
  Cell* result = from_prototype ? copy_into(*proto, false, nullptr, true) : push_empty(0);
  uint32_t context = context_of(*result);
  bool added = spec_type == TYPE_OBJECT ? extend_from(context, context_of(*spec))
                                        : context::add_set_words(context, *spec);
  set_class(*result, added || !from_prototype ? new_class_id() : class_of(*proto));
  prepare_handlers(result);
  if (spec_type == TYPE_BLOCK) {
    context::bind_block(*spec, context, true);
    if (from_prototype) copy_values_rebind(context_of(*proto), context);
    upcall::interpreter.run_spec(*spec);
    stack::top = result + 1;  // the spec's value is dropped
    clear_new_line_flags(values_node(context));
  }
  clear_changed(context);
  attach_handlers(*result);
  return result;
}

void reflect(Cell* value, uint32_t field_symbol) {
  const auto& symbols = runtime_words::symbols;
  const Cell object = *value;
  uint32_t context = context_of(object);
  uint32_t field = canonical(field_symbol);
  if (field == canonical(word::symbol_of(runtime_words::words.changed))) {
    Cell* changed = block::push_new(int32_t(field_count(context)));
    for (uint32_t i = 0; i < field_count(context); i++) {
      if (context::word_at(context, i)->header & context::kAssigned) {
        block::append_cell(*changed, plain_word(context, i));
      }
    }
    *value = *changed;
  } else if (field == canonical(symbols.class_)) {
    *value = integer::make(int32_t(class_of(object)));
    return;
  } else if (field == canonical(symbols.words)) {
    Cell* words = block::push_clone(
        cell::make_series(TYPE_BLOCK, context::word_block_node(context)), false, false);
    alloc::Series* s = alloc::series_of(cell::series_node(*words));
    auto* cells = reinterpret_cast<Cell*>(s->head_ptr());
    for (uint32_t i = 0; i < s->length(); i++) cells[i].header &= ~context::kAssigned;
    *value = *words;
  } else if (field == canonical(symbols.values)) {
    *value = *block::push_clone(cell::make_series(TYPE_BLOCK, values_node(context)), false, false);
  } else if (field == canonical(symbols.body)) {
    Cell* body = block::push_new(int32_t(2 * field_count(context)));
    for (uint32_t i = 0; i < field_count(context); i++) {
      Cell word = plain_word(context, i);
      cell::set_type(word, TYPE_SET_WORD).header |= cell::kNewLine;
      block::append_cell(*body, word);
      Cell field_value = value_or_unset(context, i);
      cell::clear_new_line_flag(field_value.header);
      if (cell::type_of(field_value) == TYPE_WORD) cell::set_type(field_value, TYPE_LIT_WORD);
      if (cell::type_of(field_value) == TYPE_PATH) cell::set_type(field_value, TYPE_LIT_PATH);
      block::append_cell(*body, field_value);
    }
    *value = *body;
  } else if (field == canonical(symbols.owner)) {
    *value = logic::make(is_owner(context));
    return;
  } else if (field == canonical(symbols.events_q)) {
    *value = logic::make(handlers_of(object) != 0);
    return;
  } else {
    cell::fire_not_done();  // other fields are reserved: the defined answer, not a gap
  }
  stack::pop_cells(1);
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  if (cycles::detect_and_emit(*value, out, &part, false)) return part;
  return mold_fields(*value, out, {}, arg, part, 0, false);
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent) {
  return mold_as(value, out, "make object! [", options, arg, part, indent);
}

int32_t mold_as(Cell* value, Cell* out, const char* head, action::MoldOptions options, Cell* arg,
                int32_t part, int32_t indent) {
  if (cycles::detect_and_emit(*value, out, &part, true)) return part;
  const Cell object = *value;
  if (!options.only) part = append_text(out, head, part);
  part = mold_fields(object, out, options, arg, part, indent + 1, true);
  if (!options.flat && indent >= 1) part = cell::mold_indent(out, indent, part);
  if (!options.only) part = append_text(out, "]", part);
  return part;
}

Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  switch (cell::type_of(*element)) {
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: break;
    default: rt::fire_error("script", "invalid-path", step.path, element);
  }
  const Cell object = *parent;
  const Cell word = *element;
  uint32_t context = context_of(object);
  int32_t index = field_index(context, word);
  // A self bound to the object (no field of that name) reads as the object.
  bool own_self = index < 0 && word::context_of(word) == context && context::is_self(word);
  if (step.value) {
    if (own_self) rt::fire_error("script", "invalid-path", step.path, element);
    if (index < 0) return missing_field(step.path, word, step.get, step.last);
    assign_field(object, uint32_t(index), word, *step.value);
    return step.value;
  }
  if (own_self) return context::owner_cell(context);
  Cell* field = index < 0 ? nullptr : value_at(context, uint32_t(index));
  if (!field || cell::type_of(*field) == TYPE_UNSET) {
    return missing_field(step.path, word, step.get, step.last);
  }
  return field;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*a) != cell::type_of(*b)) return action::kNotComparable;
  const Cell x = *a, y = *b;
  const uint32_t context_x = context_of(x), context_y = context_of(y);
  if (context_x == context_y) return 0;
  if (op == action::SAME) return -1;
  if (cycles::find(context_x)) return cycles::find(context_y) ? 0 : -1;
  uint32_t count = field_count(context_x);
  if (count != field_count(context_y)) return count > field_count(context_y) ? 1 : -1;
  cycles::Entry enter_x(context_x), enter_y(context_y);
  for (uint32_t i = 0; i < count; i++) {
    uint32_t word_x = canonical(word::symbol_of(*context::word_at(context_x, i)));
    uint32_t word_y = canonical(word::symbol_of(*context::word_at(context_y, i)));
    if (word_x != word_y) return order(word_x, word_y);
    Cell value_x = value_or_unset(context_x, i), value_y = value_or_unset(context_y, i);
    uint8_t type_x = cell::type_of(value_x), type_y = cell::type_of(value_y);
    int32_t r;
    if (type_x == type_y || (types::all_word(type_x) && types::all_word(type_y)) ||
        (is_number(type_x) && is_number(type_y))) {
      auto fn = datatype::lookup<action::COMPARE>(type_x);
      r = fn ? fn(&value_x, &value_y, op) : action::kNotComparable;
    } else {
      r = order(type_x, type_y);
    }
    if (r != 0) return r;
  }
  return 0;
}

void copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
  if (part) series::fire_invalid_refine(runtime_words::refinements.part, *part);
  Cell* made = copy_into(*value, deep, types, false);
  *result = *made;
  stack::top = made;
}

Cell* put(Cell* object, Cell* key, Cell* value, bool case_flag) {
  if (cell::type_of(*key) != TYPE_WORD) {
    Cell datatype = datatype_of(*key);
    rt::fire_error("script", "invalid-key-type", &datatype);
  }
  eval_path(object, key, {.value = value, .index = 0, .case_sensitive = case_flag, .last = true});
  return value;
}

Cell* select(Cell* object, Cell* key, const action::FindOptions&) {
  if (!types::all_word(cell::type_of(*key))) {
    Cell datatype = datatype_of(*key);
    rt::fire_error("script", "invalid-type", &datatype);
  }
  int32_t index = context::find_symbol(context_of(*object), word::symbol_of(*key), true);
  Cell* field = index < 0 ? nullptr : value_at(context_of(*object), uint32_t(index));
  return field ? field : const_cast<Cell*>(&constants::none);
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
  if (!types::all_word(cell::type_of(*field))) return value;
  const auto& symbols = runtime_words::symbols;
  uint32_t name = canonical(word::symbol_of(*field));
  if (name == canonical(word::symbol_of(runtime_words::words.changed))) {
    if (cell::type_of(*value) != TYPE_NONE) rt::fire_error("script", "invalid-arg", value);
    clear_changed(context_of(*target));
  } else if (name == canonical(symbols.owner)) {
    own_series(*target);
  } else if (name == canonical(symbols.owned)) {
    if (cell::type_of(*value) == TYPE_NONE) {
      ownership::unset_owner(*target);
    } else if (cell::type_of(*value) == TYPE_BLOCK && block::rest_length(*value) >= 2) {
      const Cell owner = block::cell_at(*value, cell::series_index_signed(*value))[0];
      const Cell word = block::cell_at(*value, cell::series_index_signed(*value))[1];
      if (cell::type_of(owner) == TYPE_OBJECT && types::all_word(cell::type_of(word))) {
        ownership::set_owner(*target, owner, word);
      }
    }
  }
  return value;
}

// --- Registration --------------------------------------------------------------------------------

// An object is its context record and its handler record, whose cached specs stay alive too.
void mark(const Cell& value) {
  gc::mark_block(context_of(value));
  if (!handlers_of(value)) return;
  gc::mark_block(handlers_of(value));
  for (uint32_t h = 0; h < kHandlerCount; h++) {
    gc::mark_block(handler_spec_of(*record_cell(handlers_of(value), Handler(h))));
  }
}

void register_datatype() {
  using namespace action;
  using datatype::act;
  datatype::register_type(TYPE_OBJECT,
                          {act<MAKE>(make), act<REFLECT>(reflect), act<FORM>(form),
                           act<MOLD>(mold), act<EVAL_PATH>(eval_path), act<COMPARE>(compare),
                           act<COPY>(copy), act<PUT>(put), act<SELECT>(select),
                           act<MODIFY>(modify)});
  gc::set_type_marker(TYPE_OBJECT, mark);
  ownership::set_deep_change_handler(fire_on_deep_change);
}

}  // namespace object
