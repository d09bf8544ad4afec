// The ZELBIN writers: one walk over the value and everything it reaches, emitting plain or
// compact records into C++ buffers, then the header, the symbol table and the records in one new
// binary!. Series, objects, functions, errors and words' owners are tracked by node: a node met
// again is written as a reference, the index path that leads from the stream's first value to
// where it was written first. The walk allocates no series memory, so it reads cells in place
// (runtime/gc.h); only the result is allocated, once the stream is complete.
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "io/zelbin.h"
#include "runtime/alloc.h"
#include "runtime/fatal.h"
#include "runtime/throw.h"

namespace zelbin {

namespace {

using cell::cell_count;
using cell::cells_of;

[[noreturn]] void fire_no_codec(uint8_t type) {
  const Cell datatype = cell::make_datatype(type);
  rt::fire_error("access", "no-codec", &datatype);
}

uint32_t log2_unit(uint32_t unit) { return unit == 4 ? 2 : unit == 2 ? 1 : 0; }

// Whether the double takes the compact whole-number form: a 32-bit integer within the writers'
// range, and 0 only with its sign bit clear (-0.0 keeps its 8 bytes).
bool whole_number(double d, double scale, double range, int32_t& n) {
  if (!(d >= -range && d <= range)) return false;  // NaN fails too
  if (d == 0 && std::signbit(d)) return false;
  double scaled = d * scale;
  // Rounded half away from zero: exact for whole numbers, the percent rule otherwise.
  double rounded = scaled < 0 ? -std::floor(-scaled + 0.5) : std::floor(scaled + 0.5);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return false;
  n = int32_t(rounded);
  return double(n) / scale == d;
}

}  // namespace

class Writer {
 public:
  explicit Writer(bool compact) : compact_(compact) {}

  void write_root(const Cell& value) { write_value(value); }
  std::vector<uint8_t> stream() const;

  // The boot image's records (boot mode): a global set-word pair takes no root number and
  // nothing in it is referred to later; a context written as a root value is what the words
  // bound to it name.
  void write_set_word(uint32_t symbol, const Cell& value);
  void write_set_callable(uint32_t symbol, uint8_t type, uint32_t index, const Cell& spec);
  uint32_t write_context_root(uint32_t context);
  uint32_t roots() const { return position_; }
  bool boot_ = false;

 private:
  bool compact_;
  // Boot mode: the root number of each context written as a root value; the depth of the
  // records being written inside a global set-word pair (nothing there is tracked).
  std::unordered_map<uint32_t, uint32_t> boot_contexts_;
  uint32_t untracked_ = 0;
  std::vector<uint8_t> records_;
  // The symbol table: each symbol's index by id, in first-use order; the spellings, each ended by
  // a 0 byte (the plain form pads the area to a multiple of 8 after each), and their offsets.
  std::unordered_map<uint32_t, uint32_t> symbol_index_;
  std::vector<uint8_t> strings_;
  std::vector<uint32_t> offsets_;
  // The index path of the value being written: one index per enclosing value, and the position
  // of the value itself inside its parent.
  std::vector<uint32_t> path_;
  uint32_t position_ = 0;
  // Every node written so far -> the offset of its stored path (count, then the indexes).
  std::unordered_map<uint32_t, uint32_t> references_;
  std::vector<uint32_t> path_store_;

  // --- Bytes ---------------------------------------------------------------------------------

  void byte(uint8_t b) { records_.push_back(b); }
  void bytes(const void* p, size_t n) {
    auto* b = static_cast<const uint8_t*>(p);
    records_.insert(records_.end(), b, b + n);
  }
  void u32(uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    bytes(b, 4);
  }
  static void varint_to(std::vector<uint8_t>& out, uint32_t v) {
    while (v >= 0x80) {
      out.push_back(uint8_t(v | 0x80));
      v >>= 7;
    }
    out.push_back(uint8_t(v));
  }
  void varint(uint32_t v) { varint_to(records_, v); }
  void zigzag(int32_t n) { varint((uint32_t(n) << 1) ^ uint32_t(n >> 31)); }
  // A count or unsigned field: a varint in the compact form, a word in the plain form.
  void field(uint32_t v) { compact_ ? varint(v) : u32(v); }
  void signed_field(int32_t v) { compact_ ? zigzag(v) : u32(uint32_t(v)); }
  void pad4() {
    while (records_.size() % 4) byte(0);
  }

  // The start of a record. Compact: the prefixes and the type byte; plain: the header word with
  // the bits given.
  void begin(uint8_t type, bool new_line, bool reference = false, bool variant = false,
             uint32_t plain_bits = 0) {
    if (compact_) {
      if (new_line) byte(kNewLinePrefix);
      if (reference) byte(kReferencePrefix);
      byte(uint8_t(type | (variant ? kVariant : 0)));
    } else {
      u32(type | plain_bits | (new_line ? kPlainNewLine : 0) | (reference ? kPlainReference : 0));
    }
  }
  // Series heads: a compact varint only when not 0, always a plain word.
  void head_field(uint32_t head) {
    if (!compact_) u32(head);
    else if (head) varint(head);
  }

  // --- Paths and references --------------------------------------------------------------------

  void enter() {
    path_.push_back(position_);
    position_ = 0;
  }
  void leave() {
    position_ = path_.back();
    path_.pop_back();
  }
  // The offset of the node's stored path, or -1 when the node is new; a new node gets the path
  // of the value being written.
  int64_t track(uint32_t node) {
    if (untracked_) return -1;
    auto [it, added] = references_.try_emplace(node, uint32_t(path_store_.size()));
    if (!added) return it->second;
    path_store_.push_back(uint32_t(path_.size() + 1));
    path_store_.insert(path_store_.end(), path_.begin(), path_.end());
    path_store_.push_back(position_);
    return -1;
  }
  void write_path(uint32_t offset) {
    uint32_t count = path_store_[offset];
    field(count);
    for (uint32_t i = 1; i <= count; i++) field(path_store_[offset + i]);
  }

  uint32_t symbol_ref(uint32_t id) {
    auto [it, added] = symbol_index_.try_emplace(id, uint32_t(offsets_.size()));
    if (added) {
      const uint32_t utf8 = symbol::utf8_node_of(cells_of(symbol::block)[id - 1]);
      alloc::Series* s = alloc::series_of(utf8);
      offsets_.push_back(uint32_t(strings_.size()));
      strings_.insert(strings_.end(), s->head_ptr(), s->tail_ptr());
      strings_.push_back(0);
      if (!compact_) strings_.resize((strings_.size() + 7) & ~size_t(7), 0);
    }
    return it->second;
  }

  // --- Values ----------------------------------------------------------------------------------

  // A value inside its parent: its record, and the parent's position moves past it.
  void write_value(const Cell& value) {
    write_record(value);
    position_++;
  }
  void write_record(const Cell& value);
  void write_double(const Cell& value, double scale, double range);
  void write_series(const Cell& value);
  void write_text(const Cell& value);
  void write_map(const Cell& value);
  void write_bitset(const Cell& value);
  void write_word(const Cell& value);
  void write_native(const Cell& value);
  void write_op(const Cell& value);
  void write_object(const Cell& value, bool new_line);
  void write_object_body(const Cell& object);
  void write_function(const Cell& value, bool new_line);
  void write_function_body(const Cell& function);
  void write_error(const Cell& value);
  void write_context(uint32_t context, bool new_line = false);
};

void Writer::write_record(const Cell& value) {
  rt::check_stack();
  const uint8_t type = cell::type_of(value);
  const bool new_line = value.header & cell::kNewLine;
  switch (type) {
    case TYPE_DATATYPE:
      begin(type, new_line);
      field(cell::datatype_id(value));
      return;
    case TYPE_UNSET: case TYPE_NONE:
      begin(type, new_line);
      return;
    case TYPE_LOGIC:
      if (compact_) {
        if (new_line) byte(kNewLinePrefix);
        byte(logic::value_of(value) ? kTrue : kFalse);
      } else {
        begin(type, new_line);
        u32(logic::value_of(value) ? 1 : 0);
      }
      return;
    case TYPE_INTEGER: {
      const int32_t n = int32_t(cell::value_word(value));
      if (compact_ && n >= 0 && n <= 63) {
        if (new_line) byte(kNewLinePrefix);
        byte(uint8_t(kSmallInteger + n));
        return;
      }
      begin(type, new_line);
      signed_field(n);
      return;
    }
    case TYPE_CHAR:
      begin(type, new_line);
      field(cell::value_word(value));
      return;
    case TYPE_FLOAT: case TYPE_TIME:
      return write_double(value, 1.0, 2147483000.0);
    case TYPE_PERCENT:
      return write_double(value, 100.0, 21474836.0);
    case TYPE_PAIR:
      begin(type, new_line);
      signed_field(int32_t(value.w2));
      signed_field(int32_t(value.w3));
      return;
    case TYPE_POINT2D:
      begin(type, new_line);
      u32(value.w1);
      u32(value.w2);
      return;
    case TYPE_POINT3D:
      begin(type, new_line);
      u32(value.w1);
      u32(value.w2);
      u32(value.w3);
      return;
    case TYPE_TUPLE: {
      const uint32_t count = tuple::count_of(value);
      if (compact_) {
        begin(type, new_line, false, count != 3);
        if (count != 3) byte(uint8_t(count));
        bytes(tuple::data_of(value), count);
      } else {
        begin(type, new_line, false, false, count << kPlainWidthShift);
        bytes(&value.w1, 12);
      }
      return;
    }
    case TYPE_TYPESET: {
      begin(type, new_line);
      const auto* map = reinterpret_cast<const uint8_t*>(&value.w1);
      if (compact_) {
        uint8_t k = 12;
        while (k && !map[k - 1]) k--;
        byte(k);
        bytes(map, k);
      } else {
        bytes(map, 12);
      }
      return;
    }
    case TYPE_MONEY: {
      const bool negative = value.header & money::kSignFlag;
      begin(type, new_line, false, negative, negative ? kPlainNegative : 0);
      bytes(&value.w1, 12);
      return;
    }
    case TYPE_DATE: {
      const uint32_t packed = date::packed_of(value);
      const bool has_time = packed & date::kTimeFlag;
      if (compact_) {
        begin(type, new_line, false, has_time);
        u32(packed);
        if (has_time) bytes(&value.w2, 8);
      } else {
        begin(type, new_line);
        u32(packed);
        u32(value.w3);
        u32(value.w2);
      }
      return;
    }
    case TYPE_ISSUE:
      begin(type, new_line);
      field(symbol_ref(word::symbol_of(value)));
      return;
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
      return write_word(value);
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
    case TYPE_GET_PATH: case TYPE_HASH:
      return write_series(value);
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF: case TYPE_BINARY:
      return write_text(value);
    case TYPE_MAP:
      return write_map(value);
    case TYPE_BITSET:
      return write_bitset(value);
    case TYPE_NATIVE: case TYPE_ACTION:
      return write_native(value);
    case TYPE_OP:
      return write_op(value);
    case TYPE_FUNCTION:
      return write_function(value, new_line);
    case TYPE_OBJECT:
      return write_object(value, new_line);
    case TYPE_ERROR:
      return write_error(value);
    case TYPE_CONTEXT: {
      // A context! cell names its record in word 3 (a copy taken out of the record).
      const uint32_t record = context::record_of(value);
      if (!record) fire_no_codec(type);
      return write_context(record, new_line);
    }
    default:
      // routine!, triple!, handle!, port!, event!, and vector! and image! until they are built.
      fire_no_codec(type);
  }
}

void Writer::write_double(const Cell& value, double scale, double range) {
  const uint8_t type = cell::type_of(value);
  const bool new_line = value.header & cell::kNewLine;
  const double d = cell::get_double(value);
  if (compact_) {
    int32_t n;
    if (whole_number(d, scale, range, n)) {
      begin(type, new_line, false, true);
      zigzag(n);
    } else {
      begin(type, new_line);
      bytes(&value.w2, 8);  // the double's bytes, low word first
    }
    return;
  }
  // A filler word keeps the plain form's doubles at a multiple of 8 from the records' start.
  if (records_.size() % 8) u32(0);
  begin(type, new_line);
  u32(value.w3);
  u32(value.w2);
}

void Writer::write_series(const Cell& value) {
  const uint8_t type = cell::type_of(value);
  const bool new_line = value.header & cell::kNewLine;
  const uint32_t node = cell::series_node(value);
  const uint32_t head = cell::series_index(value);
  const int64_t known = track(node);
  begin(type, new_line, known >= 0, head != 0);
  head_field(head);
  if (known >= 0) return write_path(uint32_t(known));
  const uint32_t count = cell_count(node);
  field(count);
  enter();
  for (uint32_t i = 0; i < count; i++) write_value(cells_of(node)[i]);
  leave();
}

void Writer::write_text(const Cell& value) {
  const uint8_t type = cell::type_of(value);
  const bool new_line = value.header & cell::kNewLine;
  const uint32_t node = cell::series_node(value);
  const uint32_t head = cell::series_index(value);
  const int64_t known = track(node);
  alloc::Series* s = alloc::series_of(node);
  const uint32_t unit = type == TYPE_BINARY ? 1 : s->unit();
  begin(type, new_line, known >= 0, head != 0, unit << kPlainWidthShift);
  head_field(head);
  if (known >= 0) return write_path(uint32_t(known));
  const uint32_t count = s->used() / unit;
  if (!compact_) {
    u32(count);
  } else if (type == TYPE_BINARY) {
    varint(count);
  } else {
    if (count >= 1u << 30) rt::fire_error("internal", "no-memory");
    varint(count << 2 | log2_unit(unit));
  }
  bytes(s->head_ptr(), size_t(count) * unit);
  if (!compact_) pad4();
}

void Writer::write_map(const Cell& value) {
  const bool new_line = value.header & cell::kNewLine;
  const uint32_t node = cell::series_node(value);
  const int64_t known = track(node);
  begin(TYPE_MAP, new_line, known >= 0);
  if (known >= 0) return write_path(uint32_t(known));
  // Only live entries: a removed key leaves its value cell's header 0.
  uint32_t live = 0;
  for (uint32_t i = 0; i + 1 < cell_count(node); i += 2) live += cells_of(node)[i + 1].header != 0;
  field(2 * live);
  enter();
  for (uint32_t i = 0; i + 1 < cell_count(node); i += 2) {
    if (!cells_of(node)[i + 1].header) continue;
    write_value(cells_of(node)[i]);
    write_value(cells_of(node)[i + 1]);
  }
  leave();
}

void Writer::write_bitset(const Cell& value) {
  const bool new_line = value.header & cell::kNewLine;
  const uint32_t node = cell::series_node(value);
  const int64_t known = track(node);
  const bool complemented = bitset::complemented(value);
  begin(TYPE_BITSET, new_line, known >= 0, complemented && known < 0,
        complemented && known < 0 ? kPlainComplement : 0);
  if (known >= 0) return write_path(uint32_t(known));
  alloc::Series* s = alloc::series_of(node);
  field(s->used());
  bytes(s->head_ptr(), s->used());
  if (!compact_) pad4();
}

// A word bound to an object's or a function's context carries its index and the owner (once in
// full, then as a reference). Any other word is written as a global word and reads back bound to
// the global context: words of the global context, of contexts without an owner value, and of
// the contexts whose owner has no record of this kind (an error!'s, a native's arguments).
void Writer::write_word(const Cell& value) {
  const uint8_t type = cell::type_of(value);
  const bool new_line = value.header & cell::kNewLine;
  const uint32_t context = word::context_of(value);
  if (boot_) {
    const auto root = boot_contexts_.find(context);
    if (root != boot_contexts_.end()) {
      begin(type, new_line, false, true);
      field(symbol_ref(word::symbol_of(value)));
      field(root->second);
      signed_field(int32_t(word::index_of(value)));
      return;
    }
  }
  Cell owner = constants::none;
  if (context && context != context::global) owner = *context::owner_cell(context);
  const uint8_t owner_type = cell::type_of(owner);
  // The boot image binds words only by root number: no owner travels with them.
  if (boot_ && (owner_type == TYPE_OBJECT || owner_type == TYPE_FUNCTION)) {
    rt::fire_error("script", "invalid-arg", &value);
  }
  if (owner_type != TYPE_OBJECT && owner_type != TYPE_FUNCTION) {
    begin(type, new_line, false, false, kPlainGlobal);
    field(symbol_ref(word::symbol_of(value)));
    if (!compact_) u32(word::index_of(value));
    return;
  }
  const auto known = references_.find(context);
  const bool reference = known != references_.end();
  if (compact_) {
    begin(type, new_line, false, true);
  } else {
    u32(type | (new_line ? kPlainNewLine : 0) | (reference ? kPlainReference : 0));
  }
  field(symbol_ref(word::symbol_of(value)));
  signed_field(int32_t(word::index_of(value)));  // kUnresolved is -1
  if (reference) {
    if (compact_) {
      byte(kReferencePrefix);
      byte(owner_type);
    }
    return write_path(known->second);
  }
  // The owner's children hang under the word's own path.
  track(context);
  owner.header &= ~cell::kNewLine;
  if (owner_type == TYPE_OBJECT) {
    begin(TYPE_OBJECT, false, false, object::handlers_of(owner) != 0,
          object::handlers_of(owner) ? kPlainHandlers : 0);
    write_object_body(owner);
  } else {
    begin(TYPE_FUNCTION, false);
    write_function_body(owner);
  }
}

// The native's spec takes the native's own place in the paths: its cells are the native's.
void Writer::write_native(const Cell& value) {
  begin(cell::type_of(value), value.header & cell::kNewLine);
  field(native::index_of(value));
  write_record(cell::make_series(TYPE_BLOCK, native::spec_of(value)));
}

void Writer::write_op(const Cell& value) {
  const uint8_t wrapped = native::wrapped_type(value);
  if (wrapped == TYPE_ROUTINE) fire_no_codec(TYPE_ROUTINE);
  begin(TYPE_OP, value.header & cell::kNewLine, false, false, uint32_t(wrapped)
                                                                  << kPlainWrappedShift);
  Cell callable = native::unwrap_op(value);
  callable.header &= ~cell::kNewLine;
  write_record(callable);
}

void Writer::write_object(const Cell& value, bool new_line) {
  const int64_t known = track(object::context_of(value));
  const bool handlers = object::handlers_of(value) && known < 0;
  begin(TYPE_OBJECT, new_line, known >= 0, handlers, handlers ? kPlainHandlers : 0);
  if (known >= 0) return write_path(uint32_t(known));
  write_object_body(value);
}

void Writer::write_object_body(const Cell& object) {
  signed_field(int32_t(object::class_of(object)));
  if (const uint32_t record = object::handlers_of(object)) {
    // Each entry packs the handler field's index and its frame count, as the format does.
    signed_field(int32_t(cells_of(record)[0].w2));
    signed_field(int32_t(cells_of(record)[1].w2));
  }
  write_context(object::context_of(object));
}

void Writer::write_function(const Cell& value, bool new_line) {
  const int64_t known = track(function::context_of(value));
  begin(TYPE_FUNCTION, new_line, known >= 0);
  if (known >= 0) return write_path(uint32_t(known));
  write_function_body(value);
}

// Counts, the context (its values live on the stack: none are written), then the spec and the
// body at path steps 0 and 1.
void Writer::write_function_body(const Cell& function) {
  const uint32_t spec = function::spec_of(function);
  const Cell body = function::body_of(function);
  const bool has_body = cell::type_of(body) == TYPE_BLOCK;
  field(cell_count(spec));
  field(has_body ? cell_count(cell::series_node(body)) : 0);
  write_context(function::context_of(function));
  enter();
  write_value(cell::make_series(TYPE_BLOCK, spec));
  if (has_body) {
    write_value(body);
  } else {
    // A function without a body block runs as one with an empty body.
    begin(TYPE_BLOCK, false);
    head_field(0);
    field(0);
    position_++;
  }
  leave();
}

void Writer::write_error(const Cell& value) {
  const uint32_t context = error::context_of(value);
  const int64_t known = track(context);
  begin(TYPE_ERROR, value.header & cell::kNewLine, known >= 0);
  if (known >= 0) return write_path(uint32_t(known));
  const Cell code = context::values_of(context)[error::kCode];
  field(cell::type_of(code) == TYPE_INTEGER ? cell::value_word(code) : 0);
  enter();
  for (uint32_t f = error::kArg1; f <= error::kStack; f++) {
    write_value(context::values_of(context)[f]);
  }
  leave();
}

// A context record: its flags, its words as symbol indexes and, when it keeps them and one is
// set, its values as the children of the value being written.
void Writer::write_context(uint32_t context, bool new_line) {
  const Cell record = *context::context_cell(context);
  const bool stack_held = record.header & context::kStackHeld;
  const bool self = record.header & context::kHasSelf;
  const uint32_t kind = context::kind_of(context);
  const uint32_t words = context::word_count(context);
  const uint32_t values_node = stack_held ? 0 : context::values_position(context);
  const uint32_t stored = values_node ? cell_count(values_node) : 0;
  bool values = false;
  for (uint32_t i = 0; i < stored && !values; i++) {
    values = cell::type_of(cells_of(values_node)[i]) != TYPE_UNSET;
  }
  if (compact_) {
    if (new_line) byte(kNewLinePrefix);
    byte(TYPE_CONTEXT);
    byte(uint8_t(kind | (stack_held ? kStackHeld : 0) | (self ? kSelf : 0) |
                 (values ? kValues : 0)));
    varint(words);
  } else {
    u32(TYPE_CONTEXT | (new_line ? kPlainNewLine : 0) | (values ? kPlainValues : 0) |
        (stack_held ? kPlainStackHeld : 0) | (self ? kPlainSelf : 0) | kind << kPlainKindShift);
    u32(words);
  }
  for (uint32_t i = 0; i < words; i++) {
    field(symbol_ref(word::symbol_of(*context::word_at(context, i))));
  }
  if (!values) return;
  enter();
  for (uint32_t i = 0; i < words; i++) {
    write_value(i < stored ? cells_of(values_node)[i] : constants::unset);
  }
  leave();
}

void Writer::write_set_word(uint32_t symbol, const Cell& value) {
  untracked_++;
  byte(kSetWordPrefix);
  byte(TYPE_SET_WORD);
  field(symbol_ref(symbol));
  write_record(value);
  untracked_--;
}

// A native or action as its record holds it: the table index, then the spec block.
void Writer::write_set_callable(uint32_t symbol, uint8_t type, uint32_t index, const Cell& spec) {
  untracked_++;
  byte(kSetWordPrefix);
  byte(TYPE_SET_WORD);
  field(symbol_ref(symbol));
  begin(type, false);
  field(index);
  write_record(spec);
  untracked_--;
}

uint32_t Writer::write_context_root(uint32_t context) {
  const uint32_t root = position_;
  boot_contexts_[context] = root;
  track(context);
  write_context(context);
  position_++;
  return root;
}

std::vector<uint8_t> Writer::stream() const {
  if (records_.size() > 0x7FFFFFFF) rt::fire_error("internal", "no-memory");
  const bool symbols = !offsets_.empty();
  std::vector<uint8_t> out(kMagic, kMagic + sizeof kMagic);
  out.push_back(boot_ ? kBootVersion : kVersion);
  out.push_back(uint8_t((compact_ ? kCompact : 0) | (symbols ? kSymbols : 0)));
  auto word = [&out](uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
  };
  auto count = [&](uint32_t v) { compact_ ? varint_to(out, v) : word(v); };
  count(boot_ ? position_ : 1);  // the root count
  count(uint32_t(records_.size()));
  if (symbols) {
    count(uint32_t(offsets_.size()));
    count(uint32_t(strings_.size()));
    for (uint32_t offset : offsets_) word(offset);
    out.insert(out.end(), strings_.begin(), strings_.end());
  }
  out.insert(out.end(), records_.begin(), records_.end());
  return out;
}

namespace {

Cell* encode(const Cell& value, bool compact) {
  user_decoding = true;
  std::vector<uint8_t> bytes;
  try {
    Writer writer(compact);
    writer.write_root(value);
    bytes = writer.stream();
  } catch (const std::bad_alloc&) {
    rt::fire_error("internal", "no-memory");
  }
  Cell* result = stack::push_copy(constants::none);
  return binary::make_from_bytes(result, bytes.data(), bytes.size());
}

}  // namespace

BootWriter::BootWriter() : writer_(std::make_unique<Writer>(true)) { writer_->boot_ = true; }
BootWriter::~BootWriter() = default;

void BootWriter::set_word(uint32_t symbol, const Cell& value) {
  writer_->write_set_word(symbol, value);
}
void BootWriter::set_callable(uint32_t symbol, uint8_t type, uint32_t index, const Cell& spec) {
  writer_->write_set_callable(symbol, type, index, spec);
}
uint32_t BootWriter::add_root(const Cell& value) {
  const uint32_t root = writer_->roots();
  writer_->write_root(value);
  return root;
}
uint32_t BootWriter::add_context(uint32_t context) { return writer_->write_context_root(context); }
uint32_t BootWriter::roots() const { return writer_->roots(); }
std::vector<uint8_t> BootWriter::stream() const { return writer_->stream(); }

Cell* encode_plain(const Cell& value) { return encode(value, false); }
Cell* encode_compact(const Cell& value) { return encode(value, true); }

}  // namespace zelbin
