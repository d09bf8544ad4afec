// The ZELBIN reader: the header, the optional Zstandard body, the symbol table, then the records
// of either form, each decoded into a cell of the output block or of the value being built. A
// container is stored in its place before its children are read, so that an index path met
// inside it (a shared or cyclic structure) finds it there. Every read is bounded by the end of
// the records (the counts and the symbol table by the end of the data), and every failed check
// raises script/zb-invalid-record with the 1-based position of the failing byte.
// Relies on the rooting rule (runtime/gc.h): values are stored in rooted cells as soon as they
// exist, nodes being built sit under Guards, and cells are re-derived after every allocation.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/char.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/hash.h"
#include "datatypes/hashtable.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "interpreter/frames.h"
#include "io/zelbin.h"
#include "runtime/compression.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/print.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace zelbin {

bool user_decoding = false;
uint32_t root_literals = 0;

namespace {

using cell::cell_count;
using cell::cells_of;

// The bound of a stream whose length is unknown (the boot image): its counts are trusted.
constexpr size_t kUnbounded = SIZE_MAX / 4;

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool is_word_type(uint8_t type) { return type >= TYPE_WORD && type <= TYPE_REFINEMENT; }
bool is_block_type(uint8_t type) {
  return type == TYPE_BLOCK || type == TYPE_PAREN || types::any_path(type);
}

// The records a 0xC1 prefix (or the plain reference bit) may stand on.
bool referable(uint8_t type) {
  switch (type) {
    case TYPE_BITSET: case TYPE_OBJECT: case TYPE_FUNCTION: case TYPE_ERROR: case TYPE_MAP:
    case TYPE_HASH: case TYPE_BINARY: case TYPE_VECTOR: case TYPE_IMAGE:
      return true;
    default:
      return is_block_type(type) || types::any_string(type);
  }
}

// A well-formed UTF-8 spelling, as the lexer accepts for a word.
bool valid_spelling(const uint8_t* p, size_t length) {
  const uint8_t* end = p + length;
  while (p < end) {
    if (*p < 0x80) {
      p++;
      continue;
    }
    int32_t c;
    p = unicode::decode_utf8_dfa(p, end, c);
    if (c < 0) return false;
  }
  return length > 0;
}

bool valid_date(uint32_t packed, double time) {
  const int32_t year = int32_t(packed) >> 17;
  const uint32_t month = (packed >> 12) & 15, day = (packed >> 7) & 31;
  static constexpr uint8_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  if (day > kDays[month - 1] + uint32_t(month == 2 && date::leap_year_q(year))) return false;
  if (!(packed & date::kTimeFlag)) return (packed & date::kZoneMask) == 0 && time == 0;
  return time >= 0 && time < 86400.0;  // false for NaN
}

// 22 BCD digits after the currency byte.
bool valid_money_digits(const uint8_t* bytes) {
  for (int i = 1; i < 12; i++) {
    if ((bytes[i] >> 4) > 9 || (bytes[i] & 15) > 9) return false;
  }
  return true;
}

// Where a record's value goes: cell #index of a block's buffer or of a context's values, which
// exists. The address is re-derived after every allocation.
struct Slot {
  uint32_t node;
  uint32_t index;
  Cell* get() const { return cells_of(node) + index; }
};

// A record's start.
struct Lead {
  size_t at = 0;         // position of the type byte or header word
  uint8_t type = 0;
  bool new_line = false;
  bool reference = false;  // compact 0xC1 prefix (plain: the header's reference bit, per type)
  bool set_word = false;   // boot: a global set-word and its value
  bool variant = false;    // compact: bit 6 of the type byte
  uint32_t header = 0;     // plain: the header word
};

// A word waiting for its owner to exist: a word record whose owner follows in full.
struct PendingWord {
  uint8_t type;
  uint32_t symbol;
  int32_t index;
  size_t index_at;
};

// A context record read up to its values: its flags and its word count. The words' symbols are
// in the reader's scratch list until the context is made (nothing is decoded in between), and
// their positions are found again from the first one's only when one is refused.
struct ContextShape {
  size_t at;
  size_t symbols_at;  // position of the first symbol field
  uint32_t kind;
  uint32_t count;
  bool stack_held, self, values;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size, bool bounded, bool compact, uint32_t output,
         const Cell* source)
      : data_(data), size_(size), bounded_(bounded), compact_(compact),
        min_record_(compact ? 1 : 4), user_(user_decoding), output_(output),
        base_(cell_count(output)), source_(source) {}

  uint32_t run();

 private:
  const uint8_t* data_;
  size_t size_;
  bool bounded_;
  bool compact_;
  size_t min_record_;  // the fewest bytes a record or a field takes
  bool user_;
  uint32_t output_;
  uint32_t base_;
  const Cell* source_;
  size_t pos_ = kHeaderSize;
  size_t end_ = 0;  // what reads stay below: the counts area, then the end of the records
  // The symbol table: offsets into the string area, and the ids interned so far (0: not yet).
  std::vector<uint32_t> offsets_;
  const uint8_t* strings_ = nullptr;
  size_t strings_size_ = 0;
  std::vector<uint32_t> ids_;
  // By symbol table entry: the index of its word in the global context (kNoIndex: not yet).
  std::vector<uint32_t> global_index_;
  static constexpr uint32_t kNoIndex = 0xFFFFFFFF;
  // The symbols of the context record being read (read_context_shape to make_context).
  std::vector<uint32_t> shape_symbols_;
  // The last context made, whose word table a context of the same words copies (kept alive).
  uint32_t last_context_ = 0;
  gc::Guard keep_last_context_{last_context_};

  // --- Reading bytes ---------------------------------------------------------------------------

  [[noreturn]] void fail(size_t at) const {
    const Cell position = integer::make(int32_t(std::min<size_t>(at + 1, INT32_MAX)));
    rt::fire_error("script", "zb-invalid-record", &position);
  }
  [[noreturn]] void fire_invalid_data() const {
    const Cell argument = source_ ? *source_ : constants::none;
    rt::fire_error("script", "invalid-data", &argument);
  }
  [[noreturn]] static void fire_no_codec(uint8_t type) {
    const Cell datatype = cell::make_datatype(type);
    rt::fire_error("access", "no-codec", &datatype);
  }
  size_t left() const { return end_ - pos_; }
  void need(size_t n) const {
    if (n > left()) fail(end_);
  }
  uint8_t byte() {
    if (pos_ >= end_) [[unlikely]] fail(end_);
    return data_[pos_++];
  }
  uint32_t u32() {
    need(4);
    pos_ += 4;
    return le32(data_ + pos_ - 4);
  }
  const uint8_t* take(size_t n) {
    need(n);
    pos_ += n;
    return data_ + pos_ - n;
  }
  uint32_t varint() {
    if (pos_ < end_ && data_[pos_] < 0x80) [[likely]] return data_[pos_++];
    return long_varint();
  }
  uint32_t long_varint() {
    uint32_t value = 0;
    for (int i = 0; i < 5; i++) {
      const size_t at = pos_;
      const uint8_t b = byte();
      if (i == 4 && (b & 0xF0)) fail(at);
      value |= uint32_t(b & 0x7F) << (7 * i);
      if (!(b & 0x80)) break;
    }
    return value;
  }
  uint32_t field() { return compact_ ? varint() : u32(); }
  int32_t signed_field() {
    if (!compact_) return int32_t(u32());
    const uint32_t v = varint();
    return int32_t((v >> 1) ^ (0u - (v & 1)));
  }
  // A count of things that each take at least `each` bytes of what is left.
  uint32_t count_field(size_t each) {
    const size_t at = pos_;
    const uint32_t n = field();
    if (each && n > left() / each) fail(at);
    return n;
  }
  void skip_padding(size_t length) {
    if (!compact_) take((4 - length % 4) % 4);
  }
  // Plain filler words (a header word of 0) before a record.
  void skip_fillers() {
    while (!compact_ && pos_ < end_) {
      need(4);
      if (le32(data_ + pos_)) return;
      pos_ += 4;
    }
  }
  bool is_reference(const Lead& lead) const {
    return compact_ ? lead.reference : (lead.header & kPlainReference) != 0;
  }
  uint32_t read_head(const Lead& lead) {
    const size_t at = pos_;
    const uint32_t head = compact_ ? (lead.variant ? varint() : 0) : u32();
    if (head > INT32_MAX) fail(at);
    return head;
  }

  // --- Symbols and paths -------------------------------------------------------------------------

  void read_symbol_table(uint32_t count, size_t count_at, uint32_t size, size_t size_at);
  // The symbol table entry, interned.
  [[gnu::always_inline]] uint32_t read_symbol_entry() {
    // A compact index of one or two bytes, already interned.
    if (compact_ && pos_ + 1 < end_) [[likely]] {
      const uint32_t first = data_[pos_];
      const bool one = first < 0x80;
      if (one || data_[pos_ + 1] < 0x80) {
        const uint32_t index = one ? first : (first & 0x7F) | uint32_t(data_[pos_ + 1]) << 7;
        if (index < ids_.size() && ids_[index]) {
          pos_ += one ? 1 : 2;
          return index;
        }
      }
    }
    return read_new_symbol_entry();
  }
  uint32_t read_new_symbol_entry();
  uint32_t read_symbol() { return ids_[read_symbol_entry()]; }
  [[gnu::always_inline]] Cell global_word(uint8_t type, uint32_t entry) {
    if (global_index_[entry] == kNoIndex) [[unlikely]] add_global_word(entry);
    return Cell{type, context::global, ids_[entry], global_index_[entry]};
  }
  void add_global_word(uint32_t entry);
  size_t symbol_position(size_t first, uint32_t i);
  Cell read_reference();
  Cell step(const Cell& current, uint32_t index, size_t at) const;

  // --- Records ---------------------------------------------------------------------------------

  void put(Slot slot, Cell value, const Lead& lead) const {
    value.header = (value.header & ~cell::kNewLine) | (lead.new_line ? cell::kNewLine : 0);
    *slot.get() = value;
  }
  // Runs a constructor of the value layer; an error it raises makes the record corrupt.
  template <class Body>
  void checked(size_t at, Body&& body) {
    Cell* top = stack::top;
    if (frames::try_catch(runtime_words::words.try_, body)) {
      stack::top = top;
      fail(at);
    }
  }
  uint32_t append_cell(uint32_t node) {
    alloc::Series* s = alloc::series_of(node);
    const uint32_t index = s->used() / uint32_t(sizeof(Cell));
    if (s->tail + sizeof(Cell) > s->capacity) [[unlikely]] {
      *cell::buffer_append_new_cell(node) = constants::unset;
      return index;
    }
    *reinterpret_cast<Cell*>(s->tail_ptr()) = constants::unset;
    s->tail += uint32_t(sizeof(Cell));
    return index;
  }
  void read_children(uint32_t node, uint32_t count);

  uint8_t compact_prefixes(Lead& lead, bool set_words);
  uint32_t decode(Slot slot, bool in_block);
  void decode_typed(Slot slot, const Lead& lead);
  void read_double(Slot slot, const Lead& lead);
  void read_compound(Slot slot, const Lead& lead);
  void read_date(Slot slot, const Lead& lead);
  void read_block(Slot slot, const Lead& lead);
  void read_text(Slot slot, const Lead& lead);
  void read_map(Slot slot, const Lead& lead);
  void read_bitset(Slot slot, const Lead& lead);
  void read_word(Slot slot, const Lead& lead);
  void read_native(Slot slot, const Lead& lead);
  void read_op(Slot slot, const Lead& lead);
  void read_error(Slot slot, const Lead& lead);
  void read_object_reference(Slot slot, const Lead& lead);
  void read_function_reference(Slot slot, const Lead& lead);

  ContextShape read_context_shape(const Lead* own);
  bool same_words(uint32_t context) const;
  uint32_t make_context(const ContextShape& shape);
  void read_values(uint32_t context, const ContextShape& shape);
  Cell bind(const PendingWord& word, uint32_t context) const;
  uint32_t owner_context(const Cell& value, size_t at) const;
  void read_owner(Slot slot, const Lead& word_lead, const PendingWord& word);
  void read_object(Slot slot, const Lead& lead, const PendingWord* word);
  void read_function(Slot slot, const Lead& lead, const PendingWord* word);
  Cell read_function_block(uint32_t placeholder);
  bool spec_fits_context(uint32_t spec, uint32_t context) const;
};

// --- Header and tables ---------------------------------------------------------------------------

uint32_t Reader::run() {
  // The counts: root count (unused), records length, then symbol count and string area size.
  end_ = bounded_ ? std::min(size_, pos_ + 20) : kUnbounded;
  if (!compact_) {
    if (bounded_ && size_ - kHeaderSize < 8) fire_invalid_data();
    end_ = bounded_ ? size_ : kUnbounded;
  }
  field();
  const size_t records_at = pos_;
  const uint32_t records = field();
  uint32_t symbols = 0, strings = 0;
  size_t symbols_at = pos_, strings_at = pos_;
  const bool has_symbols = data_[7] & kSymbols;
  if (has_symbols) {
    symbols_at = pos_;
    symbols = field();
    strings_at = pos_;
    strings = field();
  }
  end_ = bounded_ ? size_ : kUnbounded;
  if (has_symbols) read_symbol_table(symbols, symbols_at, strings, strings_at);
  if (records > INT32_MAX || (bounded_ && records > left())) fail(records_at);
  end_ = pos_ + records;

  while (true) {
    skip_fillers();
    if (pos_ >= end_) break;
    decode(Slot{output_, append_cell(output_)}, true);
  }
  return base_;
}

void Reader::read_symbol_table(uint32_t count, size_t count_at, uint32_t size, size_t size_at) {
  if (count > INT32_MAX || (bounded_ && count > left() / 4)) fail(count_at);
  if (size > INT32_MAX || (bounded_ && size > left() - size_t(count) * 4)) fail(size_at);
  offsets_.resize(count);
  ids_.assign(count, 0);
  global_index_.assign(count, kNoIndex);
  std::vector<size_t> offset_at(count);
  for (uint32_t i = 0; i < count; i++) {
    offset_at[i] = pos_;
    offsets_[i] = u32();
    if (offsets_[i] >= size) fail(offset_at[i]);
  }
  strings_ = take(size);
  strings_size_ = size;
  // Every spelling ends inside the area: the compact form ends the area with a 0 byte; the
  // plain form's padding leaves that unsaid, so each spelling is checked.
  if (compact_) {
    if (size && strings_[size - 1]) fail(pos_ - 1);
  } else {
    for (uint32_t i = 0; i < count; i++) {
      if (!std::memchr(strings_ + offsets_[i], 0, size - offsets_[i])) fail(offset_at[i]);
    }
  }
}

uint32_t Reader::read_new_symbol_entry() {
  if (!compact_ && pos_ + 4 <= end_) {
    const uint32_t index = le32(data_ + pos_);
    if (index < ids_.size() && ids_[index]) {
      pos_ += 4;
      return index;
    }
  }
  const size_t at = pos_;
  const uint32_t index = field();
  if (index >= offsets_.size()) fail(at);
  if (!ids_[index]) [[unlikely]] {
    const uint8_t* name = strings_ + offsets_[index];
    const size_t length = std::strlen(reinterpret_cast<const char*>(name));
    if (!valid_spelling(name, length)) fail(at);
    ids_[index] = symbol::intern_bytes(name, uint32_t(length));
  }
  return index;
}

// Adds the symbol table entry's word to the global context (global_word, the first time): a
// global word keeps its index for good, so the entry keeps it.
void Reader::add_global_word(uint32_t entry) {
  global_index_[entry] = context::add_word(context::global, Cell{TYPE_WORD, 0, ids_[entry], 0});
}

// The position of symbol field i of a list whose first field is at `first`.
size_t Reader::symbol_position(size_t first, uint32_t i) {
  const size_t saved = pos_;
  pos_ = first;
  for (uint32_t k = 0; k < i; k++) field();
  const size_t at = pos_;
  pos_ = saved;
  return at;
}

// An index path: from the first value of this decode, one index a step.
Cell Reader::read_reference() {
  size_t at = pos_;
  const uint32_t count = count_field(min_record_);
  if (count == 0 || count > kMaxPathLength) fail(at);
  at = pos_;
  uint32_t index = field();
  if (index >= cell_count(output_) - base_) fail(at);
  Cell current = cells_of(output_)[base_ + index];
  for (uint32_t k = 1; k < count; k++) {
    at = pos_;
    index = field();
    current = step(current, index, at);
  }
  return current;
}

Cell Reader::step(const Cell& current, uint32_t index, size_t at) const {
  auto element = [&](uint32_t node, uint64_t i) -> Cell {
    if (!node || i >= cell_count(node)) fail(at);
    return cells_of(node)[i];
  };
  auto in_function = [&](const Cell& function) -> Cell {
    if (index == 0) return cell::make_series(TYPE_BLOCK, function::spec_of(function));
    const Cell body = function::body_of(function);
    if (index != 1 || cell::type_of(body) != TYPE_BLOCK) fail(at);
    return body;
  };
  auto heap_values = [&](uint32_t context) -> uint32_t {
    if (!context || context::stack_held(context)) fail(at);
    return context::values_position(context);
  };
  const uint8_t type = cell::type_of(current);
  switch (type) {
    case TYPE_NATIVE: case TYPE_ACTION:
      return element(native::spec_of(current), index);
    case TYPE_FUNCTION:
      return in_function(current);
    case TYPE_OP:
      if (native::wrapped_type(current) == TYPE_FUNCTION) return in_function(current);
      return element(native::spec_of(current), index);
    case TYPE_OBJECT:
      return element(heap_values(object::context_of(current)), index);
    case TYPE_ERROR:
      return element(heap_values(error::context_of(current)), uint64_t(index) + error::kArg1);
    case TYPE_MAP:
      return element(cell::series_node(current), index);
    default:
      break;
  }
  if (types::any_block(type)) return element(cell::series_node(current), index);
  if (is_word_type(type)) {
    const uint32_t context = word::context_of(current);
    if (context && context::stack_held(context)) {
      const Cell owner = *context::owner_cell(context);
      if (cell::type_of(owner) != TYPE_FUNCTION) fail(at);
      return in_function(owner);
    }
    return element(heap_values(context), index);
  }
  fail(at);
}

// --- Records -------------------------------------------------------------------------------------

void Reader::read_children(uint32_t node, uint32_t count) {
  for (uint32_t i = 0; i < count;) {
    const uint32_t index = append_cell(node);
    // The commonest compact records without a prefix, taken here: a small integer, and a word
    // of the global context (a type byte of the word family without its variant flag).
    if (compact_ && pos_ < end_) {
      const uint8_t b = data_[pos_];
      if (b >= kSmallInteger && b < kNewLinePrefix) {
        pos_++;
        cells_of(node)[index] = integer::make(b - kSmallInteger);
        i++;
        continue;
      }
      if (b >= TYPE_WORD && b <= TYPE_REFINEMENT) {
        pos_++;
        const Cell word = global_word(b, read_symbol_entry());
        cells_of(node)[index] = word;
        i++;
        continue;
      }
    }
    // A plain global word of user data: header, symbol entry, index (found again by symbol).
    if (!compact_ && user_ && pos_ + 12 <= end_) {
      const uint32_t header = le32(data_ + pos_);
      const uint8_t type = uint8_t(header);
      const uint32_t entry = le32(data_ + pos_ + 4);
      if (type >= TYPE_WORD && type <= TYPE_REFINEMENT && (header & kPlainGlobal) &&
          entry < ids_.size() && ids_[entry]) {
        pos_ += 12;
        Cell word = global_word(type, entry);
        if (header & kPlainNewLine) word.header |= cell::kNewLine;
        cells_of(node)[index] = word;
        i++;
        continue;
      }
    }
    i += decode(Slot{node, index}, true);
  }
}

// Reads a compact record's prefixes into the lead: new line, reference and, where set_words
// allows it, the boot image's global set-word. Returns the first other byte, lead.at at it.
uint8_t Reader::compact_prefixes(Lead& lead, bool set_words) {
  while (true) {
    lead.at = pos_;
    const uint8_t b = byte();
    if (b == kNewLinePrefix) {
      lead.new_line = true;
    } else if (b == kReferencePrefix) {
      lead.reference = true;
    } else if (set_words && b == kSetWordPrefix) {
      if (user_) fail(lead.at);
      lead.set_word = true;
    } else {
      return b;
    }
  }
}

// Decodes one record into the slot. Returns the records it took: 1, or 2 for a boot-image
// global set-word and its value, which both leave the block (the slot is then gone).
uint32_t Reader::decode(Slot slot, bool in_block) {
  rt::check_stack();
  Lead lead;
  if (compact_) {
    const uint8_t b = compact_prefixes(lead, true);
    if (b >= kSmallInteger) {
      if (lead.reference || lead.set_word) fail(lead.at);
      if (b < kNewLinePrefix) {
        put(slot, integer::make(b - kSmallInteger), lead);
      } else if (b == kTrue || b == kFalse) {
        put(slot, logic::make(b == kTrue), lead);
      } else if (b == kCopyReference) {
        put(slot, read_reference(), lead);
      } else {
        fail(lead.at);
      }
      return 1;
    }
    lead.type = b & kEscape;
    lead.variant = b & kVariant;
    if (lead.type == kEscape) {
      const uint32_t id = varint();
      if (id > 0xFF) fail(lead.at);
      lead.type = uint8_t(id);
    }
    if (lead.reference && !referable(lead.type)) fail(lead.at);
    if (lead.set_word && (lead.type < TYPE_WORD || lead.type > TYPE_ISSUE)) fail(lead.at);
  } else {
    skip_fillers();
    lead.at = pos_;
    lead.header = u32();
    lead.type = uint8_t(lead.header);
    lead.new_line = lead.header & kPlainNewLine;
    lead.set_word = !user_ && is_word_type(lead.type) && (lead.header & kPlainGlobal);
  }
  if (lead.type == 0) fail(lead.at);

  if (!lead.set_word) {
    decode_typed(slot, lead);
    return 1;
  }
  // A global set-word of the boot image: the word, then its value; the word is set (its owner
  // told) and both leave the block.
  if (!in_block) fail(lead.at);
  decode_typed(slot, lead);
  const Slot value_slot{slot.node, append_cell(slot.node)};
  decode(value_slot, false);
  Cell word = *slot.get();
  const Cell value = *value_slot.get();
  object::write_word(word, value);
  alloc::Series* s = alloc::series_of(slot.node);
  s->tail = s->head + slot.index * uint32_t(sizeof(Cell));
  return 2;
}

void Reader::decode_typed(Slot slot, const Lead& lead) {
  const uint8_t type = lead.type;
  switch (type) {
    case TYPE_DATATYPE: {
      const size_t at = pos_;
      const uint32_t id = field();
      if (id >= TYPE_COUNT || !types::name(uint8_t(id))) fail(at);
      return put(slot, cell::make_datatype(uint8_t(id)), lead);
    }
    case TYPE_UNSET: case TYPE_NONE:
      return put(slot, Cell{type, 0, 0, 0}, lead);
    case TYPE_LOGIC: {
      if (compact_) fail(lead.at);  // logic! has its own lead bytes
      const size_t at = pos_;
      const uint32_t truth = u32();
      if (truth > 1) fail(at);
      return put(slot, logic::make(truth), lead);
    }
    case TYPE_CHAR: {
      const size_t at = pos_;
      const uint32_t code_point = field();
      if (code_point > unicode::kMaxCodePoint) fail(at);
      return put(slot, char_::make(code_point), lead);
    }
    case TYPE_INTEGER:
      return put(slot, integer::make(signed_field()), lead);
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_TIME:
      return read_double(slot, lead);
    case TYPE_PAIR: {
      const int32_t x = signed_field();
      return put(slot, pair::make(x, signed_field()), lead);
    }
    case TYPE_POINT2D: case TYPE_POINT3D: case TYPE_TUPLE: case TYPE_TYPESET: case TYPE_MONEY:
      return read_compound(slot, lead);
    case TYPE_DATE:
      return read_date(slot, lead);
    case TYPE_ISSUE:
      return put(slot, Cell{TYPE_ISSUE, context::global, read_symbol(), context::kUnresolved},
                 lead);
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
      return read_word(slot, lead);
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
    case TYPE_GET_PATH: case TYPE_HASH:
      return read_block(slot, lead);
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF: case TYPE_BINARY:
      return read_text(slot, lead);
    case TYPE_MAP:
      return read_map(slot, lead);
    case TYPE_BITSET:
      return read_bitset(slot, lead);
    case TYPE_NATIVE: case TYPE_ACTION:
      return read_native(slot, lead);
    case TYPE_OP:
      return read_op(slot, lead);
    case TYPE_ERROR:
      return read_error(slot, lead);
    case TYPE_OBJECT:
      if (is_reference(lead)) return read_object_reference(slot, lead);
      return read_object(slot, lead, nullptr);
    case TYPE_FUNCTION:
      if (is_reference(lead)) return read_function_reference(slot, lead);
      return read_function(slot, lead, nullptr);
    case TYPE_CONTEXT: {
      // A bare context reads back as an object over it. Only the boot image has contexts whose
      // values live on the stack: its functions' contexts.
      const ContextShape shape = read_context_shape(&lead);
      if (shape.stack_held && user_) fail(lead.at);
      uint32_t context = 0;
      gc::Guard keep(context);
      context = make_context(shape);
      const Cell object{TYPE_OBJECT, context, uint32_t(-1), 0};
      *context::owner_cell(context) = object;
      put(slot, object, lead);
      return read_values(context, shape);
    }
    case TYPE_ROUTINE: case TYPE_TRIPLE: case TYPE_HANDLE: case TYPE_PORT: case TYPE_EVENT:
    case TYPE_VECTOR: case TYPE_IMAGE:
      fire_no_codec(type);
    default:  // symbol!, series!, and ids no datatype has
      fail(lead.at);
  }
}

void Reader::read_double(Slot slot, const Lead& lead) {
  double d;
  if (compact_ && lead.variant) {
    const int32_t n = signed_field();
    d = lead.type == TYPE_PERCENT ? n / 100.0 : n;
  } else if (compact_) {
    std::memcpy(&d, take(8), 8);
  } else {
    const uint64_t high = u32();
    const uint64_t bits = high << 32 | u32();
    std::memcpy(&d, &bits, 8);
  }
  if (lead.type == TYPE_TIME && !time_::in_range(d)) fail(lead.at);
  Cell value{lead.type, 0, 0, 0};
  cell::set_double(value, d);
  put(slot, value, lead);
}

// The values held in the cell's payload bytes: points, tuple!, typeset!, money!.
void Reader::read_compound(Slot slot, const Lead& lead) {
  const uint8_t type = lead.type;
  Cell value{type, 0, 0, 0};
  auto* payload = reinterpret_cast<uint8_t*>(&value.w1);
  switch (type) {
    case TYPE_POINT2D:
      value.w1 = u32();
      value.w2 = u32();
      break;
    case TYPE_POINT3D:
      value.w1 = u32();
      value.w2 = u32();
      value.w3 = u32();
      break;
    case TYPE_TUPLE: {
      const size_t at = pos_;
      uint32_t count = compact_ ? (lead.variant ? byte() : 3)
                                : (lead.header >> kPlainWidthShift) & 0xFF;
      if (count < tuple::kMinBytes || count > tuple::kMaxBytes) fail(compact_ ? at : lead.at);
      uint8_t bytes[tuple::kMaxBytes] = {};
      std::memcpy(bytes, take(compact_ ? count : tuple::kMaxBytes), compact_ ? count : 12);
      tuple::make_at(&value, count, bytes);
      break;
    }
    case TYPE_TYPESET: {
      const size_t at = pos_;
      const uint32_t count = compact_ ? byte() : 12;
      if (count > 12) fail(at);
      std::memcpy(payload, take(count), count);
      break;
    }
    default: {  // money!
      const size_t at = pos_;
      std::memcpy(payload, take(12), 12);
      if (!valid_money_digits(payload)) fail(at);
      const bool negative = compact_ ? lead.variant : (lead.header & kPlainNegative);
      if (negative && !money::zero_q(value)) value.header |= money::kSignFlag;
      break;
    }
  }
  put(slot, value, lead);
}

void Reader::read_date(Slot slot, const Lead& lead) {
  const size_t at = pos_;
  const uint32_t packed = u32();
  double time = 0;
  if (compact_) {
    if (lead.variant != bool(packed & date::kTimeFlag)) fail(at);
    if (lead.variant) std::memcpy(&time, take(8), 8);
  } else {
    const uint64_t high = u32();
    const uint64_t bits = high << 32 | u32();
    std::memcpy(&time, &bits, 8);
  }
  if (!valid_date(packed, time)) fail(at);
  Cell value{TYPE_DATE, packed, 0, 0};
  cell::set_double(value, time);
  put(slot, value, lead);
}

void Reader::read_block(Slot slot, const Lead& lead) {
  const uint8_t type = lead.type;
  const uint32_t head = read_head(lead);
  if (is_reference(lead)) {
    const size_t at = pos_;
    Cell reached = read_reference();
    const uint8_t reached_type = cell::type_of(reached);
    if (type == TYPE_HASH) {
      if (reached_type != TYPE_HASH) fail(at);
      cell::set_series_index(reached, head);
      return put(slot, reached, lead);
    }
    // A function value stands for its spec block.
    if (!is_block_type(reached_type) && !types::any_function(reached_type)) fail(at);
    return put(slot, cell::make_series(type, cell::series_node(reached), head), lead);
  }
  const uint32_t count = count_field(min_record_);
  uint32_t node = 0;
  gc::Guard keep(node);
  node = alloc::new_cell_series(std::max(count, 1u));
  Cell block = cell::make_series(type, node, head);
  if (type == TYPE_HASH) {
    hash::set_table_node(block, hashtable::make(count, node, hashtable::kHash, 0));
  }
  put(slot, block, lead);
  read_children(node, count);
  if (type == TYPE_HASH) hashtable::index_cells(hash::table_node_of(block), 0, 1);
}

void Reader::read_text(Slot slot, const Lead& lead) {
  const uint8_t type = lead.type;
  const uint32_t head = read_head(lead);
  if (is_reference(lead)) {
    const size_t at = pos_;
    const Cell reached = read_reference();
    const uint8_t reached_type = cell::type_of(reached);
    if (type == TYPE_BINARY ? reached_type != TYPE_BINARY : !types::any_string(reached_type)) {
      fail(at);
    }
    return put(slot, cell::make_series(type, cell::series_node(reached), head), lead);
  }
  size_t at = pos_;
  uint32_t unit = 1, count;
  if (!compact_) {
    unit = (lead.header >> kPlainWidthShift) & 0xFF;
    if (type == TYPE_BINARY ? unit != 1 : (unit != 1 && unit != 2 && unit != 4)) fail(lead.at);
    at = pos_;
    count = u32();
  } else if (type == TYPE_BINARY) {
    count = varint();
  } else {
    const uint32_t coded = varint();
    if ((coded & 3) == 3) fail(at);
    unit = 1u << (coded & 3);
    count = coded >> 2;
  }
  const uint64_t length = uint64_t(count) * unit;
  if (length > left()) fail(at);
  const uint8_t* bytes = data_ + pos_;
  if (unit == 4) {
    for (uint32_t i = 0; i < count; i++) {
      if (le32(bytes + 4 * i) > unicode::kMaxCodePoint) fail(pos_ + 4 * i);
    }
  }
  pos_ += length;
  Cell value;
  if (type == TYPE_BINARY) {
    binary::make_from_bytes(&value, bytes, length);
  } else {
    string::init_empty_of_unit(&value, count, unit);
    alloc::Series* s = cell::series_of(value);
    if (length) std::memcpy(s->head_ptr(), bytes, length);
    s->tail = s->head + uint32_t(length);
    cell::set_type(value, type);
  }
  cell::set_series_index(value, head);
  put(slot, value, lead);
  skip_padding(length);
}

void Reader::read_map(Slot slot, const Lead& lead) {
  if (is_reference(lead)) {
    const size_t at = pos_;
    const Cell reached = read_reference();
    if (cell::type_of(reached) != TYPE_MAP) fail(at);
    return put(slot, reached, lead);
  }
  const size_t at = pos_;
  const uint32_t count = count_field(min_record_);
  if (count % 2) fail(at);
  uint32_t pairs = 0;
  gc::Guard keep(pairs);
  pairs = alloc::new_cell_series(std::max(count, 2u));
  const uint32_t table = hashtable::make(count / 2, pairs, hashtable::kMap, 2);
  put(slot, Cell{TYPE_MAP, 0, pairs, table}, lead);
  for (uint32_t i = 0; i < count; i++) {
    skip_fillers();
    const size_t record_at = pos_;
    decode(Slot{pairs, append_cell(pairs)}, false);
    if (i % 2 == 0 && !hashtable::map_key_accepted(cell::type_of(cells_of(pairs)[i]))) {
      fail(record_at);
    }
  }
  // Keys are entered (and stored in their own form) once every entry is in.
  hashtable::index_cells(table, 0, 2);
}

void Reader::read_bitset(Slot slot, const Lead& lead) {
  if (is_reference(lead)) {
    const size_t at = pos_;
    const Cell reached = read_reference();
    if (cell::type_of(reached) != TYPE_BITSET) fail(at);
    return put(slot, reached, lead);
  }
  const uint32_t count = count_field(1);
  const bool complemented = compact_ ? lead.variant : (lead.header & kPlainComplement);
  const uint8_t* bytes = take(count);
  // Beyond its stored bytes a bitset's buffer holds what it reads as there.
  const uint32_t node =
      alloc::new_byte_series_filled(std::max(count, 16u), complemented ? 0xFF : 0x00);
  alloc::Series* s = alloc::series_of(node);
  if (count) std::memcpy(s->head_ptr(), bytes, count);
  s->tail = s->head + count;
  if (complemented) s->flags |= bitset::kComplemented;
  put(slot, cell::make_series(TYPE_BITSET, node), lead);
  skip_padding(count);
}

// --- Words and their owners ------------------------------------------------------------------

void Reader::read_word(Slot slot, const Lead& lead) {
  const uint8_t type = lead.type;
  const uint32_t entry = read_symbol_entry();
  const uint32_t symbol = ids_[entry];
  auto global = [&] { put(slot, global_word(type, entry), lead); };
  if (!user_) {
    // The boot image binds by output index: the value there names the context (none: global).
    size_t at = pos_;
    uint32_t reference = 0;
    if (compact_) {
      if (!lead.variant) return global();
      reference = varint();
    } else {
      reference = u32();
    }
    const size_t index_at = pos_;
    const int32_t index = signed_field();
    if (!compact_ && reference == 0xFFFFFFFF) return global();
    if (reference >= cell_count(output_) - base_) fail(at);
    const uint32_t context = owner_context(cells_of(output_)[base_ + reference], at);
    return put(slot, bind(PendingWord{type, symbol, index, index_at}, context), lead);
  }
  const bool bound = compact_ ? lead.variant : !(lead.header & kPlainGlobal);
  if (!bound) {
    if (!compact_) u32();  // the index in the global context: found again by symbol
    return global();
  }
  const size_t index_at = pos_;
  const PendingWord word{type, symbol, signed_field(), index_at};
  if (!compact_ && (lead.header & kPlainReference)) {
    const size_t at = pos_;
    const Cell owner = read_reference();
    return put(slot, bind(word, owner_context(owner, at)), lead);
  }
  read_owner(slot, lead, word);
}

// The owner after a bound word: a reference to an object! or function! written before, or the
// owner in full (not added to the output).
void Reader::read_owner(Slot slot, const Lead& word_lead, const PendingWord& word) {
  Lead owner;
  owner.at = pos_;
  if (compact_) {
    uint8_t b = byte();
    if (b == kReferencePrefix) {
      owner.reference = true;
      owner.at = pos_;
      b = byte();
    }
    // An object (its variant flag: change handlers) or a function; as a reference, the bare id.
    owner.type = b & kEscape;
    owner.variant = b & kVariant;
    const bool object =
        owner.type == TYPE_OBJECT && b < kSmallInteger && !(owner.reference && owner.variant);
    if (b != TYPE_FUNCTION && !object) fail(owner.at);
    if (owner.reference) {
      const size_t at = pos_;
      const Cell reached = read_reference();
      return put(slot, bind(word, owner_context(reached, at)), word_lead);
    }
  } else {
    owner.header = u32();
    owner.type = uint8_t(owner.header);
    if ((owner.type != TYPE_OBJECT && owner.type != TYPE_FUNCTION) ||
        (owner.header & (kPlainReference | kPlainNewLine))) {
      fail(owner.at);
    }
  }
  owner.new_line = word_lead.new_line;  // the slot gets the word, with the word's flag
  if (owner.type == TYPE_OBJECT) return read_object(slot, owner, &word);
  read_function(slot, owner, &word);
}

Cell Reader::bind(const PendingWord& word, uint32_t context) const {
  uint32_t index;
  if (word.index == -1) {
    const int32_t found = context::find_symbol(context, word.symbol, true);
    index = found < 0 ? context::kUnresolved : uint32_t(found);
  } else if (word.index < 0 || uint32_t(word.index) >= context::word_count(context)) {
    fail(word.index_at);
  } else {
    index = uint32_t(word.index);
  }
  return Cell{word.type, context, word.symbol, index};
}

// The context a reference names as a word's owner: an object's or a function's (an op! over a
// function included), or that of a word bound to one.
uint32_t Reader::owner_context(const Cell& value, size_t at) const {
  const uint8_t type = cell::type_of(value);
  if (type == TYPE_OBJECT) return object::context_of(value);
  if (type == TYPE_FUNCTION) return function::context_of(value);
  if (type == TYPE_OP && native::wrapped_type(value) == TYPE_FUNCTION) {
    return function::context_of(value);
  }
  if (is_word_type(type) && word::context_of(value)) {
    const uint8_t owner = cell::type_of(*context::owner_cell(word::context_of(value)));
    if (owner == TYPE_OBJECT || owner == TYPE_FUNCTION) return word::context_of(value);
  }
  fail(at);
}

void Reader::read_object_reference(Slot slot, const Lead& lead) {
  const size_t at = pos_;
  Cell reached = read_reference();
  if (is_word_type(cell::type_of(reached)) && word::context_of(reached)) {
    reached = *context::owner_cell(word::context_of(reached));
  }
  if (cell::type_of(reached) != TYPE_OBJECT) fail(at);
  put(slot, reached, lead);
}

void Reader::read_function_reference(Slot slot, const Lead& lead) {
  const size_t at = pos_;
  Cell reached = read_reference();
  const uint8_t type = cell::type_of(reached);
  if (type == TYPE_OP && native::wrapped_type(reached) == TYPE_FUNCTION) {
    reached = native::unwrap_op(reached);
  } else if (is_word_type(type) && word::context_of(reached)) {
    reached = *context::owner_cell(word::context_of(reached));
  }
  if (cell::type_of(reached) != TYPE_FUNCTION) fail(at);
  put(slot, reached, lead);
}

// --- Contexts, objects and functions ---------------------------------------------------------

// A context record's flags and words; `own` is the record's lead when it was read already (a
// bare context), else the record starts here.
ContextShape Reader::read_context_shape(const Lead* own) {
  ContextShape shape;
  shape.at = own ? own->at : pos_;
  uint32_t kind;
  if (compact_) {
    if (!own && byte() != TYPE_CONTEXT) fail(shape.at);
    const uint8_t k = byte();
    kind = k & kKindMask;
    shape.stack_held = k & kStackHeld;
    shape.self = k & kSelf;
    shape.values = k & kValues;
  } else {
    const uint32_t header = own ? own->header : u32();
    if (uint8_t(header) != TYPE_CONTEXT || (!own && (header & kPlainNewLine))) fail(shape.at);
    kind = (header >> kPlainKindShift) & 3;
    shape.stack_held = header & kPlainStackHeld;
    shape.self = header & kPlainSelf;
    shape.values = header & kPlainValues;
  }
  if (kind > context::kObject) fail(shape.at);
  shape.kind = kind;
  shape.count = count_field(min_record_);
  shape.symbols_at = pos_;
  shape_symbols_.resize(shape.count);
  for (uint32_t i = 0; i < shape.count; i++) shape_symbols_[i] = read_symbol();
  return shape;
}

// A new context with the shape's words (a word twice is corrupt) and, kept on the heap, one
// unset! value each. Not rooted yet.
// Whether the context holds exactly the words of the scratch symbols, in order (and so a table
// made from them would hold what a copy of its table holds).
bool Reader::same_words(uint32_t context) const {
  if (!context || context::word_count(context) != shape_symbols_.size()) return false;
  const Cell* words = context::word_at(context, 0);
  for (size_t i = 0; i < shape_symbols_.size(); i++) {
    if (cell::type_of(words[i]) != TYPE_WORD || word::symbol_of(words[i]) != shape_symbols_[i] ||
        word::index_of(words[i]) != i) {
      return false;
    }
  }
  return true;
}

uint32_t Reader::make_context(const ContextShape& shape) {
  uint32_t context = 0;
  gc::Guard keep(context);
  if (same_words(last_context_)) {
    // Records of one shape (a block of objects): the words come in a copy of the table.
    context = context::create(shape.count, shape.stack_held, shape.self, last_context_,
                              context::Kind(shape.kind));
    Cell* words = context::word_at(context, 0);
    for (uint32_t i = 0; i < shape.count; i++) {
      words[i] = Cell{TYPE_WORD, context, word::symbol_of(words[i]), word::index_of(words[i])};
    }
  } else {
    context = context::create(shape.count, shape.stack_held, shape.self, 0,
                              context::Kind(shape.kind));
    const int32_t twice = context::add_new_words(context, shape_symbols_.data(), shape.count);
    if (twice >= 0) fail(symbol_position(shape.symbols_at, uint32_t(twice)));
  }
  last_context_ = context;
  return context;
}

void Reader::read_values(uint32_t context, const ContextShape& shape) {
  if (shape.stack_held || !shape.values) return;
  const uint32_t values = context::values_position(context);
  for (uint32_t i = 0; i < shape.count; i++) decode(Slot{values, i}, false);
}

// An object! record after its lead: class id, handler records, the context and its values. The
// object (or the pending word, bound to it) is stored in the slot before its values are read.
void Reader::read_object(Slot slot, const Lead& lead, const PendingWord* word) {
  const int32_t class_id = signed_field();
  const bool handlers = compact_ ? lead.variant : (lead.header & kPlainHandlers);
  if (handlers) {
    // The record is made again from the handler fields, once they are in.
    signed_field();
    signed_field();
  }
  const ContextShape shape = read_context_shape(nullptr);
  if (shape.stack_held) fail(shape.at);
  uint32_t context = 0;
  gc::Guard keep(context);
  context = make_context(shape);
  Cell object{TYPE_OBJECT, context, user_ ? uint32_t(-1) : uint32_t(class_id), 0};
  if (handlers) {
    Cell* held = stack::push_copy(object);
    object::prepare_handlers(held);
    object = *held;
    stack::pop_cells(1);
  } else {
    *context::owner_cell(context) = object;
  }
  put(slot, word ? bind(*word, context) : object, lead);
  read_values(context, shape);
  if (handlers) checked(lead.at, [&] { object::attach_handlers(object); });
}

// A function! record after its lead: the sizes of its spec and body, its context (values on the
// stack), then the spec and the body, each a block record or a reference to a block read before.
// The function stands in its slot (or in its context's owner cell, behind the pending word) with
// empty spec and body blocks while they are read.
void Reader::read_function(Slot slot, const Lead& lead, const PendingWord* word) {
  const uint32_t spec_size = field();
  const uint32_t body_size = field();
  const ContextShape shape = read_context_shape(nullptr);
  if (!shape.stack_held || shape.values) fail(shape.at);
  uint32_t context = 0, spec = 0, internals = 0, body = 0;
  gc::Guard keep_context(context), keep_spec(spec), keep_internals(internals), keep_body(body);
  context = make_context(shape);
  // The sizes are hints: never more than the bytes left could fill.
  spec = alloc::new_cell_series(uint32_t(std::clamp<size_t>(spec_size, 1, left() + 1)));
  body = alloc::new_cell_series(uint32_t(std::clamp<size_t>(body_size, 1, left() + 1)));
  internals = alloc::new_cell_series(function::kMoreCells);
  for (int32_t i = 0; i < function::kMoreCells; i++) append_cell(internals);
  cells_of(internals)[function::kBody] = cell::make_series(TYPE_BLOCK, body);
  Cell function{TYPE_FUNCTION, context, spec, internals};
  *context::owner_cell(context) = function;
  put(slot, word ? bind(*word, context) : function, lead);

  // The spec: the function's cells take its final node and attribute flags.
  const size_t spec_at = pos_;
  spec = cell::series_node(read_function_block(spec));
  if (!spec_fits_context(spec, context)) fail(spec_at);
  function::set_spec(function, spec);
  function.header |= function::spec_attributes(spec);
  *context::owner_cell(context) = function;
  if (!word) put(slot, function, lead);

  const Cell body_block = read_function_block(body);
  cells_of(internals)[function::kBody] = body_block;
}

// A spec or body record: a block! record read into the placeholder, or a reference to a block
// (a function value standing for its spec). Returns the block cell.
Cell Reader::read_function_block(uint32_t placeholder) {
  Lead lead;
  if (compact_) {
    const uint8_t b = compact_prefixes(lead, false);
    if ((b & kEscape) != TYPE_BLOCK || b >= kSmallInteger) fail(lead.at);
    lead.variant = b & kVariant;
  } else {
    skip_fillers();
    lead.at = pos_;
    lead.header = u32();
    lead.new_line = lead.header & kPlainNewLine;
    if (uint8_t(lead.header) != TYPE_BLOCK) fail(lead.at);
  }
  lead.type = TYPE_BLOCK;
  const uint32_t head = read_head(lead);
  uint32_t node = placeholder;
  if (is_reference(lead)) {
    const size_t at = pos_;
    const Cell reached = read_reference();
    const uint8_t type = cell::type_of(reached);
    if (!is_block_type(type) && !types::any_function(type)) fail(at);
    node = cell::series_node(reached);
  } else {
    read_children(placeholder, count_field(min_record_));
  }
  Cell block = cell::make_series(TYPE_BLOCK, node, head);
  if (lead.new_line) block.header |= cell::kNewLine;
  return block;
}

// Whether the context's words begin with the words the spec names (as a context made from the
// spec would hold them): the calls lay out their frames from both.
bool Reader::spec_fits_context(uint32_t spec, uint32_t context) const {
  std::vector<uint32_t> names;
  for (uint32_t i = 0; i < cell_count(spec); i++) {
    const Cell& entry = cells_of(spec)[i];
    const uint8_t type = cell::type_of(entry);
    if (type != TYPE_WORD && type != TYPE_GET_WORD && type != TYPE_LIT_WORD &&
        type != TYPE_REFINEMENT) {
      continue;
    }
    const uint32_t name = symbol::resolve_alias(word::symbol_of(entry));
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  if (names.size() > context::word_count(context)) return false;
  for (uint32_t i = 0; i < names.size(); i++) {
    if (symbol::resolve_alias(word::symbol_of(*context::word_at(context, i))) != names[i]) {
      return false;
    }
  }
  return true;
}

// --- Callables and errors ------------------------------------------------------------------------

// The spec record stands in the native's slot until the native made from it replaces it.
void Reader::read_native(Slot slot, const Lead& lead) {
  const uint8_t type = lead.type;
  const size_t at = pos_;
  const uint32_t index = field();
  const int32_t slots = type == TYPE_ACTION ? action::kSlotCount : native::kNativeSlots;
  if (index < 1 || index > uint32_t(slots)) fail(at);
  const size_t spec_at = pos_;
  decode(slot, false);
  if (cell::type_of(*slot.get()) != TYPE_BLOCK) fail(spec_at);
  checked(spec_at, [&] {
    Cell* proto = stack::push_copy(cell::make_datatype(type));
    Cell* spec = block::push_new(2);
    const Cell spec_block = *slot.get();
    block::append_cell(*spec, spec_block);
    block::append_cell(*spec, integer::make(int32_t(index)));
    put(slot, *native::make(proto, spec, type), lead);
  });
}

void Reader::read_op(Slot slot, const Lead& lead) {
  const size_t at = pos_;
  decode(slot, false);
  Cell callable = *slot.get();
  const uint8_t type = cell::type_of(callable);
  if (type != TYPE_NATIVE && type != TYPE_ACTION && type != TYPE_FUNCTION) fail(at);
  if (!compact_ && type != uint8_t(lead.header >> kPlainWrappedShift)) fail(lead.at);
  if (!native::check_op_spec(native::spec_of(callable))) fail(at);
  if (type == TYPE_FUNCTION) function::set_op_copy(callable);
  callable.header = (callable.header & ~(cell::kTypeMask | 0xFFu << native::kWrappedShift)) |
                    TYPE_OP | uint32_t(type) << native::kWrappedShift;
  put(slot, callable, lead);
}

void Reader::read_error(Slot slot, const Lead& lead) {
  if (is_reference(lead)) {
    const size_t at = pos_;
    const Cell reached = read_reference();
    if (cell::type_of(reached) != TYPE_ERROR) fail(at);
    return put(slot, reached, lead);
  }
  const size_t at = pos_;
  const uint32_t code = field();
  if (code > INT32_MAX) fail(at);
  checked(at, [&] {
    Cell* proto = stack::push_copy(cell::make_datatype(TYPE_ERROR));
    Cell* spec = stack::push_copy(integer::make(int32_t(code)));
    put(slot, *datatype::lookup<action::MAKE>(TYPE_ERROR)(proto, spec, TYPE_ERROR), lead);
  });
  const uint32_t values = context::values_position(error::context_of(*slot.get()));
  for (uint32_t f = error::kArg1; f <= error::kStack; f++) decode(Slot{values, f}, false);
}

}  // namespace

// --- Entry points --------------------------------------------------------------------------------

namespace {

// A stream refused as a whole: user data raises script/invalid-data; the boot image's loader
// prints its message and ends the process with status 0.
[[noreturn]] void refuse(bool raise_errors, const Cell* source, const char* message) {
  if (raise_errors) {
    const Cell argument = source ? *source : constants::none;
    rt::fire_error("script", "invalid-data", &argument);
  }
  rt::print_line({message});
  rt::runtime_error(0, nullptr);
}

}  // namespace

uint32_t read(const uint8_t* data, int64_t length, const Cell& output, bool raise_errors,
              const Cell* source) {
  bool bounded = length >= 0;
  size_t size = bounded ? size_t(length) : kUnbounded;
  if (size < kHeaderSize || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
    refuse(raise_errors, source, "Error: Not a Zelbin file!");
  }
  // A compressed body inflates to everything after the first 8 bytes: the reader sees the
  // stream as it would be uncompressed.
  std::vector<uint8_t> inflated;
  if (data[7] & kCompressed) {
    const char* corrupted = "Error: Zelbin compressed data corrupted!";
    if (size < kHeaderSize + 4) refuse(raise_errors, source, corrupted);
    const uint32_t packed = le32(data + kHeaderSize);
    if (packed == 0 || (bounded && packed > size - kHeaderSize - 4)) {
      refuse(raise_errors, source, corrupted);
    }
    std::vector<uint8_t> body;
    if (compression::decode_zstd(data + kHeaderSize + 4, packed,
                                 compression::default_limit(packed), 0,
                                 body) != compression::kOk) {
      refuse(raise_errors, source, corrupted);
    }
    inflated.assign(data, data + kHeaderSize);
    inflated.insert(inflated.end(), body.begin(), body.end());
    data = inflated.data();
    size = inflated.size();
    bounded = true;
  }
  Reader reader(data, size, bounded, data[7] & kCompact, cell::series_node(output), source);
  return reader.run();
}

Cell* decode(const Cell& binary) {
  user_decoding = true;
  const Cell source = binary;
  alloc::Series* s = cell::series_of(source);
  const uint32_t head = std::min(cell::series_index(source), s->used());
  // The reader allocates: it reads a copy of the bytes, outside series memory.
  const std::vector<uint8_t> bytes(s->head_ptr() + head, s->tail_ptr());
  Cell* held = stack::push_copy(source);
  Cell* output = block::push_new(4);
  read(bytes.data(), int64_t(bytes.size()), *output, true, held);
  *held = *output;
  stack::pop_cells(1);
  return held;
}

void load_boot(const uint8_t* payload, bool keep_literals) {
  user_decoding = false;
  const bool collecting = gc::enabled;
  gc::enabled = false;
  const Cell root = cell::make_series(TYPE_BLOCK, runtime_words::root_block);
  uint32_t first;
  try {
    first = read(payload, -1, root, false);
  } catch (...) {
    gc::enabled = collecting;
    throw;
  }
  gc::enabled = collecting;
  if (!keep_literals) root_literals = first;
}

}  // namespace zelbin
