// error!: making errors (from a code, a block of two words or a text), the report text that form
// writes, mold and compare; the catalog contexts built at start-up from error_catalog.cpp; and
// the errors that rt::fire_error raises (its raiser is the interpreter's, interpreter/frames.h).
// Every error is a context renewed from one prototype of the ten field words. Errors are made on
// the data stack; cells handed in are copied into guarded locals before anything allocates
// (runtime/gc.h).
#include "datatypes/error.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/upcall.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace error {

namespace {

constexpr uint32_t kFirstId = 2;  // a category's words: code, type, then its ids
constexpr uint32_t kSyntax = 2, kInternal = 9;
constexpr uint32_t kClassId = 0;  // objects get class ids with the object datatype
constexpr int32_t kArgLimit = 80;
constexpr int32_t kNearLimit = 40;
constexpr int32_t kNoLimit = -1;

constexpr const char* kFieldNames[kFieldCount] = {"code",  "type", "id",    "arg1",  "arg2",
                                                  "arg3",  "near", "where", "stack", "files"};

uint32_t catalog_node = 0;
uint32_t category_nodes[kCategoryCount] = {};
uint32_t prototype = 0;  // a context of the ten field words, which every error renews
// The raiser's lookup of an id's number by its name, per category.
std::unordered_map<std::string_view, uint32_t> id_numbers[kCategoryCount];

// Marks the texts among the cells, and in the blocks among them.
void mark_texts(uint32_t block) {
  alloc::Series* s = alloc::series_of(block);
  auto* cells = reinterpret_cast<const Cell*>(s->head_ptr());
  for (uint32_t i = 0; i < s->length(); i++) {
    if (cell::type_of(cells[i]) == TYPE_STRING) gc::mark_node(cell::series_node(cells[i]));
    if (cell::type_of(cells[i]) == TYPE_BLOCK) mark_texts(cell::series_node(cells[i]));
  }
}

// The catalog must outlive every collection from start-up on, whichever datatypes have their
// collector entries by then: its titles and message texts are marked here directly.
void mark_catalog() {
  gc::mark_block(catalog_node);
  gc::mark_block(prototype);
  for (uint32_t node : category_nodes) {
    if (!node) continue;
    gc::mark_block(node);
    mark_texts(context::values_position(node));
  }
}

// An error is marked as its context record (the context and the error itself) and its change
// handler record, whether or not object! has its marker yet.
void mark_error(const Cell& value) {
  gc::mark_block(context_of(value));
  gc::mark_block(handlers_of(value));
}

bool is_word(const Cell& c) { return cell::type_of(c) == TYPE_WORD; }

Cell unbound_word(std::string_view name, uint8_t type) {
  uint32_t symbol = symbol::intern_bytes(reinterpret_cast<const uint8_t*>(name.data()),
                                         uint32_t(name.size()));
  return Cell{type, 0, symbol, context::kUnresolved};
}

// The word of field #index, as the invalid-spec-field errors name it.
Cell field_word(uint32_t index) { return *context::word_at(prototype, index); }

// --- Reading templates ---------------------------------------------------------------------------

// A stand-in for the lexer, which will replace it: it reads the catalog's templates, which hold
// only quoted texts (without escapes) and words or get-words, separated by spaces.
struct Token {
  bool text;
  bool get_word;
  std::string_view chars;
};

std::vector<Token> scan_template(std::string_view source) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < source.size()) {
    if (source[i] == ' ') {
      i++;
    } else if (source[i] == '"') {
      size_t close = std::min(source.find('"', i + 1), source.size());
      tokens.push_back({true, false, source.substr(i + 1, close - i - 1)});
      i = close + 1;
    } else {
      size_t end = std::min(source.find(' ', i), source.size());
      bool get_word = source[i] == ':';
      tokens.push_back({false, get_word, source.substr(i + get_word, end - i - get_word)});
      i = end;
    }
  }
  return tokens;
}

void load_text(std::string_view text, Cell* out) {
  string::load_encoded(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out,
                       string::kUtf8);
}

// The template's value into *out, a cell that stays put: one text gives a string!, one word a
// word!, anything longer a block! of its texts and (get-)words. May allocate.
void read_template(const char* source, Cell* out) {
  std::vector<Token> tokens = scan_template(source);
  if (tokens.size() == 1 && tokens[0].text) return load_text(tokens[0].chars, out);
  if (tokens.size() == 1) {
    *out = unbound_word(tokens[0].chars, TYPE_WORD);
    return;
  }
  *out = constants::none;
  block::init_empty(out, int32_t(tokens.size()));
  for (const Token& t : tokens) {
    if (t.text) {
      string::load_encoded_to_block(reinterpret_cast<const uint8_t*>(t.chars.data()),
                                    t.chars.size(), *out, string::kUtf8);
    } else {
      Cell word = unbound_word(t.chars, t.get_word ? TYPE_GET_WORD : TYPE_WORD);
      block::append_cell(*out, word);
    }
  }
}

// --- The catalog -------------------------------------------------------------------------------

void build_category(uint32_t number) {
  const CatalogCategory& content = catalog_content[number];
  uint32_t node = context::create(kFirstId + content.id_count, false, true, 0, context::kObject);
  category_nodes[number] = node;
  Cell object{TYPE_OBJECT, node, kClassId, 0};
  *context::owner_cell(node) = object;

  Cell* value = stack::push_new();
  *value = integer::make(int32_t(100 * number));
  context::put_word_value(node, unbound_word("code", TYPE_WORD), *value);
  load_text(content.title, value);
  context::put_word_value(node, unbound_word("type", TYPE_WORD), *value);
  for (uint32_t i = 0; i < content.id_count; i++) {
    read_template(content.ids[i].message, value);
    context::put_word_value(node, unbound_word(content.ids[i].name, TYPE_WORD), *value);
    id_numbers[number].emplace(content.ids[i].name, i);
  }
  stack::pop_cells(1);
  context::put_word_value(catalog_node, unbound_word(content.name, TYPE_WORD), object);
}

void build_catalog() {
  catalog_node = context::create(kCategoryCount, false, true, 0, context::kObject);
  *context::owner_cell(catalog_node) = Cell{TYPE_OBJECT, catalog_node, kClassId, 0};
  for (uint32_t c = 0; c < kCategoryCount; c++) build_category(c);
  prototype = context::create(kFieldCount, false, true, 0, context::kObject);
  for (const char* name : kFieldNames) context::add_word(prototype, unbound_word(name, TYPE_WORD));
}

// Number of the category a word names, or -1.
int32_t category_number(const Cell& word) {
  if (!is_word(word)) return -1;
  return context::find_symbol(catalog_node, word::symbol_of(word), true);
}

// Number of the id a word names within the category (code and type are no ids), or -1.
int32_t id_number(uint32_t category, const Cell& word) {
  if (!is_word(word)) return -1;
  int32_t index = context::find_symbol(category_nodes[category], word::symbol_of(word), true);
  return index < int32_t(kFirstId) ? -1 : index - int32_t(kFirstId);
}

uint32_t id_count(uint32_t category) {
  return context::word_count(category_nodes[category]) - kFirstId;
}

// Value #index of a context; valid until the next allocation.
Cell* value_at(uint32_t node, uint32_t index) { return context::values_of(node) + index; }

// --- Making errors -------------------------------------------------------------------------------

// A new error on the data stack with the code, type and id given and every other field none!.
Cell* new_error(int32_t code, const Cell& type, const Cell& id) {
  Cell t = type, i = id;
  cell::clear_new_line_flag(t.header);
  cell::clear_new_line_flag(i.header);
  gc::Guard guard_type(t), guard_id(i);
  Cell* e = stack::push_new();
  *e = Cell{TYPE_ERROR, prototype, kClassId, 0};
  context::renew_with_same_words(*e, context::kObject);
  Cell* fields = context::values_of(context_of(*e));
  std::fill(fields, fields + kFieldCount, constants::none);
  fields[kCode] = integer::make(code);
  fields[kType] = t;
  fields[kId] = i;
  *context::owner_cell(context_of(*e)) = *e;
  return e;
}

// make error! [category id]: the id is null when the block has no second value.
Cell* make_from_words(const Cell& category, const Cell* id) {
  int32_t c = category_number(category);
  if (c < 0) {
    Cell word = field_word(kType);
    rt::fire_error("script", "invalid-spec-field", &word);
  }
  if (id && !is_word(*id)) rt::fire_error("script", "invalid-arg", id);
  int32_t i = id ? id_number(uint32_t(c), *id) : -1;
  if (i < 0) {
    Cell word = field_word(kId);
    rt::fire_error("script", "invalid-spec-field", &word);
  }
  return new_error(100 * c + i, category, *id);
}

Cell* make_from_code(const Cell& spec) {
  int32_t code = integer::get_value(spec);
  uint32_t c = uint32_t(code) / 100, i = uint32_t(code) % 100;
  if (code < 0 || c >= kCategoryCount || i >= id_count(c)) {
    rt::fire_error("script", "out-of-range", &spec);
  }
  Cell type = *context::word_at(catalog_node, c);
  Cell id = *context::word_at(category_nodes[c], kFirstId + i);
  return new_error(code, type, id);
}

// make error! [type: 'math id: 'zero-divide ...]: the block runs as the body of the new error,
// whose ten fields its set-words reach (others keep their own binding); type and id must then
// name a category and one of its ids, which give the code.
Cell* make_from_body(const Cell& spec) {
  const Cell body = spec;
  Cell* e = new_error(0, constants::none, constants::none);
  const uint32_t node = context_of(*e);
  *value_at(node, kCode) = constants::none;
  context::bind_block(body, node, true);
  upcall::interpreter.run_spec(body);
  stack::top = e + 1;  // the body's value is dropped
  for (uint32_t f = 0; f < kFieldCount; f++) cell::clear_new_line_flag(value_at(node, f)->header);
  const Cell type = *value_at(node, kType);
  int32_t c = category_number(type);
  if (c < 0) {
    Cell word = field_word(kType);
    rt::fire_error("script", "invalid-spec-field", &word);
  }
  int32_t i = id_number(uint32_t(c), *value_at(node, kId));
  if (i < 0) {
    Cell word = field_word(kId);
    rt::fire_error("script", "invalid-spec-field", &word);
  }
  *value_at(node, kCode) = integer::make(100 * c + i);
  return e;
}

Cell* make_from_block(const Cell& spec) {
  alloc::Series* s = alloc::series_of(cell::series_node(spec));
  auto* cells = reinterpret_cast<const Cell*>(s->head_ptr());
  uint32_t length = s->length();
  if (cell::series_index(spec) >= length) rt::fire_error("internal", "invalid-error");
  Cell first = cells[cell::series_index(spec)];
  switch (cell::type_of(first)) {
    case TYPE_WORD: {
      if (cell::series_index(spec) + 1 >= length) return make_from_words(first, nullptr);
      Cell second = cells[cell::series_index(spec) + 1];
      gc::Guard guard_first(first), guard_second(second);
      return make_from_words(first, &second);
    }
    case TYPE_SET_WORD:
      return make_from_body(spec);
    default:
      rt::fire_error("internal", "invalid-error");
  }
}

Cell* make(Cell*, Cell* spec, uint8_t) {
  switch (cell::type_of(*spec)) {
    case TYPE_INTEGER:
      return make_from_code(*spec);
    case TYPE_BLOCK:
      return make_from_block(*spec);
    case TYPE_STRING:
      return create_from_names("user", "message", spec, nullptr, nullptr);
    default: {
      Cell type = cell::make_datatype(TYPE_ERROR);
      rt::fire_error("script", "bad-make-arg", &type, spec);
    }
  }
}

// --- Writing values ------------------------------------------------------------------------------

int32_t append(Cell* out, const char* text, int32_t part) {
  return part - cell::append_text(out, text);
}

bool is_text(const Cell& value) { return cell::type_of(value) == TYPE_STRING; }

// Appends a text as it is; returns part less its length.
int32_t append_string(Cell* out, const Cell& text, int32_t part) {
  Cell t = text;
  int32_t length = int32_t(string::rest_length(t));
  string::concatenate(*out, t, -1, 0, true, string::kAppend);
  return part - length;
}

enum class Style { kForm, kMoldFlat, kMoldFlatOnly };

// Writes the value formed or molded (mold: no indentation) into out.
int32_t write_value(Cell* out, Cell* value, Style style, Cell* arg, int32_t part) {
  uint8_t type = cell::type_of(*value);
  if (style == Style::kForm) {
    return datatype::implemented<action::FORM>(type)(value, out, arg, part);
  }
  auto mold = datatype::implemented<action::MOLD>(type);
  return mold(value, out, {.only = style == Style::kMoldFlatOnly, .flat = true}, arg, part, 0);
}

// Appends the value written in the style, at most limit characters of it (kNoLimit: all);
// returns part less what was appended. May allocate.
int32_t append_value(Cell* out, const Cell& value, Style style, int32_t limit, int32_t part) {
  Cell v = value;
  gc::Guard guard(v);
  if (limit == kNoLimit) return write_value(out, &v, style, nullptr, part);
  Cell* text = stack::push_new();
  *text = constants::none;
  string::init_empty(text, uint32_t(limit));
  Cell limit_arg = integer::make(limit);  // a part argument, so that long values stop early
  write_value(text, &v, style, &limit_arg, limit);
  int32_t length = std::min(int32_t(string::rest_length(*text)), limit);
  string::concatenate(*out, *text, limit, 0, true, string::kAppend);
  stack::pop_cells(1);
  return part - length;
}

// --- The report ----------------------------------------------------------------------------------

struct Message {
  uint32_t category;
  Cell text;  // a string! or a block!, none! when there is no message
};

// The category and template of the error, a template word replaced by the error's field of
// that name. On failure *offending is the value that names nothing in the catalog, or the
// template that is neither text nor block.
bool find_message(const Cell& error, Message* message, Cell* offending) {
  const Cell* fields = context::values_of(context_of(error));
  int32_t c = category_number(fields[kType]);
  if (c < 0 || cell::type_of(*value_at(catalog_node, uint32_t(c))) != TYPE_OBJECT) {
    *offending = fields[kType];
    return false;
  }
  int32_t i = id_number(uint32_t(c), fields[kId]);
  if (i < 0) {
    *offending = fields[kId];
    return false;
  }
  Cell text = *value_at(category_nodes[c], kFirstId + uint32_t(i));
  uint8_t type = cell::type_of(text);
  if (type == TYPE_WORD || type == TYPE_GET_WORD) {
    int32_t f = context::find_symbol(context_of(error), word::symbol_of(text), true);
    if (f >= 0) text = fields[f];
  }
  if (!is_text(text) && cell::type_of(text) != TYPE_BLOCK) {
    *offending = text;
    return false;
  }
  *message = Message{uint32_t(c), text};
  return true;
}

// The error becomes internal/invalid-error naming the offending value, as the report shows it.
void make_invalid(const Cell& error, const Cell& offending) {
  Cell* fields = context::values_of(context_of(error));
  fields[kArg1] = offending;
  fields[kType] = *context::word_at(catalog_node, kInternal);
  fields[kId] = *context::word_at(category_nodes[kInternal],
                                  kFirstId + id_numbers[kInternal].at("invalid-error"));
}

Message resolve(const Cell& error) {
  Message message;
  Cell offending;
  if (find_message(error, &message, &offending)) return message;
  make_invalid(error, offending);
  if (find_message(error, &message, &offending)) return message;
  return Message{kInternal, constants::none};  // the catalog itself was changed: no message
}

int32_t append_message(Cell* out, const Cell& error, const Message& message, int32_t part) {
  if (is_text(message.text)) return append_string(out, message.text, part);
  if (cell::type_of(message.text) != TYPE_BLOCK) return part;
  Style style = message.category == kSyntax ? Style::kForm : Style::kMoldFlat;
  uint32_t node = cell::series_node(message.text);
  for (uint32_t i = cell::series_index(message.text); i < cell::cell_count(node); i++) {
    if (i > cell::series_index(message.text)) part = append(out, " ", part);
    Cell element = cell::cells_of(node)[i];
    if (is_text(element)) {
      part = append_string(out, element, part);
      continue;
    }
    uint8_t type = cell::type_of(element);
    if (type == TYPE_WORD || type == TYPE_GET_WORD) {
      int32_t f = context::find_symbol(context_of(error), word::symbol_of(element), true);
      if (f >= 0) element = *value_at(context_of(error), uint32_t(f));
    }
    part = append_value(out, element, style, kArgLimit, part);
  }
  return part;
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  Cell error = *value;
  gc::Guard guard(error);
  Message message = resolve(error);
  gc::Guard guard_message(message.text);
  Cell title = *value_at(category_nodes[message.category], 1);

  part = append(out, "*** ", part);
  part = is_text(title) ? append_string(out, title, part)
                        : append_value(out, title, Style::kForm, kNoLimit, part);
  part = append(out, ": ", part);
  part = append_message(out, error, message, part);

  part = append(out, "\n*** Where: ", part);
  Cell where = *field(error, kWhere);
  uint8_t where_type = cell::type_of(where);
  if (where_type >= TYPE_WORD && where_type <= TYPE_REFINEMENT) {
    part = append_value(out, where, Style::kForm, kNoLimit, part);
  } else if (is_text(where)) {
    part = append_string(out, where, part);
  } else {
    part = append(out, "???", part);
  }

  part = append(out, "\n*** Near : ", part);
  part = append_value(out, *field(error, kNear), Style::kMoldFlatOnly, kNearLimit, part);
  Cell files = *field(error, kFiles);
  if (cell::type_of(files) == TYPE_BLOCK) {
    part = append(out, "\n*** Files: ", part);
    part = append_value(out, files, Style::kMoldFlatOnly, kNearLimit, part);
  }
  return part;
}

// --- mold and compare ----------------------------------------------------------------------------

// Takes a container off the cycle stack when its walk ends, also when an error ends it.
struct CycleExit {
  ~CycleExit() { cycles::pop(); }
};

// The fields as object! molds them: one per line at the indentation (flat: one line).
int32_t mold_fields(const Cell& error, Cell* out, action::MoldOptions options, Cell* arg,
                    int32_t part, int32_t indent) {
  uint32_t node = context_of(error);
  uint32_t count = context::word_count(node);
  bool indenting = !options.flat && !options.only;
  if (indenting) part = append(out, "\n", part);
  cycles::push(node);
  CycleExit exit;
  for (uint32_t i = 0; i < count && part > 0; i++) {
    if (indenting) part = cell::mold_indent(out, indent, part);
    Cell word = *context::word_at(node, i);
    auto mold_word = datatype::implemented<action::MOLD>(TYPE_WORD);
    part = mold_word(&word, out, options.nested(), arg, part, 0);
    part = append(out, ": ", part);
    Cell value = *value_at(node, i);
    if (cell::type_of(value) == TYPE_WORD) part = append(out, "'", part);
    auto mold_value = datatype::implemented<action::MOLD>(cell::type_of(value));
    part = mold_value(&value, out, options.nested(), arg, part, indent);
    if (indenting || i + 1 < count) part = append(out, options.flat ? " " : "\n", part);
  }
  return part;
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent) {
  if (cycles::detect_and_emit(*value, out, &part, true)) return part;
  Cell error = *value;
  gc::Guard guard(error);
  if (!options.only) part = append(out, "make error! [", part);
  part = mold_fields(error, out, options, arg, part, indent + 1);
  if (!options.flat && indent >= 1) part = cell::mold_indent(out, indent, part);
  if (!options.only) part = append(out, "]", part);
  return part;
}

// The fields of two errors in order, as objects compare: words by symbol, then values.
int32_t compare_fields(uint32_t a, uint32_t b, int32_t op) {
  cycles::push(a);
  CycleExit exit_a;
  cycles::push(b);
  CycleExit exit_b;
  for (uint32_t i = 0; i < context::word_count(a); i++) {
    uint32_t symbol_a = symbol::resolve_alias(word::symbol_of(*context::word_at(a, i)));
    uint32_t symbol_b = symbol::resolve_alias(word::symbol_of(*context::word_at(b, i)));
    if (symbol_a != symbol_b) return symbol_a < symbol_b ? -1 : 1;
    Cell value_a = *value_at(a, i), value_b = *value_at(b, i);
    uint8_t type_a = cell::type_of(value_a), type_b = cell::type_of(value_b);
    int32_t result;
    if (type_a == type_b || (types::all_word(type_a) && types::all_word(type_b)) ||
        (types::number(type_a) && types::number(type_b))) {
      auto fn = datatype::lookup<action::COMPARE>(type_a);
      result = fn ? fn(&value_a, &value_b, op) : action::kNotComparable;
    } else {
      result = type_a < type_b ? -1 : 1;
    }
    if (result != 0) return result;
  }
  return 0;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_ERROR) return action::kNotComparable;
  if (context_of(*a) == context_of(*b)) return 0;
  if (op == action::SAME) return -1;
  if (cycles::find(context_of(*a))) return cycles::find(context_of(*b)) ? 0 : -1;
  uint32_t count_a = context::word_count(context_of(*a));
  uint32_t count_b = context::word_count(context_of(*b));
  if (count_a != count_b) return count_a > count_b ? 1 : -1;
  return compare_fields(context_of(*a), context_of(*b), op);
}

// find asks whether the error has a field: its word, bound to the error so that it reads the
// field, or none. Keys are words as for select.
Cell* find(Cell* e, Cell* key, const action::FindOptions&) {
  if (!types::all_word(cell::type_of(*key))) {
    Cell datatype = cell::make_datatype(cell::type_of(*key));
    rt::fire_error("script", "invalid-type", &datatype);
  }
  uint32_t node = context_of(*e);
  int32_t index = context::find_symbol(node, word::symbol_of(*key), true);
  if (index < 0) {
    *e = constants::none;
    return e;
  }
  Cell found = *context::word_at(node, uint32_t(index));
  cell::set_type(found, TYPE_WORD);
  word::bind_to(found, node, uint32_t(index));
  *e = found;
  return e;
}

}  // namespace

// --- Start-up ------------------------------------------------------------------------------------

void register_datatype() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(TYPE_ERROR,
                          {act<MAKE>(make), inherit<REFLECT>(), act<FORM>(form), act<MOLD>(mold),
                           inherit<EVAL_PATH>(), act<COMPARE>(compare), inherit<COPY>(),
                           act<FIND>(find), inherit<SELECT>()});
  gc::set_type_marker(TYPE_ERROR, mark_error);
}

void init() {
  gc::add_marker(mark_catalog);
  build_catalog();
}

uint32_t catalog() { return catalog_node; }
uint32_t category(uint32_t c) { return category_nodes[c]; }

// --- Errors --------------------------------------------------------------------------------------

Cell* create(const Cell& category, const Cell& id, const Cell* arg1, const Cell* arg2,
             const Cell* arg3) {
  Cell words[2] = {category, id};
  Cell args[3] = {arg1 ? *arg1 : constants::none, arg2 ? *arg2 : constants::none,
                  arg3 ? *arg3 : constants::none};
  gc::Guard guard_category(words[0]), guard_id(words[1]);
  gc::Guard guard_1(args[0]), guard_2(args[1]), guard_3(args[2]);
  Cell* e = make_from_words(words[0], &words[1]);
  std::copy(args, args + 3, context::values_of(context_of(*e)) + kArg1);
  // The expression being evaluated when the error arose.
  Cell near = upcall::interpreter.eval_position();
  if (cell::type_of(near) != TYPE_UNSET) context::values_of(context_of(*e))[kNear] = near;
  return e;
}

Cell* create_from_names(const char* category, const char* id, const Cell* arg1,
                        const Cell* arg2, const Cell* arg3) {
  for (uint32_t c = 0; c < kCategoryCount; c++) {
    if (std::strcmp(catalog_content[c].name, category) != 0) continue;
    auto found = id_numbers[c].find(id);
    if (found == id_numbers[c].end()) break;
    Cell type = *context::word_at(catalog_node, c);
    Cell id_word = *context::word_at(category_nodes[c], kFirstId + found->second);
    return create(type, id_word, arg1, arg2, arg3);
  }
  Cell name = unbound_word(id, TYPE_WORD);
  Cell type = *context::word_at(catalog_node, kInternal);
  Cell id_word = *context::word_at(category_nodes[kInternal],
                                   kFirstId + id_numbers[kInternal].at("invalid-error"));
  return create(type, id_word, &name, nullptr, nullptr);
}

Cell* field(const Cell& error, uint32_t index) { return value_at(context_of(error), index); }

void set_where_if_none(const Cell& error, const Cell& value) {
  Cell* where = field(error, kWhere);
  if (cell::type_of(*where) == TYPE_NONE) *where = value;
}

uint32_t type_symbol(const Cell& error) {
  const Cell* type = field(error, kType);
  return is_word(*type) ? word::symbol_of(*type) : 0;
}

uint32_t id_symbol(const Cell& error) {
  const Cell* id = field(error, kId);
  return is_word(*id) ? word::symbol_of(*id) : 0;
}

}  // namespace error
