// function! and routine!: making function values, the spec grammar check, the automatic locals
// of `function`, the initial local slots of a call, reflection, form, mold, compare and
// their collector marking. Relies on the rooting rule (runtime/gc.h): what is being built sits on
// the data stack or under a Guard, and spec and body cells are copied before anything allocates.
#include "datatypes/function.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace function {

namespace {

using cell::cell_count;
using cell::cells_of;
using cell::series_index;
using cell::series_node;

inline uint32_t canonical(uint32_t symbol) { return symbol::resolve_alias(symbol); }
bool is_refinement(const Cell& c, const Cell& refinement) {
  return cell::type_of(c) == TYPE_REFINEMENT &&
         symbol::same_canonical(word::symbol_of(c), word::symbol_of(refinement));
}
bool is_local(const Cell& c) { return is_refinement(c, runtime_words::refinements.local); }


// The error is raised with a copy: the offending cell may lie in a buffer the raise moves.
[[noreturn]] void refuse(const char* id, Cell offending) {
  rt::fire_error("script", id, &offending);
}

// --- Spec grammar --------------------------------------------------------------------------------

// A type block holds datatypes, typesets, and words naming either (or a word); a nested block
// is left for other readers of the spec and adds no type.
void check_type_block(const Cell& types) {
  for (uint32_t i = series_index(types); i < cell_count(series_node(types)); i++) {
    const Cell element = cells_of(series_node(types))[i];
    switch (cell::type_of(element)) {
      case TYPE_DATATYPE: case TYPE_TYPESET: case TYPE_BLOCK: break;
      case TYPE_WORD: {
        // The same lookup as the argument cache's, so the two agree on every spec.
        const Cell* value =
            context::value_cell_of_symbol(word::symbol_of(element), context::global);
        if (!value || cell::type_of(*value) == TYPE_UNSET) refuse("no-value", element);
        uint8_t type = cell::type_of(*value);
        if (type != TYPE_DATATYPE && type != TYPE_TYPESET && type != TYPE_WORD) {
          refuse("invalid-type-spec", element);
        }
        break;
      }
      default: refuse("invalid-type-spec", element);
    }
  }
}

// What the previous spec entry leaves the next one allowed to be.
enum class After {
  kNothing, kParameter, kParameterTypes, kDoc, kRefinement, kReturn, kReturnTypes,
};

// The flag an attribute word sets (0 for another word).
uint32_t attribute_flag(const Cell& word) {
  if (symbol::same_canonical(word::symbol_of(word), runtime_words::symbols.trace)) return kTrace;
  if (symbol::same_canonical(word::symbol_of(word), runtime_words::symbols.no_trace)) {
    return kNoTrace;
  }
  return 0;
}

uint32_t attribute_flags(const Cell& attributes) {
  uint32_t flags = 0;
  for (uint32_t i = series_index(attributes); i < cell_count(series_node(attributes)); i++) {
    const Cell word = cells_of(series_node(attributes))[i];
    if (cell::type_of(word) != TYPE_WORD) refuse("bad-func-def", word);
    flags |= attribute_flag(word);
  }
  return flags;
}

// --- Automatic locals ----------------------------------------------------------------------------

// The symbols not to collect and the words collected so far.
struct Locals {
  std::vector<uint32_t> ignored;
  std::vector<Cell> words;

  void collect(const Cell& word) {
    uint32_t symbol = canonical(word::symbol_of(word));
    if (std::find(ignored.begin(), ignored.end(), symbol) != ignored.end()) return;
    ignored.push_back(symbol);
    words.push_back(
        Cell{TYPE_WORD, word::context_of(word), word::symbol_of(word), word::index_of(word)});
  }
};


// Collects what the body sets: its set-words, the word of repeat, the word or words of foreach
// and remove-each; through nested blocks and parens. Allocates nothing.
void collect_from_body(uint32_t node, uint32_t head, Locals& locals) {
  if (cycles::find(node)) return;
  cycles::push(node);
  const auto& symbols = runtime_words::symbols;
  for (uint32_t i = head; i < cell_count(node); i++) {
    const Cell c = cells_of(node)[i];
    const Cell* next = i + 1 < cell_count(node) ? cells_of(node) + i + 1 : nullptr;
    uint8_t next_type = next ? cell::type_of(*next) : uint8_t(TYPE_NONE_ID);
    bool next_is_word = next_type == TYPE_WORD || next_type == TYPE_SET_WORD;
    switch (cell::type_of(c)) {
      case TYPE_BLOCK: case TYPE_PAREN:
        collect_from_body(series_node(c), series_index(c), locals);
        break;
      case TYPE_SET_WORD: locals.collect(c); break;
      case TYPE_WORD:
        if (word::is_word_named(c, symbols.repeat) && next_is_word) locals.collect(*next);
        if (!word::is_word_named(c, symbols.foreach) &&
            !word::is_word_named(c, symbols.remove_each)) {
          break;
        }
        if (next_is_word) locals.collect(*next);
        if (next_type != TYPE_BLOCK) break;
        for (uint32_t j = series_index(*next); j < cell_count(series_node(*next)); j++) {
          const Cell item = cells_of(series_node(*next))[j];
          uint8_t type = cell::type_of(item);
          if (type == TYPE_WORD || type == TYPE_LIT_WORD || type == TYPE_GET_WORD) {
            locals.collect(item);
          }
        }
        break;
      default: break;
    }
  }
  cycles::pop();
}

// --- Collector -----------------------------------------------------------------------------------

void mark_function(const Cell& value) {
  gc::mark_block(context_of(value));
  gc::mark_block(spec_of(value));
  gc::mark_block(internals_of(value));
}

}  // namespace

// --- Making --------------------------------------------------------------------------------------

Cell* make_function_value(const Cell& spec, const Cell& body, uint32_t context,
                          uint32_t code_entry, uint32_t extra, uint32_t flags) {
  Cell* result = stack::push_copy(spec);  // becomes the function
  Cell* body_copy = stack::push_copy(body);
  block::head_cell(*result);  // clamps the head to the tail
  if (cell::type_of(*body_copy) == TYPE_BLOCK) block::head_cell(*body_copy);
  if (series_index(*result)) {
    *result = *block::push_clone(*result, false, false);
    stack::pop_cells(1);
  }
  Cell* more = block::push_new(kMoreCells);
  for (int32_t i = 0; i < kMoreCells; i++) block::append_cell(*more, constants::unset);

  bool own_context = !context;
  if (own_context) context = context::make_from_spec(*result, true, false, context::kFunction);
  gc::Guard keep_context(context);
  if (cell::type_of(*body_copy) == TYPE_BLOCK) {
    *body_copy = *block::push_clone(*body_copy, true, true);
    stack::pop_cells(1);
    if (own_context) context::bind_block(*body_copy, context, false);
  }

  const Cell value{TYPE_FUNCTION | flags, context, series_node(*result), series_node(*more)};
  *context::owner_cell(context) = value;
  Cell* cells = cells_of(series_node(*more));
  cells[kBody] = *body_copy;
  if (code_entry) cells[kCodeEntry] = integer::make(int32_t(code_entry));
  if (extra) cells[kExtra] = integer::make(int32_t(extra));
  *result = value;
  stack::pop_cells(2);  // the body copy and the internal block are held by the value
  return result;
}

Cell* make_routine_value(const Cell& spec, const Cell& body, uint32_t code_entry, uint32_t extra,
                         bool cell_args) {
  Cell* routine =
      make_function_value(spec, body, 0, code_entry, extra, cell_args ? kCellArgs : 0);
  cell::set_type(*routine, TYPE_ROUTINE);
  set_arity(*routine);
  *context::owner_cell(context_of(*routine)) = *routine;
  return routine;
}

// --- Spec grammar --------------------------------------------------------------------------------

uint32_t validate_spec(const Cell& spec) {
  uint32_t flags = 0;
  After after = After::kNothing;
  bool in_locals = false;
  bool return_seen = false;
  std::vector<std::pair<uint32_t, Cell>> names;  // canonical symbol, the entry naming it
  uint32_t head = std::min(series_index(spec), cell_count(series_node(spec)));
  for (uint32_t i = head; i < cell_count(series_node(spec)); i++) {
    const Cell entry = cells_of(series_node(spec))[i];
    uint8_t type = cell::type_of(entry);
    bool allowed = true;
    switch (after) {
      case After::kReturn: allowed = type == TYPE_BLOCK; break;
      case After::kReturnTypes: allowed = type == TYPE_REFINEMENT || type == TYPE_STRING; break;
      case After::kRefinement:
        allowed = type != TYPE_BLOCK;  // the other kinds are refused by their own rules below
        break;
      default: break;
    }
    if (!allowed) refuse("bad-func-def", entry);

    switch (type) {
      case TYPE_BLOCK:
        if (i == head) {
          flags = attribute_flags(entry);
        } else if (after == After::kParameter || after == After::kReturn) {
          check_type_block(entry);
        } else {
          refuse("bad-func-def", entry);  // a type block comes right after its word
        }
        after = after == After::kParameter ? After::kParameterTypes
                : after == After::kReturn  ? After::kReturnTypes
                                           : After::kNothing;
        break;
      case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        if ((return_seen && !in_locals) || (in_locals && type != TYPE_WORD)) {
          refuse("bad-func-def", entry);
        }
        names.emplace_back(canonical(word::symbol_of(entry)), entry);
        after = After::kParameter;
        break;
      case TYPE_STRING:
        after = After::kDoc;
        break;
      case TYPE_SET_WORD:
        if (canonical(word::symbol_of(entry)) != canonical(runtime_words::symbols.return_) ||
            return_seen || in_locals) {
          refuse("bad-func-def", entry);
        }
        return_seen = true;
        after = After::kReturn;
        break;
      case TYPE_REFINEMENT:
        if ((in_locals || return_seen) && !is_local(entry)) refuse("bad-func-def", entry);
        in_locals = in_locals || is_local(entry);
        names.emplace_back(canonical(word::symbol_of(entry)), entry);
        after = After::kRefinement;
        break;
      default: refuse("bad-func-def", entry);
    }
  }
  // return: needs its type block.
  if (after == After::kReturn) {
    refuse("bad-func-def", cells_of(series_node(spec))[cell_count(series_node(spec)) - 1]);
  }
  for (size_t i = 1; i < names.size(); i++) {
    for (size_t j = 0; j < i; j++) {
      if (names[i].first == names[j].first) refuse("dup-vars", names[i].second);
    }
  }
  return flags;
}

// --- Automatic locals ----------------------------------------------------------------------------

void collect_local_words(Cell& spec, const Cell& body) {
  Locals locals;
  uint32_t head = std::min(series_index(spec), cell_count(series_node(spec)));
  uint32_t extern_at = 0;
  bool has_extern = false;
  for (uint32_t i = head; i < cell_count(series_node(spec)) && !has_extern; i++) {
    has_extern = is_refinement(cells_of(series_node(spec))[i], runtime_words::refinements.extern_);
    extern_at = i;
  }
  bool after_local = false;
  for (uint32_t i = head; i < cell_count(series_node(spec)); i++) {
    const Cell entry = cells_of(series_node(spec))[i];
    switch (cell::type_of(entry)) {
      case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
      case TYPE_REFINEMENT:
        locals.ignored.push_back(canonical(word::symbol_of(entry)));
        // The locals listed after /extern stay locals once the spec is cut there.
        if (has_extern && i > extern_at) {
          if (is_local(entry)) after_local = true;
          if (after_local && cell::type_of(entry) == TYPE_WORD) {
            locals.words.push_back(Cell{TYPE_WORD, word::context_of(entry), word::symbol_of(entry),
                                         word::index_of(entry)});
          }
        }
        break;
      case TYPE_BLOCK: case TYPE_STRING: break;
      default:
        if (has_extern) refuse("bad-func-extern", entry);
    }
  }
  if (has_extern) block::set_tail_index(spec, static_cast<int32_t>(extern_at));

  if (cell::type_of(body) == TYPE_BLOCK) {
    collect_from_body(series_node(body), series_index(body), locals);
  }
  std::erase_if(locals.words, [](const Cell& w) {
    return symbol::same_canonical(word::symbol_of(w),
                                  word::symbol_of(runtime_words::refinements.local));
  });
  if (locals.words.empty()) return;
  bool spec_has_local = false;
  for (uint32_t i = head; i < cell_count(series_node(spec)); i++) {
    spec_has_local = spec_has_local || is_local(cells_of(series_node(spec))[i]);
  }
  if (!spec_has_local) block::append_cell(spec, runtime_words::refinements.local);
  for (const Cell& word : locals.words) block::append_cell(spec, word);
}

uint32_t spec_attributes(uint32_t spec_node) {
  if (!cell_count(spec_node) || cell::type_of(cells_of(spec_node)[0]) != TYPE_BLOCK) return 0;
  const Cell attributes = cells_of(spec_node)[0];
  uint32_t flags = 0;
  for (uint32_t i = series_index(attributes); i < cell_count(series_node(attributes)); i++) {
    const Cell& entry = cells_of(series_node(attributes))[i];
    if (cell::type_of(entry) == TYPE_WORD) flags |= attribute_flag(entry);
  }
  return flags;
}

int32_t count_locals(uint32_t spec_node, int32_t start, bool required) {
  int32_t count = -1;
  for (uint32_t i = uint32_t(std::max(start, 0)); i < cell_count(spec_node); i++) {
    const Cell& entry = cells_of(spec_node)[i];
    if (count < 0) {
      if (is_local(entry)) count = 1;
    } else if (cell::type_of(entry) == TYPE_WORD) {
      count++;
    }
  }
  return count >= 0 ? count : required ? -1 : 0;
}

uint32_t parameter_count(const Cell& function) {
  uint32_t params = 0;
  const Cell* cells = cell::cells_of(spec_of(function));
  for (uint32_t i = 0; i < cell::cell_count(spec_of(function)); i++) {
    uint8_t type = cell::type_of(cells[i]);
    if (type == TYPE_REFINEMENT) break;
    if (type == TYPE_WORD || type == TYPE_LIT_WORD || type == TYPE_GET_WORD) params++;
  }
  return params;
}

void push_locals(int32_t count) {
  if (count < 1) return;
  stack::push_copy(constants::false_value);
  for (int32_t i = 1; i < count; i++) stack::push_copy(constants::none);
}

void set_arity(Cell& routine) {
  uint32_t words = 0;
  for (uint32_t i = 0; i < cell_count(spec_of(routine)); i++) {
    if (cell::type_of(cells_of(spec_of(routine))[i]) == TYPE_WORD) words++;
  }
  // More words than the five bits hold would spill into the flags above them.
  words = std::min(words, kArityMax);
  routine.header = (routine.header & ~(kArityMax << kArityShift)) | (words << kArityShift);
}

Cell body_of(const Cell& value) { return cells_of(internals_of(value))[kBody]; }
void set_op_copy(const Cell& value) { cells_of(internals_of(value))[kOpCopy] = value; }

// --- Actions -------------------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, uint8_t) {
  const Cell make_spec = *spec;
  if (cell::type_of(make_spec) != TYPE_BLOCK || block::rest_length(make_spec) < 2) {
    refuse("bad-func-def", make_spec);
  }
  const Cell params = cell::block_head(make_spec)[0];
  const Cell body = cell::block_head(make_spec)[1];
  if (cell::type_of(params) != TYPE_BLOCK || cell::type_of(body) != TYPE_BLOCK) {
    refuse("bad-func-def", make_spec);
  }
  return make_function_value(params, body, 0, 0, 0, validate_spec(params));
}

void reflect(Cell* value, uint32_t field_symbol) {
  const auto& symbols = runtime_words::symbols;
  uint32_t field = canonical(field_symbol);
  if (field == canonical(symbols.spec)) {
    *value = cell::make_series(TYPE_BLOCK, spec_of(*value));
  } else if (field == canonical(symbols.body)) {
    *value = body_of(*value);
  } else if (field == canonical(symbols.words)) {
    uint32_t context = context_of(*value);
    Cell* words = block::push_clone(
        cell::make_series(TYPE_BLOCK, context::word_block_node(context)), false, false);
    Cell* cells = cells_of(series_node(*words));
    for (uint32_t i = 0; i < cell_count(series_node(*words)); i++) {
      word::set_context(cells[i], context);
    }
    *value = *words;
    stack::pop_cells(1);
  } else {
    // Other fields are reserved: internal/not-done is the defined answer, not a gap.
    rt::fire_error("internal", "not-done");
  }
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  return part - cell::append_text(out, cell::type_of(*value) == TYPE_ROUTINE ? "?routine?"
                                                                             : "?function?");
}

// A function with no body (none!) shows it after a space, as a routine with a body that is not a
// block does.
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent) {
  const Cell v = *value;
  part -= cell::append_text(out, cell::type_of(v) == TYPE_ROUTINE ? "routine " : "func ");
  Cell spec = cell::make_series(TYPE_BLOCK, spec_of(v));
  part = block::mold(&spec, out, options.nested(), arg, part, indent);
  Cell body = body_of(v);
  if (cell::type_of(body) != TYPE_BLOCK) part -= cell::append_text(out, " ");
  auto mold_body = datatype::lookup<action::MOLD>(cell::type_of(body));
  return mold_body ? mold_body(&body, out, options.nested(), arg, part, indent) : part;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*a) != cell::type_of(*b)) return action::kNotComparable;
  return native::compare_words(op, internals_of(*a), internals_of(*b));
}

void register_datatypes() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(TYPE_FUNCTION,
                          {act<MAKE>(make), act<REFLECT>(reflect), act<FORM>(form),
                           act<MOLD>(mold), act<COMPARE>(compare)});
  // A routine is made from machine code by the start-up code, never by make.
  datatype::register_type(TYPE_ROUTINE,
                          {inherit<REFLECT>(), inherit<FORM>(), inherit<MOLD>(),
                           inherit<COMPARE>()});
  gc::set_type_marker(TYPE_FUNCTION, mark_function);
  gc::set_type_marker(TYPE_ROUTINE, mark_function);
}

}  // namespace function
