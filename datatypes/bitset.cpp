// bitset!: growth, bit ranges, the specs that name bits, and the action entries (make/to, form,
// mold, path steps, compare, negate/complement, the bitwise actions and the edits). Membership is
// the one convention everywhere: a stored 1 is a member, and beyond the stored bytes the
// complemented flag decides. Owner notifications run user code, so edits re-derive the buffer.
#include "datatypes/bitset.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace bitset {

namespace {

using alloc::Series;

constexpr Cell kBitsetType{TYPE_DATATYPE, TYPE_BITSET, 0, 0};

inline uint8_t mask_of(uint64_t bit) { return uint8_t(0x80 >> (bit & 7)); }
// Cell i of a block's buffer, copied out; counted from the buffer start.
inline Cell block_cell(const Cell& block, uint32_t i) {
  return cell::cells_of(cell::series_node(block))[i];
}

// The byte a bitset reads as beyond its stored bytes.
inline uint8_t fill_of(const Cell& bitset) { return complemented(bitset) ? 0xFF : 0x00; }

// Makes the cell a new bitset of count bytes, each `fill`. May allocate: the cell must stay put.
void init_bytes(Cell* cell, uint64_t count, uint8_t fill, bool is_complemented) {
  if (count > alloc::kMaxCapacity) rt::fire_error("internal", "no-memory");
  uint32_t node = alloc::new_byte_series_filled(std::max<uint32_t>(uint32_t(count), 16), fill);
  Series* s = alloc::series_of(node);
  s->tail = s->head + uint32_t(count);
  if (is_complemented) s->flags |= kComplemented;
  *cell = cell::make_series(TYPE_BITSET, node);
}

// The bit a char! or integer! names.
uint32_t bit_of(const Cell& value) {
  if (cell::type_of(value) == TYPE_INTEGER && integer::get_value(value) < 0) {
    rt::fire_error("script", "out-of-range", &value);
  }
  return static_cast<uint32_t>(integer::get_value(value));
}

bool names_one_bit(uint8_t type) { return type == TYPE_CHAR || type == TYPE_INTEGER; }


// The symbol of the range word `-`, interned on first use.
uint32_t minus_symbol() {
  static uint32_t id = 0;
  if (!id) id = symbol::intern_c_string("-");
  return id;
}

// What a walk over a spec has found so far.
struct Walk {
  const Cell& bitset;
  Op op;
  int64_t highest = -1;
  bool all = true;  // every bit tested so far is a member
};

void apply_range(Walk& walk, uint32_t first, uint32_t last) {
  switch (walk.op) {
    case kHighest: walk.highest = std::max<int64_t>(walk.highest, last); break;
    case kTest: walk.all = walk.all && range_op(walk.bitset, first, last, kTest); break;
    default: range_op(walk.bitset, first, last, walk.op); break;
  }
}

// Each code point of the text from its head, read afresh each step (growing the bitset moves
// buffers).
void apply_text(Walk& walk, const Cell& text) {
  for (uint32_t i = cell::series_index(text); i < string::whole_length(text) && walk.all; i++) {
    uint32_t c = string::char_at(text, i);
    apply_range(walk, c, c);
  }
}

void apply_block(Walk& walk, const Cell& block) {
  auto length = [&] { return uint32_t(series::buffer_length(block)); };
  auto element = [&](uint32_t i) { return block_cell(block, i); };
  for (uint32_t i = cell::series_index(block); i < length() && walk.all; i++) {
    const Cell item = element(i);
    uint8_t type = cell::type_of(item);
    if (types::any_string(type)) {
      apply_text(walk, item);
      continue;
    }
    if (!names_one_bit(type)) rt::fire_error("script", "invalid-arg", &item);
    uint32_t first = bit_of(item);
    if (i + 1 >= length() || !word::is_word_named(element(i + 1), minus_symbol())) {
      apply_range(walk, first, first);
      continue;
    }
    if (i + 2 >= length()) rt::fire_error("script", "past-end");
    const Cell end = element(i + 2);
    if (cell::type_of(end) != type) rt::fire_error("script", "invalid-arg", &end);
    uint32_t last = bit_of(end);
    if (last < first) rt::fire_error("script", "past-end");
    apply_range(walk, first, last);
    i += 2;
  }
}

void apply_value(Walk& walk, const Cell& value) {
  uint8_t type = cell::type_of(value);
  if (names_one_bit(type)) {
    uint32_t bit = bit_of(value);
    apply_range(walk, bit, bit);
  } else if (types::any_string(type)) {
    apply_text(walk, value);
  } else if (type == TYPE_BLOCK) {
    apply_block(walk, value);
  } else {
    rt::fire_error("script", "invalid-arg", &value);
  }
}

// A new bitset from the bytes of a binary! from its head, each inverted when asked.
void init_from_binary(Cell* cell, const Cell& binary, bool invert) {
  Cell source = binary;
  uint32_t count = uint32_t(series::rest_length(source, false));
  uint32_t first = uint32_t(series::buffer_length(source)) - count;  // the head, clamped
  init_bytes(cell, count, 0, invert);
  const uint8_t* from = cell::series_of(source)->head_ptr() + first;
  uint8_t* to = data_pointer(*cell);
  for (uint32_t i = 0; i < count; i++) to[i] = invert ? uint8_t(~from[i]) : from[i];
}

// A new bitset sized for the highest bit the spec names, every byte `fill`, with op applied to
// the bits the spec names.
void init_from_spec(Cell* cell, const Cell& spec, bool is_complemented) {
  int64_t highest = apply_spec(spec, constants::none, kHighest);
  init_bytes(cell, highest < 0 ? 0 : uint64_t(highest >> 3) + 1, is_complemented ? 0xFF : 0,
             is_complemented);
  apply_spec(spec, *cell, is_complemented ? kClear : kSet);
}

// --- Actions -----------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint8_t) { return make_from(proto, *spec, false); }
Cell* to(Cell* proto, Cell* spec, uint8_t) { return make_from(proto, *spec, true); }

// form and mold: "make bitset! #{...}", a complemented one as "[not #{...}]" over its inverted
// bytes, so that the text makes the same set again.
int32_t mold(Cell* value, Cell* out, action::MoldOptions, Cell*, int32_t part, int32_t) {
  bool inverted = complemented(*value);
  uint8_t flip = inverted ? 0xFF : 0x00;
  std::string text = inverted ? "make bitset! [not #{" : "make bitset! #{";
  const uint8_t* bytes = data_pointer(*value);
  for (uint32_t i = 0; i < stored_bytes(*value) && int64_t(text.size()) < part; i++) {
    text += string::byte_to_hex(bytes[i] ^ flip);
  }
  text += inverted ? "}]" : "}";
  return part - cell::append_text(out, text.c_str());
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  return mold(value, out, {}, arg, part, 0);
}

Cell* pick(Cell* value, int32_t index, Cell* index_value) {
  Cell spec = index_value ? *index_value : integer::make(index);
  bool member = apply_spec(spec, *value, kTest);
  *value = logic::make(member);
  return value;
}

// none, false, 0 and 0.0 make the bits non-members; any other value makes them members.
bool clears(const Cell& value) {
  switch (cell::type_of(value)) {
    case TYPE_NONE: return true;
    case TYPE_LOGIC: return logic::value_of(value) == 0;
    case TYPE_INTEGER: return integer::get_value(value) == 0;
    case TYPE_FLOAT: return cell::get_double(value) == 0.0;
    default: return false;
  }
}

Cell* poke(Cell* value, int32_t index, Cell* new_value, Cell* index_value) {
  Cell spec = index_value ? *index_value : integer::make(index);
  bool notified = ownership::notify_owner(value, "poke", new_value, 0, 1);
  apply_spec(spec, *value, clears(*new_value) ? kClear : kSet);
  if (notified) ownership::notify_owner(value, "poked", new_value, 0, 1);
  return new_value;
}

Cell* eval_path(Cell* parent, Cell* element, const action::PathStep& step) {
  if (!names_one_bit(cell::type_of(*element))) {
    Cell type = cell::make_datatype(cell::type_of(*element));
    rt::fire_error("script", "invalid-type", &type);
  }
  if (step.value) return poke(parent, 0, step.value, element);
  return stack::push_copy(logic::make(apply_spec(*element, *parent, kTest)));
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_BITSET) return action::kNotComparable;
  if (op == action::SAME) return cell::series_node(*a) == cell::series_node(*b) ? 0 : -1;
  uint32_t length_a = stored_bytes(*a), length_b = stored_bytes(*b);
  if (length_a != length_b) return length_a < length_b ? -1 : 1;
  if (complemented(*a) != complemented(*b)) return complemented(*a) ? 1 : -1;
  const uint8_t* x = data_pointer(*a);
  const uint8_t* y = data_pointer(*b);
  for (uint32_t i = length_a; i-- > 0;) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

// Inverting every stored byte and the flag gives the complement set.
void invert(const Cell& bitset) {
  Series* s = cell::series_of(bitset);
  for (uint8_t* p = s->head_ptr(); p < s->tail_ptr(); p++) *p = uint8_t(~*p);
  s->flags ^= kComplemented;
}

void negate() { invert(*stack::arg(0)); }

Cell* complement(Cell* value) {
  uint32_t copy = alloc::copy_series(cell::series_node(*value));
  *value = cell::make_series(TYPE_BITSET, copy);
  invert(*value);
  return value;
}

void and_t() { do_bitwise(6); }
void or_t() { do_bitwise(5); }
void xor_t() { do_bitwise(7); }

// append and insert: the bits the value names become members.
void insert(Cell* series, Cell* value, int32_t, bool, int32_t, bool append) {
  bool notified = ownership::notify_owner(series, append ? "append" : "insert", value, 0, 1);
  apply_spec(*value, *series, kSet);
  if (notified) ownership::notify_owner(series, append ? "appended" : "inserted", value, 0, 1);
}

// An empty set: every stored byte 0 and no complement.
void clear(Cell* series) {
  bool notified = ownership::notify_owner(series, "clear", nullptr, 0, 0);
  Series* s = cell::series_of(*series);
  std::memset(s->head_ptr(), 0, s->used());
  s->flags &= ~kComplemented;
  if (notified) ownership::notify_owner(series, "cleared", nullptr, 0, 0);
}

void copy(Cell* value, Cell* result, Cell*, bool, Cell*) {
  uint32_t node = alloc::copy_series(cell::series_node(*value));
  *result = cell::make_series(TYPE_BITSET, node);
}

Cell* find(Cell* series, Cell* value, const action::FindOptions&) {
  bool found = apply_spec(*value, *series, kTest);
  *series = found ? constants::true_value : constants::none;
  return series;
}

int32_t length(Cell* value) {
  return int32_t(std::min<uint64_t>(uint64_t(stored_bytes(*value)) * 8, INT32_MAX));
}

// remove/part: the bits the part value names stop being members.
void remove(Cell* series, Cell* part, Cell*) {
  if (!part) rt::fire_error("script", "missing-arg");
  bool notified = ownership::notify_owner(series, "remove", part, 0, 1);
  apply_spec(*part, *series, kClear);
  if (notified) ownership::notify_owner(series, "removed", part, 0, 1);
}

}  // namespace

uint8_t* data_pointer(const Cell& bitset) { return cell::series_of(bitset)->head_ptr(); }
uint32_t stored_bytes(const Cell& bitset) { return cell::series_of(bitset)->used(); }
bool complemented(const Cell& bitset) { return cell::series_of(bitset)->flags & kComplemented; }

bool test_bit(const Cell& bitset, uint32_t index) {
  if (index >> 3 >= stored_bytes(bitset)) return complemented(bitset);
  return data_pointer(bitset)[index >> 3] & mask_of(index);
}

void ensure_bit(const Cell& bitset, uint32_t index) {
  uint32_t need = (index >> 3) + 1;
  Series* s = cell::series_of(bitset);
  if (need <= s->used()) return;
  uint8_t fill = fill_of(bitset);
  if (uint64_t(s->head) + need > s->capacity) {
    // Doubling keeps a run of growing appends linear.
    uint64_t grown = std::min<uint64_t>(std::max<uint64_t>(need, 2ull * s->capacity),
                                        alloc::kMaxCapacity);
    s = alloc::expand_series_filled(cell::series_node(bitset), uint32_t(grown), fill);
  }
  // The bytes past the old tail may hold stale data from before a shrink or a move.
  std::memset(s->tail_ptr(), fill, s->head + need - s->tail);
  s->tail = s->head + need;
}

bool range_op(const Cell& bitset, uint32_t first, uint32_t last, Op op) {
  uint64_t stored_bits = uint64_t(stored_bytes(bitset)) * 8;
  bool outside_is_member = complemented(bitset);
  if (op == kTest) {
    for (uint64_t i = first; i <= last; i++) {
      if (i >= stored_bits) return outside_is_member;
      if (!(data_pointer(bitset)[i >> 3] & mask_of(i))) return false;
    }
    return true;
  }
  // Bits beyond the stored ones already have the state wanted when the flag gives it to them;
  // otherwise the bitset grows to hold them.
  bool outside_ok = (op == kSet) == outside_is_member;
  uint64_t end = last;
  if (outside_ok) {
    if (first >= stored_bits) return true;
    end = std::min<uint64_t>(last, stored_bits - 1);
  } else {
    ensure_bit(bitset, last);
  }
  uint8_t* bytes = data_pointer(bitset);
  for (uint64_t i = first; i <= end; i++) {
    if (op == kSet) {
      bytes[i >> 3] |= mask_of(i);
    } else {
      bytes[i >> 3] &= uint8_t(~mask_of(i));
    }
  }
  return true;
}

int64_t apply_spec(const Cell& value, const Cell& bitset, Op op) {
  const Cell spec = value;  // the caller's cell may lie in a buffer that moves
  gc::Guard keep(spec);
  if (op == kSet || op == kClear) {
    // Grown once to the highest bit named, rather than step by step.
    bool grows = (op == kSet) != complemented(bitset);
    if (grows) {
      int64_t highest = apply_spec(spec, bitset, kHighest);
      if (highest >= 0) ensure_bit(bitset, uint32_t(highest));
    }
  }
  Walk walk{bitset, op};
  apply_value(walk, spec);
  if (op == kHighest) return walk.highest;
  return walk.all ? 1 : 0;
}

Cell* make_from(Cell* cell, const Cell& spec_value, bool to_flag) {
  const Cell spec = spec_value;
  gc::Guard keep(spec);
  uint8_t type = cell::type_of(spec);
  switch (type) {
    case TYPE_INTEGER: case TYPE_FLOAT: {
      if (to_flag) rt::fire_error("script", "bad-to-arg", &kBitsetType, &spec);
      int32_t bits = cell::get_integer_arg(spec);
      if (bits < 0) rt::fire_error("script", "out-of-range", &spec);
      init_bytes(cell, (uint64_t(bits) + 7) / 8, 0, false);
      return cell;
    }
    case TYPE_BITSET:
      *cell = cell::make_series(TYPE_BITSET, alloc::copy_series(cell::series_node(spec)));
      return cell;
    case TYPE_BINARY:
      init_from_binary(cell, spec, false);
      return cell;
    case TYPE_BLOCK: {
      Cell rest = spec;
      int32_t count = series::rest_length(rest, false);
      // A head before the start: 0.
      cell::set_series_index(rest, uint32_t(series::buffer_length(rest) - count));
      if (count == 0 || !word::is_word_named(block_cell(rest, cell::series_index(rest)),
                                             runtime_words::symbols.not_)) {
        break;
      }
      cell::set_series_index(rest, cell::series_index(rest) + 1);
      if (count == 2 && cell::type_of(block_cell(rest, cell::series_index(rest))) == TYPE_BINARY) {
        init_from_binary(cell, block_cell(rest, cell::series_index(rest)), true);
      } else {
        init_from_spec(cell, rest, true);
      }
      return cell;
    }
    case TYPE_CHAR:
      break;
    default:
      if (!types::any_string(type)) {
        rt::fire_error("script", to_flag ? "bad-to-arg" : "bad-make-arg", &kBitsetType, &spec);
      }
  }
  init_from_spec(cell, spec, false);
  return cell;
}

void do_bitwise(int32_t op) {
  const Cell* second = stack::arg(1);
  if (cell::type_of(*second) != TYPE_BITSET) {
    Cell type = cell::make_datatype(cell::type_of(*second));
    rt::fire_error("script", "invalid-type", &type);
  }
  if (op == 8) return;
  auto combine = [op](uint32_t a, uint32_t b) -> uint32_t {
    switch (op) {
      case 5: case 9: return a | b;
      case 6: case 10: return a & b;
      case 11: return a & ~b;
      default: return a ^ b;  // 7, 12
    }
  };
  // Bits beyond an operand's stored bytes take its flag, so the result is right for every bit,
  // the flag included, whichever operands are complemented.
  const Cell first = *stack::arg(0);
  uint32_t length_a = stored_bytes(first), length_b = stored_bytes(*second);
  uint8_t fill_a = fill_of(first), fill_b = fill_of(*second);
  uint32_t length = std::max(length_a, length_b);
  // and~ of a plain shorter operand ends where it does: nothing beyond can be a member.
  bool shorter_plain = (length_a < length_b ? fill_a : fill_b) == 0;
  if (op == 6 && shorter_plain) length = std::min(length_a, length_b);
  bool flag = combine(fill_a, fill_b) & 1;

  Cell result{TYPE_NONE, 0, 0, 0};
  init_bytes(&result, length, 0, flag);
  const uint8_t* a = data_pointer(*stack::arg(0));
  const uint8_t* b = data_pointer(*stack::arg(1));
  uint8_t* r = data_pointer(result);
  for (uint32_t i = 0; i < length; i++) {
    r[i] = uint8_t(combine(i < length_a ? a[i] : fill_a, i < length_b ? b[i] : fill_b));
  }
  *stack::arg(0) = result;
}

void init() {
  using namespace action;
  using datatype::act;
  datatype::register_type(
      TYPE_BITSET,
      {act<MAKE>(make), act<REFLECT>(series::reflect), act<TO>(to), act<FORM>(form),
       act<MOLD>(mold), act<EVAL_PATH>(eval_path), act<COMPARE>(compare), act<NEGATE>(negate),
       act<AND_T>(and_t), act<COMPLEMENT>(complement), act<OR_T>(or_t), act<XOR_T>(xor_t),
       act<APPEND>(insert), act<CLEAR>(clear), act<COPY>(copy), act<FIND>(find),
       act<INSERT>(insert), act<LENGTH_Q>(length), act<PICK>(pick), act<POKE>(poke),
       act<REMOVE>(remove), act<MODIFY>(series::modify)});
  gc::set_type_marker(TYPE_BITSET, gc::mark_series_cell);
}

}  // namespace bitset
