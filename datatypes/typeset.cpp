// typeset!: the bit operations, the builders used by function specs and the binary decoder, and
// the action entries (make/to, form, mold, compare, the bitwise actions, complement, find).
#include "datatypes/typeset.h"

#include <cstddef>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/stack.h"
#include "datatypes/word.h"
#include "runtime/throw.h"

namespace typeset {

namespace {

const Cell kTypesetType = cell::make_datatype(TYPE_TYPESET);

// The map's bytes: byte 0 is the first byte of word 1.
uint8_t* map_of(Cell& typeset) {
  return reinterpret_cast<uint8_t*>(&typeset) + offsetof(Cell, w1);
}

void merge(Cell& typeset, const Cell& other) {
  Bits bits = bits_of(typeset);
  const Bits more = bits_of(other);
  for (size_t i = 0; i < bits.size(); i++) bits[i] |= more[i];
  set_bits(typeset, bits);
}

// Applies fn(type) to each registered type in the set, in id order, while it returns true. An
// id below the highest that no type has registered is no member.
template <class Fn>
void for_each_member(const Cell& typeset, Fn fn) {
  for (uint32_t type = 1; type <= datatype::highest_type(); type++) {
    if (!datatype::name_of(uint8_t(type)) || !cell::typeset_has(typeset, uint8_t(type))) continue;
    if (!fn(uint8_t(type))) return;
  }
}

// The member names, separated by single spaces, while the budget lasts. The typeset is a copy:
// the caller's cell may lie in a buffer that the appends move.
int32_t write_names(const Cell typeset, Cell* out, int32_t part) {
  bool first = true;
  for_each_member(typeset, [&](uint8_t type) {
    if (part <= 0) return false;
    if (!first) part -= cell::append_text(out, " ");
    part -= cell::append_text(out, datatype::name_of(type));
    first = false;
    return true;
  });
  return part;
}

// A typeset! (or a datatype!, as the set of that one type) for the set operations.
Cell operand(const Cell& value) {
  switch (cell::type_of(value)) {
    case TYPE_TYPESET:
      return value;
    case TYPE_DATATYPE: {
      Cell typeset = empty();
      set(typeset, cell::datatype_id(value));
      return typeset;
    }
    default:
      rt::fire_error("script", "invalid-arg", &value);
  }
}

// --- Actions -----------------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, uint8_t) {
  switch (cell::type_of(*spec)) {
    case TYPE_TYPESET:
      return spec;
    case TYPE_BLOCK: {
      Cell typeset = empty();
      const Cell elements = *spec;
      const uint32_t node = cell::series_node(elements);
      for (uint32_t i = cell::series_index(elements); i < cell::cell_count(node); i++) {
        add_value(typeset, cell::cells_of(node)[i]);
      }
      return stack::push_copy(typeset);
    }
    default:
      rt::fire_error("script", "bad-to-arg", &kTypesetType, spec);
  }
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) { return write_names(*value, out, part); }

int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  const Cell typeset = *value;  // read before the first append, which may move it
  part -= cell::append_text(out, "make typeset! [");
  part = write_names(typeset, out, part);
  return part - cell::append_text(out, "]");
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_TYPESET) return action::kNotComparable;
  switch (op) {
    case action::EQUAL: case action::NOT_EQUAL: case action::STRICT_EQUAL: case action::SAME:
    case action::FIND_EQUAL:
      return bits_of(*a) == bits_of(*b) ? 0 : 1;
    case action::SORT_ORDER: case action::SORT_CASE_ORDER: {
      uint32_t na = count(*a), nb = count(*b);
      return na == nb ? 0 : na < nb ? -1 : 1;
    }
    default:
      return action::kNotComparable;
  }
}

void and_t() { do_bitwise(6); }
void or_t() { do_bitwise(5); }
void xor_t() { do_bitwise(7); }

Cell* complement(Cell* value) {
  Bits bits = bits_of(*value);
  for (uint32_t& word : bits) word = ~word;
  set_bits(*value, bits);
  return value;
}

Cell* find_action(Cell* typeset, Cell* value, const action::FindOptions&) {
  return stack::push_copy(logic::make(find(*typeset, *value)));
}

}  // namespace

void clear(Cell& typeset) { set_bits(typeset, {0, 0, 0}); }

void set(Cell& typeset, uint8_t type) { map_of(typeset)[type >> 3] |= uint8_t(0x80 >> (type & 7)); }

uint32_t count(const Cell& typeset) {
  uint32_t n = 0;
  for_each_member(typeset, [&](uint8_t) {
    n++;
    return true;
  });
  return n;
}

Cell* append_bits(const Cell& block, uint32_t word1, uint32_t word2, uint32_t word3) {
  return block::append_cell(block, make({word1, word2, word3}));
}

Cell* append_all_but_unset(const Cell& block) {
  Cell typeset = make({~0u, ~0u, ~0u});
  map_of(typeset)[TYPE_UNSET >> 3] &= uint8_t(~(0x80 >> (TYPE_UNSET & 7)));
  return block::append_cell(block, typeset);
}

Cell* append_from_spec(const Cell& block, const Cell& types) {
  Cell typeset = empty();
  const uint32_t node = cell::series_node(types);
  for (uint32_t i = cell::series_index(types); i < cell::cell_count(node); i++) {
    const Cell element = cell::cells_of(node)[i];
    Cell value = element;
    if (cell::type_of(element) == TYPE_WORD) {
      const Cell* bound = context::value_cell_of_symbol(word::symbol_of(element), context::global);
      value = bound ? *bound : constants::unset;
    }
    switch (cell::type_of(value)) {
      case TYPE_DATATYPE: set(typeset, cell::datatype_id(value)); break;
      case TYPE_TYPESET: merge(typeset, value); break;
      case TYPE_WORD: set(typeset, TYPE_OBJECT); break;
      case TYPE_BLOCK: break;
      default: rt::fire_error("script", "invalid-type-spec", &element);
    }
  }
  return block::append_cell(block, typeset);
}

void add_value(Cell& typeset, const Cell& value) {
  const Cell* v = cell::type_of(value) == TYPE_WORD ? context::word_value_cell(value) : &value;
  switch (cell::type_of(*v)) {
    case TYPE_DATATYPE: set(typeset, cell::datatype_id(*v)); break;
    case TYPE_TYPESET: merge(typeset, *v); break;
    default: rt::fire_error("script", "invalid-arg", &value);
  }
}

void do_bitwise(int32_t op) {
  Cell* first = stack::arg(0);
  Cell second = operand(*stack::arg(1));
  Bits a = bits_of(*first);
  const Bits b = bits_of(second);
  for (size_t i = 0; i < a.size(); i++) {
    switch (op) {
      case 5: case 9: a[i] |= b[i]; break;
      case 6: case 10: a[i] &= b[i]; break;
      case 7: case 12: a[i] ^= b[i]; break;
      case 11: a[i] &= ~b[i]; break;
      default: break;  // 8: the first unchanged
    }
  }
  set_bits(*first, a);
}

void to_block(const Cell& typeset, Cell* destination) {
  Cell members = typeset;
  *destination = constants::none;
  block::init_empty(destination, 4);
  for_each_member(members, [&](uint8_t type) {
    block::append_cell(*destination, *datatype::name_word(type));
    return true;
  });
}

bool find(const Cell& typeset, const Cell& value) {
  if (cell::type_of(value) != TYPE_DATATYPE) rt::fire_error("script", "invalid-arg", &value);
  return cell::typeset_has(typeset, cell::datatype_id(value));
}

void init() {
  using namespace action;
  using datatype::act;
  datatype::register_type(
      TYPE_TYPESET,
      {act<MAKE>(make), act<TO>(make), act<FORM>(form), act<MOLD>(mold), act<COMPARE>(compare),
       act<AND_T>(and_t), act<COMPLEMENT>(complement), act<OR_T>(or_t), act<XOR_T>(xor_t),
       act<FIND>(find_action)});
}

}  // namespace typeset
