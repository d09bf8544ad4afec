// The word family's datatypes (word!, set-word!, lit-word!, get-word!, refinement!, issue!) and
// the word helpers of the runtime: making global words, pushing words and their values, and
// storing values from the data stack.
// Relies on datatypes/context.h for binding and values, datatypes/symbol.h for names, and the
// rooting rule of runtime/gc.h: cells are read before anything allocates.
#include "datatypes/word.h"

#include "datatypes/cell_ops.h"
#include "datatypes/char.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/gc.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace word {

namespace {

[[noreturn]] void fire_word_error(const char* id, Cell word) {
  rt::fire_error("script", id, &word);
}

Cell global_word(uint32_t symbol) {
  uint32_t index = context::add_word(context::global, Cell{TYPE_WORD, 0, symbol, 0});
  return Cell{TYPE_WORD, context::global, symbol, index};
}

Cell issue_of(uint32_t symbol) {
  return Cell{TYPE_ISSUE, context::global, symbol, context::kUnresolved};
}

// --- Actions -------------------------------------------------------------------------------------

// Appends the symbol's own spelling (not the canonical one); returns its length.
int32_t append_name(Cell* out, uint32_t symbol) {
  Cell name = symbol::name_string(symbol);
  int32_t length = static_cast<int32_t>(string::rest_length(name));
  string::concatenate(*out, name, -1, 0, true, string::kAppend);  // the shared name stays as it is
  return length;
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  return part - append_name(out, symbol_of(*value));
}

struct Decoration {
  const char* before;
  const char* after;
};
// By type, from word!.
constexpr Decoration kDecorations[] = {
    {"", ""}, {"", ":"}, {"'", ""}, {":", ""}, {"/", ""}, {"#", ""},
};

int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  const Decoration& d = kDecorations[cell::type_of(*value) - TYPE_WORD];
  uint32_t symbol = symbol_of(*value);  // the value may lie in a block that moves while we append
  int32_t length = cell::append_text(out, d.before);
  length += append_name(out, symbol);
  length += cell::append_text(out, d.after);
  return part - length;
}

int32_t differ(bool same) { return same ? 0 : 1; }

int32_t compare(Cell* a, Cell* b, int32_t op) {
  uint8_t ta = cell::type_of(*a);
  uint8_t tb = cell::type_of(*b);
  if (!types::all_word(tb) || (tb == TYPE_ISSUE && ta != TYPE_ISSUE)) return action::kNotComparable;
  bool word_and_lit = (ta == TYPE_WORD && tb == TYPE_LIT_WORD) ||
                      (ta == TYPE_LIT_WORD && tb == TYPE_WORD);
  bool same_canonical = symbol::same_canonical(symbol_of(*a), symbol_of(*b));
  switch (op) {
    case action::SAME:
      return differ(symbol_of(*a) == symbol_of(*b) && context_of(*a) == context_of(*b) &&
                    ta == tb);
    case action::STRICT_EQUAL: return differ(ta == tb && symbol_of(*a) == symbol_of(*b));
    case action::WORD_LIT_EQUAL:
      return differ(word_and_lit ? symbol_of(*a) == symbol_of(*b)
                                 : ta == tb && symbol_of(*a) == symbol_of(*b));
    case action::WORD_LIT_STRICT:
      return differ(word_and_lit ? same_canonical : ta == tb && same_canonical);
    case action::EQUAL: case action::NOT_EQUAL: case action::FIND_EQUAL:
      return differ(same_canonical);
    default: {
      uint32_t second_symbol = symbol_of(*b);
      Cell first = symbol::name_string(symbol_of(*a));
      Cell second = symbol::name_string(second_symbol);
      return string::compare_strings(first, second, op, false);
    }
  }
}

int32_t compare_issue(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_ISSUE) return action::kNotComparable;
  return compare(a, b, op);
}

void index_q() {
  Cell* value = stack::arg(0);
  if (index_of(*value) == context::kUnresolved) *value = constants::none;
  else *value = integer::make(int32_t(index_of(*value) + 1));
}

[[noreturn]] void fire_bad_to_arg(uint8_t type, const Cell& spec) {
  Cell target{TYPE_DATATYPE, type, 0, 0};
  Cell argument = spec;
  rt::fire_error("script", "bad-to-arg", &target, &argument);
}

// The global word a text names: the text's first value, which must be of the word family.
Cell word_from_text(const Cell& text) {
  const Cell value = cell::scan_first_value(text);
  if (!types::all_word(cell::type_of(value))) rt::fire_error("script", "invalid-chars");
  return context::add_global_word(symbol_of(value), true, true);
}

Cell word_from_char(uint32_t code_point) {
  Cell* text = stack::push_copy(constants::none);
  string::init_empty(text, 1);
  string::append_char(cell::series_node(*text), code_point);
  Cell word = word_from_text(*text);
  stack::pop_cells(1);
  return word;
}

// A refinement's or issue's name becomes a word only when it reads back as one plain, set, lit
// or get word; the word is bound in the global context.
Cell word_from_name(const Cell& spec, uint8_t type) {
  const Cell value = cell::scan_only_value(symbol::name_string(symbol_of(spec)));
  uint8_t scanned = cell::type_of(value);
  if (scanned < TYPE_WORD || scanned > TYPE_GET_WORD) fire_bad_to_arg(type, spec);
  return context::add_global_word(symbol_of(value), true, true);
}

// make and to of the word types: the result is written over the spec, its whole header the
// target type.
Cell* make(Cell*, Cell* spec, uint8_t type) {
  Cell result{};
  switch (cell::type_of(*spec)) {
    case TYPE_DATATYPE: result = from_c_string(datatype::name_of(cell::datatype_id(*spec))); break;
    case TYPE_LOGIC:
      result = context::intern_global_word(logic::value_of(*spec) ? runtime_words::symbols.true_
                                                    : runtime_words::symbols.false_);
      break;
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
      result = *spec;
      break;
    case TYPE_STRING: result = word_from_text(*spec); break;
    case TYPE_CHAR: result = word_from_char(char_::code_point_of(*spec)); break;
    case TYPE_REFINEMENT: case TYPE_ISSUE: result = word_from_name(*spec, type); break;
    default: fire_bad_to_arg(type, *spec);
  }
  result.header = type;
  *spec = result;
  return spec;
}

// make and to of issue!: text and characters are interned as they are; an issue is never bound.
// Empty text makes no issue: a lone # does not load.
Cell* make_issue_value(Cell* proto, Cell* spec, uint8_t type) {
  uint8_t spec_type = cell::type_of(*spec);
  if (spec_type == TYPE_STRING) {
    if (string::rest_length(*spec) == 0) rt::fire_error("script", "invalid-chars");
    *spec = issue_of(symbol::intern_string(*spec, -1));
  } else if (spec_type == TYPE_CHAR) {
    uint8_t bytes[4];
    uint32_t length = unicode::encode_utf8_char(char_::code_point_of(*spec), bytes);
    *spec = issue_of(symbol::intern_bytes(bytes, length));
  } else if (types::all_word(spec_type)) {
    *spec = issue_of(symbol_of(*spec));
  } else {
    make(proto, spec, type);
    *spec = issue_of(symbol_of(*spec));
  }
  return spec;
}

}  // namespace

void register_datatypes() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(TYPE_WORD,
                          {act<MAKE>(make), act<TO>(make), act<FORM>(form), act<MOLD>(mold),
                           act<COMPARE>(compare), act<INDEX_Q>(index_q)});
  // The children differ from word! only in their mold decoration (kDecorations).
  for (uint8_t child : {TYPE_LIT_WORD, TYPE_SET_WORD, TYPE_GET_WORD, TYPE_REFINEMENT}) {
    datatype::register_type(child,
                            {inherit<MAKE>(), inherit<TO>(), inherit<FORM>(), inherit<MOLD>(),
                             inherit<COMPARE>(), inherit<INDEX_Q>()});
  }
  datatype::register_type(TYPE_ISSUE,
                          {act<MAKE>(make_issue_value), act<TO>(make_issue_value),
                           inherit<FORM>(), inherit<MOLD>(), act<COMPARE>(compare_issue),
                           inherit<INDEX_Q>()});
  // A word keeps the context it is bound to alive, a self bound with no index included.
  for (uint8_t type = TYPE_WORD; type <= TYPE_ISSUE; type++) {
    gc::set_type_marker(type, [](const Cell& word) { gc::mark_block(context_of(word)); });
  }
}

// --- Making words --------------------------------------------------------------------------------

bool is_word_named(const Cell& value, uint32_t symbol) {
  return cell::type_of(value) == TYPE_WORD && symbol::same_canonical(symbol_of(value), symbol);
}

Cell from_c_string(const char* name) {
  return context::add_global_word(symbol::intern_c_string(name), true, true);
}

Cell* init_global(uint32_t symbol, Cell* cell) {
  Cell word = global_word(symbol);
  word.header |= cell->header & ~cell::kTypeMask;
  *cell = word;
  return cell;
}

Cell* append_global_to_block(uint32_t symbol, const Cell& block) {
  uint32_t series = cell::series_node(block);
  Cell word = global_word(symbol);
  Cell* c = cell::buffer_append_new_cell(series);
  *c = word;
  return c;
}

Cell* append_name_to_block(const char* name, const Cell& block) {
  Cell target = block;  // interning may move the buffer the caller's cell lies in
  return append_global_to_block(symbol::intern_c_string(name), target);
}

Cell* push_global(uint32_t symbol) { return stack::push_copy(global_word(symbol)); }

Cell* init_issue_from_c_string(Cell* cell, const char* name) {
  *cell = issue_of(symbol::intern_c_string(name));
  return cell;
}

Cell* make_issue(const char* name) {
  return stack::push_copy(issue_of(symbol::intern_c_string(name)));
}

// --- Pushing and reading -------------------------------------------------------------------------

Cell* push(const Cell& value) { return stack::push_copy(value); }

Cell* push_value(const Cell& word) { return stack::push_copy(*context::word_value_cell(word)); }

Cell* push_value_checked(const Cell& word) {
  const Cell* value = context::word_value_cell(word);
  if (cell::type_of(*value) == TYPE_UNSET) fire_word_error("no-value", word);
  return stack::push_copy(*value);
}

Cell* context_word_at(uint32_t context, uint32_t index) { return context::word_at(context, index); }

Cell* push_context_word(uint32_t context, uint32_t index) {
  return stack::push_copy(*context::word_at(context, index));
}

Cell lookup_in_context(uint32_t context, uint32_t symbol) {
  // Outside the global context a word's index is its place in the word block.
  if (context != context::global) {
    int32_t index = context::find_symbol(context, symbol, false);
    if (index >= 0) return *context::word_at(context, uint32_t(index));
  }
  return context::intern_global_word(symbol);
}

Cell* heap_context_value_at(uint32_t context, uint32_t index) {
  return context::values_of(context) + index;
}

Cell* push_context_value_checked(uint32_t context, uint32_t index) {
  return stack::push_copy(*cell::get_context_value_cell(context, index));
}

Cell* push_name_string(const Cell& word) {
  return stack::push_copy(symbol::name_string(symbol_of(word)));
}

Cell* symbol_cell(const Cell& word) { return symbol::get_cell(symbol_of(word)); }

namespace {
Cell* push_retyped(const Cell& value, uint8_t type) {
  return &cell::set_type(*stack::push_copy(value), type);
}
}  // namespace

Cell* push_as_get_word(const Cell& value) { return push_retyped(value, TYPE_GET_WORD); }
Cell* push_as_refinement(const Cell& value) { return push_retyped(value, TYPE_REFINEMENT); }
Cell* push_as_issue(const Cell& value) { return push_retyped(value, TYPE_ISSUE); }

Cell* push_context_value_as_get_word(uint32_t context, uint32_t index) {
  return push_retyped(*context::word_at(context, index), TYPE_GET_WORD);
}

Cell* push_context_value_as_refinement(uint32_t context, uint32_t index) {
  Cell* c = stack::push_copy(*context::word_at(context, index));
  c->header = TYPE_REFINEMENT;
  return c;
}

// --- Writing -------------------------------------------------------------------------------------

Cell* set_from_stack(Cell& word) {
  const Cell* value = stack::arg(1);
  if (cell::type_of(*value) == TYPE_UNSET) fire_word_error("need-value", word);
  object::write_word(word, *value);
  *stack::arg(0) = *stack::arg(1);
  return stack::arg(0);
}

Cell* store_top_in_context(uint32_t context, uint32_t index) {
  return context::set_value_at(context, index, *stack::top_cell());
}

Cell* push_old_and_store_top(uint32_t context, uint32_t index) {
  Cell fresh = *stack::top_cell();
  stack::push_copy(*heap_context_value_at(context, index));
  return context::set_value_at(context, index, fresh);
}

}  // namespace word

namespace refinement {

Cell* from_c_string(const char* name, Cell* cell) {
  uint32_t symbol = symbol::intern_c_string(name);
  cell::set_type(*cell, TYPE_REFINEMENT);
  word::set_context(*cell, 0);
  word::set_symbol(*cell, symbol);
  return cell;
}

}  // namespace refinement
