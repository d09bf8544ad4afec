// The datatype registry: the per-type action table and the name table, and the calls that reach
// a value's implementation through it. Registration copies a type's entries into its row, taking
// the parent's entry wherever the type inherits, so a lookup is one table read.
#include "datatypes/datatype.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/print.h"

namespace datatype {

AnyFn table[TYPE_COUNT][action::kSlotCount];

namespace {

struct NameRecord {
  const char* name;
  uint32_t length_less_one;
  uint8_t parent;
  Cell word;  // header 0 until the words are made
};

NameRecord names[TYPE_COUNT];
uint8_t highest = 0;

[[noreturn]] void misordered(uint8_t id, int found) {
  rt::print_line({"*** Datatype Error: invalid actions table for type: ", int32_t(id)});
  rt::print_line({"*** Found: ", int32_t(found)});
  rt::print_line({"*** Expected: ascending slots 1 to ", int32_t(action::kSlotCount)});
  std::exit(1);
}

}  // namespace

void register_type(uint8_t id, uint8_t parent, const char* name,
                   std::initializer_list<Entry> entries) {
  if (id > highest) highest = id;
  names[id] = NameRecord{name, uint32_t(std::strlen(name) - 1), parent, Cell{}};
  AnyFn* row = table[id];
  for (int s = 0; s < action::kSlotCount; s++) row[s] = nullptr;
  int previous = 0;
  for (const Entry& e : entries) {
    if (e.slot <= previous || e.slot > action::kSlotCount) misordered(id, e.slot);
    previous = e.slot;
    row[e.slot - 1] = e.inherit ? (parent ? table[parent][e.slot - 1] : nullptr) : e.fn;
  }
}

void register_type(uint8_t id, std::initializer_list<Entry> entries) {
  register_type(id, types::parent(id), types::name(id), entries);
}

uint8_t highest_type() { return highest; }
uint8_t parent_of(uint8_t type) { return names[type].parent; }
const char* name_of(uint8_t type) { return names[type].name; }
uint32_t name_length_less_one(uint8_t type) { return names[type].length_less_one; }
const Cell* name_word(uint8_t type) { return &names[type].word; }

void make_name_words() {
  for (uint8_t type = 1; type <= highest; type++) {
    if (names[type].name) names[type].word = word::from_c_string(names[type].name);
  }
}

Cell* push(uint8_t type) {
  Cell* c = stack::push_new();
  *c = Cell{TYPE_DATATYPE, type, 0, 0};
  return c;
}

Cell* append_to_block(Cell* block, uint8_t type) {
  Cell* c = cell::append_new_cell(block);
  *c = Cell{TYPE_DATATYPE, type, 0, 0};
  return c;
}

namespace {

[[noreturn]] void fire_unsupported(uint8_t type) {
  // Only the type of the cell is reported, and for make and to that is the type made.
  cell::fire_expect_arg(Cell{type, 0, 0, 0}, 0);
}

}  // namespace

// --- Lookup and direct calls --------------------------------------------------------------------

using namespace action;

AnyFn resolve(uint8_t type, [[maybe_unused]] const Cell& value, action::Slot slot) {
  AnyFn fn = table[type][slot - 1];
  if (!fn) fire_unsupported(type);
  return fn;
}

bool compare(Cell* value1, Cell* value2, int32_t op) {
  int32_t r = resolve_for<COMPARE>(*value1)(value1, value2, op);
  bool ordering = op >= LESSER && op <= GREATER_OR_EQUAL;
  if (r == kNotComparable && ordering) {
    rt::fire_error("script", "invalid-compare", value1, value2);
  }
  switch (op) {
    case NOT_EQUAL: return r != 0;
    case LESSER: return r < 0;
    case LESSER_OR_EQUAL: return r <= 0;
    case GREATER: return r > 0;
    case GREATER_OR_EQUAL: return r >= 0;
    default: return r == 0;
  }
}

int32_t call_compare(Cell* value1, Cell* value2, int32_t op) {
  auto order = [](uint32_t a, uint32_t b) {
    return int32_t(a) < int32_t(b) ? -1 : int32_t(a) > int32_t(b) ? 1 : 0;
  };
  uint8_t type = cell::type_of(*value1);
  if (type == cell::type_of(*value2)) {
    switch (type) {
      case TYPE_LOGIC: return int32_t(logic::value_of(*value1)) - int32_t(logic::value_of(*value2));
      case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP:
        return order(native::index_of(*value1), native::index_of(*value2));
      case TYPE_FUNCTION: case TYPE_ROUTINE:
        return order(function::internals_of(*value1), function::internals_of(*value2));
      default: break;
    }
  }
  auto fn = lookup<COMPARE>(type);
  return fn ? fn(value1, value2, op) : kNotComparable;
}

int32_t call_form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  return resolve_for<FORM>(*value)(value, out, arg, part);
}

int32_t call_mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
                  int32_t indent) {
  return resolve_for<MOLD>(*value)(value, out, options, arg, part, indent);
}

void call_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
  auto fn = resolve_for<COPY>(*value);
  if (types && cell::type_of(*types) != TYPE_DATATYPE && cell::type_of(*types) != TYPE_TYPESET) {
    // The types argument is the sixth entry of copy's spec: value /part range /deep /types kind.
    constexpr int kTypesOrdinal = 5;
    cell::fire_expect_arg(*types, kTypesOrdinal);
  }
  fn(value, result, part, deep, types);
}

// --- datatype! ----------------------------------------------------------------------------------

namespace {

// The name without its final "!": integer! forms as integer.
int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
  const NameRecord& n = names[cell::datatype_id(*value)];
  string::append_c_chars(*out, n.name, n.length_less_one);
  return part - int32_t(n.length_less_one);
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell*, int32_t part, int32_t) {
  // The value may lie in a buffer that appends move.
  const char* name = names[cell::datatype_id(*value)].name;
  if (options.all) part -= cell::append_text(out, "#(");
  part -= cell::append_text(out, name);
  if (options.all) part -= cell::append_text(out, ")");
  return part;
}

int32_t compare_datatypes(Cell* a, Cell* b, int32_t op) {
  switch (op) {
    case action::EQUAL: case action::NOT_EQUAL: case action::STRICT_EQUAL: case action::SAME:
    case action::FIND_EQUAL:
      return cell::type_of(*b) == TYPE_DATATYPE && cell::datatype_id(*a) == cell::datatype_id(*b)
                 ? 0
                 : 1;
    default:
      return action::kNotComparable;
  }
}

}  // namespace

void init() {
  using namespace action;
  register_type(TYPE_DATATYPE,
                {act<FORM>(form), act<MOLD>(mold), act<COMPARE>(compare_datatypes)});
}

}  // namespace datatype
