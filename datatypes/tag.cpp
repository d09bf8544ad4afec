// tag!, email! and ref!: their form and mold (the text formed as string!'s, with < > around a tag
// and @ before a ref), the email fields user and host by path, and their registration, which
// takes everything else from string!. Relies on the rooting rule (runtime/gc.h): new text sits
// on the data stack while it is built, and the email's cell is a frame cell that stays put.
#include "datatypes/tag.h"

#include <climits>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/throw.h"

namespace tag {

namespace {

int32_t form_as_string(Cell* value, Cell* out, int32_t part) {
  return datatype::lookup<action::FORM>(TYPE_STRING)(value, out, nullptr, part);
}

int32_t tag_form(Cell* value, Cell* out, Cell*, int32_t part) {
  Cell text = *value;  // read before appending: the output may move the value's block
  part -= cell::append_text(out, "<");
  part = form_as_string(&text, out, part);
  return part - cell::append_text(out, ">");
}

int32_t tag_mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  return tag_form(value, out, nullptr, part);
}

int32_t email_mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  return form_as_string(value, out, part);
}

int32_t ref_mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  Cell text = *value;
  part -= cell::append_text(out, "@");
  return form_as_string(&text, out, part);
}

// --- email! fields -----------------------------------------------------------------------------

enum Field { USER, HOST };

// The field's stretch: units from the head, and its length. The user is the text before the
// first @ (all of it without one), the host the text after it (none without one: start -1).
struct Stretch {
  int32_t start, length;
};
Stretch stretch_of(Cell email, Field field) {
  auto rest = static_cast<int32_t>(string::rest_length(email));
  int32_t at = string::find_char(email, '@');
  if (field == USER) return {0, at < 0 ? rest : at};
  if (at < 0) return {-1, 0};
  return {at + 1, rest - at - 1};
}

// A new string! of the field's text, or none.
Cell get_field(const Cell& email, Field field) {
  Stretch s = stretch_of(email, field);
  if (s.start < 0) return constants::none;
  Cell source = email;
  cell::set_series_index(source, cell::series_index(source) + static_cast<uint32_t>(s.start));
  Cell* out = stack::push_copy(constants::none);
  string::init_empty(out, static_cast<uint32_t>(s.length));
  string::concatenate(*out, source, s.length, 0, true, string::kAppend);
  const Cell result = *out;
  stack::pop_cells(1);
  return result;
}

// Replaces the field's text in place with the formed value. An email without @ gets one, and
// the host after it.
void set_field(const Cell& email, Field field, Cell* value) {
  Cell* text = stack::push_copy(constants::none);
  string::init_empty(text, 16);
  datatype::call_form(value, text, nullptr, INT_MAX);
  Stretch s = stretch_of(email, field);
  if (s.start < 0) {
    string::append_char(cell::series_node(email), '@');
    s = stretch_of(email, field);
  }
  string::remove_at(email, cell::series_index(email) + static_cast<uint32_t>(s.start),
                    static_cast<uint32_t>(s.length));
  string::concatenate(email, *text, -1, static_cast<uint32_t>(s.start), true, string::kInsert);
  stack::pop_cells(1);
}

Cell* email_eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  uint8_t type = cell::type_of(*element);
  if (type == TYPE_INTEGER) {
    int32_t index = integer::get_value(*element);
    if (step.value) {
      return datatype::lookup<action::POKE>(TYPE_STRING)(parent, index, step.value, element);
    }
    return datatype::lookup<action::PICK>(TYPE_STRING)(parent, index, element);
  }
  uint32_t symbol = type == TYPE_WORD ? symbol::resolve_alias(word::symbol_of(*element)) : 0;
  Field field;
  if (type == TYPE_WORD && symbol == symbol::resolve_alias(runtime_words::symbols.user)) {
    field = USER;
  } else if (type == TYPE_WORD && symbol == symbol::resolve_alias(runtime_words::symbols.host)) {
    field = HOST;
  } else {
    rt::fire_error("script", "invalid-path", step.path, element);
  }
  if (step.value) {
    set_field(*parent, field, step.value);
    return parent;
  }
  *parent = get_field(*parent, field);
  return parent;
}

}  // namespace

void register_datatypes() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(
      TYPE_TAG,
      {inherit<MAKE>(), inherit<REFLECT>(), inherit<TO>(), act<FORM>(tag_form),
       act<MOLD>(tag_mold), inherit<EVAL_PATH>(), inherit<COMPARE>(), inherit<APPEND>(),
       inherit<AT>(), inherit<BACK>(), inherit<CHANGE>(), inherit<CLEAR>(), inherit<COPY>(),
       inherit<FIND>(), inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(),
       inherit<INSERT>(), inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(), inherit<PICK>(),
       inherit<POKE>(), inherit<REMOVE>(), inherit<REVERSE>(), inherit<SELECT>(),
       inherit<SKIP>(), inherit<SWAP>(), inherit<TAIL>(), inherit<TAIL_Q>(), inherit<TAKE>(),
       inherit<MODIFY>()});
  datatype::register_type(
      TYPE_EMAIL,
      {inherit<MAKE>(), inherit<REFLECT>(), inherit<TO>(), inherit<FORM>(),
       act<MOLD>(email_mold), act<EVAL_PATH>(email_eval_path), inherit<COMPARE>(),
       inherit<APPEND>(), inherit<AT>(), inherit<BACK>(), inherit<CHANGE>(), inherit<CLEAR>(),
       inherit<COPY>(), inherit<FIND>(), inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(),
       inherit<INSERT>(), inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(), inherit<PICK>(),
       inherit<POKE>(), inherit<REMOVE>(), inherit<REVERSE>(), inherit<SELECT>(),
       inherit<SKIP>(), inherit<SWAP>(), inherit<TAIL>(), inherit<TAIL_Q>(), inherit<TAKE>(),
       inherit<MODIFY>()});
  datatype::register_type(
      TYPE_REF,
      {inherit<MAKE>(), inherit<REFLECT>(), inherit<TO>(), inherit<FORM>(), act<MOLD>(ref_mold),
       inherit<COMPARE>(), inherit<AT>(), inherit<BACK>(), inherit<CHANGE>(), inherit<CLEAR>(),
       inherit<COPY>(), inherit<FIND>(), inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(),
       inherit<INSERT>(), inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(), inherit<PICK>(),
       inherit<POKE>(), inherit<REMOVE>(), inherit<REVERSE>(), inherit<SELECT>(),
       inherit<SKIP>(), inherit<SWAP>(), inherit<TAIL>(), inherit<TAIL_Q>(), inherit<TAKE>(),
       inherit<MODIFY>()});
}

}  // namespace tag
