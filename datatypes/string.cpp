// string!: the text buffers (reading, writing, widening, copying, comparing and molding text in
// series buffers of 1-, 2- or 4-byte code units), then the datatype's entries: make and to build
// text from sizes, blocks, other texts, binaries and the form of any value; form appends the
// text itself; mold writes it in double quotes or in braces, with caret escapes; compare folds
// letter case except for the strict operators. Relies on runtime/unicode.h for widening and
// decoding, runtime/casefold.h for case-insensitive comparison, and the data stack for new
// values and for text under construction. Every function that allocates keeps nodes and unit
// positions across the allocation, never addresses (see string.h).
#include "datatypes/string.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/char.h"
#include "datatypes/constants.h"
#include "datatypes/datatype.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "runtime/casefold.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/heap.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace string {

using alloc::Series;

namespace {

// --- Units ---------------------------------------------------------------------------------------

[[noreturn]] __attribute__((noinline)) void fatal(rt::FatalCode number) {
  rt::runtime_error(number, __builtin_return_address(0));
}

inline uint32_t checked_unit(const Series* s) {
  uint32_t unit = s->unit();
  unicode::check_unit(unit);
  return unit;
}

using unicode::write_unit;

// Bytes as units: a unit is 1, 2 or 4 (checked_unit), so a shift rather than a division.
inline uint64_t units_of(uint64_t bytes, uint32_t unit) { return bytes >> (unit >> 1); }

inline uint32_t fold(uint32_t code_point) { return casefold::fold_char(code_point, true); }

[[noreturn]] void no_memory() { rt::fire_error("internal", "no-memory"); }

// --- Positions -----------------------------------------------------------------------------------

// The head index as a unit position: a negative one reads as 0, one past the tail as the tail.
uint64_t head_of(const Cell& value, const Series* s, uint32_t unit) {
  auto head = cell::series_index_signed(value);
  return head < 0 ? 0 : std::min<uint64_t>(uint32_t(head), units_of(s->used(), unit));
}

// A text value as a string cell: a symbol! reads as its decoded name from position 0.
Cell text_cell(const Cell& value) {
  if (cell::type_of(value) == TYPE_SYMBOL)
    return cell::make_series(TYPE_STRING, symbol::string_node_of(value));
  return value;
}

// The units of a text value from its head to its tail; valid until the next allocation.
struct Span {
  const uint8_t* start;
  uint32_t unit;
  uint64_t count;
  uint32_t at(uint64_t i) const { return unicode::read_unit(start + i * unit, unit); }
};

Span span_of(const Cell& value) {
  Cell text = text_cell(value);
  Series* s = alloc::series_of(cell::series_node(text));
  uint32_t unit = checked_unit(s);
  uint64_t head = head_of(text, s, unit);
  return Span{s->head_ptr() + head * unit, unit, units_of(s->used(), unit) - head};
}

// --- Growth and widening -------------------------------------------------------------------------

// Makes the room from the buffer's first element at least `need` bytes; when it must grow it
// takes `preferred` bytes (or `need`, whichever is more), in whole 16-byte steps so that any
// unit divides it. May allocate.
Series* ensure_room(uint32_t node, uint64_t need, uint64_t preferred) {
  Series* s = alloc::series_of(node);
  if (need <= s->capacity - s->head) return s;
  if (need > alloc::kMaxCapacity) no_memory();
  uint64_t capacity = (std::max(need, preferred) + 15) & ~uint64_t(15);
  capacity = std::min<uint64_t>(capacity, alloc::kMaxCapacity);
  return alloc::expand_series(node, static_cast<uint32_t>(capacity));
}

// Widens the buffer when the code point does not fit its unit; `latin` is the largest code point
// that unit 1 takes (127 when appending, 255 otherwise). May allocate.
Series* fit(uint32_t node, uint32_t code_point, uint32_t latin) {
  Series* s = alloc::series_of(node);
  uint32_t unit = checked_unit(s);
  uint32_t need = code_point <= latin ? 1 : code_point <= 0xFFFF ? 2 : 4;
  return need > unit ? widen(node, unit, need) : s;
}

// Appends each byte as one code point (one reservation when all are ASCII). May allocate.
void append_bytes(uint32_t node, const char* bytes, size_t count) {
  // A short ASCII text into a one-byte buffer with room: copied as it is checked (form of
  // numbers, the maps benchmark).
  if (Series* s = alloc::series_of(node); s->unit() == 1 && count <= 16 &&
                                          count <= s->capacity - s->tail) {
    uint8_t* at = s->tail_ptr();
    uint8_t high = 0;
    for (size_t i = 0; i < count; i++) high |= at[i] = static_cast<uint8_t>(bytes[i]);
    if (high < 0x80) {
      s->tail += static_cast<uint32_t>(count);
      return;
    }
  }
  bool ascii = std::all_of(bytes, bytes + count, [](char c) { return uint8_t(c) < 0x80; });
  if (!ascii || count > alloc::kMaxCapacity / 4) {
    for (size_t i = 0; i < count; i++) append_char(node, static_cast<uint8_t>(bytes[i]));
    return;
  }
  // ASCII fits every unit: one reservation for the whole text (form of numbers, the maps
  // benchmark).
  uint32_t unit = checked_unit(alloc::series_of(node));
  uint8_t* at = alloc::reserve_bytes(node, static_cast<uint32_t>(count * unit));
  if (unit == 1) {
    std::memcpy(at, bytes, count);
    return;
  }
  for (size_t i = 0; i < count; i++) {
    write_unit(at + i * unit, unit, static_cast<uint8_t>(bytes[i]));
  }
}

void append_ascii(uint32_t node, const char* text) { append_bytes(node, text, std::strlen(text)); }

void remove_units(uint32_t node, uint64_t position, uint64_t count) {
  Series* s = alloc::series_of(node);
  uint32_t unit = checked_unit(s);
  uint64_t length = units_of(s->used(), unit);
  if (position >= length) return;
  count = std::min(count, length - position);
  uint8_t* at = s->head_ptr() + position * unit;
  std::memmove(at, at + count * unit, (length - position - count) * unit);
  s->tail -= static_cast<uint32_t>(count * unit);
}

// --- Loading -------------------------------------------------------------------------------------

[[noreturn]] void unsupported_encoding() {
  std::fputs("*** Loading Error: input encoding unsupported\n", stderr);
  std::fflush(stderr);
  std::exit(1);
}

uint32_t load_utf16_bytes(const uint8_t* bytes, size_t length) {
  size_t count = length / 2;
  if (reinterpret_cast<uintptr_t>(bytes) % alignof(uint16_t) == 0) {
    return unicode::load_utf16(reinterpret_cast<const uint16_t*>(bytes), count, nullptr, false);
  }
  std::vector<uint16_t> aligned(count);
  std::memcpy(aligned.data(), bytes, count * 2);
  return unicode::load_utf16(aligned.data(), count, nullptr, false);
}


Cell* load_strict(const unicode::ByteSource& source, size_t length) {
  uint32_t remaining = 0;
  uint32_t node = source.node
                      ? unicode::load_utf8(source.node, source.offset, length, 0, &remaining, false)
                      : unicode::load_utf8(source.bytes, length, 0, &remaining, false);
  if (remaining) {
    uint32_t binary = alloc::new_byte_series(remaining);
    gc::Guard guard(binary);
    Series* b = alloc::series_of(binary);
    std::memcpy(b->head_ptr(), source.address() + length - remaining, remaining);
    b->tail = b->head + remaining;
    Cell arg = cell::make_series(TYPE_BINARY, binary);
    rt::fire_error("access", "invalid-utf8", &arg);
  }
  Cell* cell = stack::push_new();
  *cell = cell::make_series(TYPE_STRING, node);
  return cell;
}

// --- Rotation scratch ----------------------------------------------------------------------------

constexpr size_t kScratchStanding = 4096;
uint8_t* scratch = nullptr;
size_t scratch_size = 0;

// --- Hex -----------------------------------------------------------------------------------------

constexpr char kHexDigits[] = "0123456789ABCDEF";
char int_hex[9] = "00000000";
char byte_hex[3] = "00";

// --- Mold ----------------------------------------------------------------------------------------

// The letter after "^" for the code points below 95 that mold as a caret escape; 0: none.
// 0-31 run from ^@ through ^A..^Z, ^[ ^\ ^] ^^ to ^_, except tab and line feed.
constexpr std::array<char, 95> kEscapeLetters = [] {
  std::array<char, 95> letters{};
  for (int c = 0; c < 32; c++) letters[c] = static_cast<char>('@' + c);
  letters['\t'] = '-';
  letters['\n'] = '/';
  letters['"'] = '"';
  letters['^'] = '^';
  return letters;
}();

void escape_char(uint32_t out, uint32_t code_point, bool all) {
  // A surrogate is no character of UTF-8 text: only its escape loads back.
  bool hex = code_point == 30 || (code_point >= 0x80 && code_point <= 0x9F) ||
             (code_point >= 0xD800 && code_point <= 0xDFFF) || (all && code_point > 0x7F);
  if (hex) {
    append_ascii(out, "^(");
    append_ascii(out, int_to_hex(static_cast<int32_t>(code_point), true));
    append_char(out, ')');
  } else if (code_point < kEscapeLetters.size() && kEscapeLetters[code_point]) {
    append_char(out, '^');
    append_char(out, static_cast<uint8_t>(kEscapeLetters[code_point]));
  } else if (code_point == 0x7F) {
    append_ascii(out, "^~");
  } else {
    append_char(out, code_point);
  }
}

bool is_equality(int32_t op) {
  return op == action::EQUAL || op == action::NOT_EQUAL || op == action::STRICT_EQUAL ||
         op == action::FIND_EQUAL;
}

constexpr uint32_t kComplemented = 0x80000;  // series flag of a complemented bitset

}  // namespace

// --- Reading and positions -------------------------------------------------------------------

uint8_t* head_address(Cell& value) {
  rest_length(value);
  Series* s = alloc::series_of(cell::series_node(value));
  uint32_t unit = checked_unit(s);
  return s->head_ptr() + head_of(value, s, unit) * unit;
}

bool at_tail(const Cell& value) { return series::at_tail(value); }

uint8_t* tail_address(const Cell& value) {
  return alloc::series_of(cell::series_node(value))->tail_ptr();
}

uint32_t char_at(const Cell& value, uint32_t index) {
  Series* s = alloc::series_of(cell::series_node(value));
  uint32_t unit = checked_unit(s);
  return unicode::read_unit(s->head_ptr() + uint64_t(index) * unit, unit);
}

uint32_t rest_length(Cell& value) { return uint32_t(series::rest_length(value, false)); }

uint32_t whole_length(const Cell& value) { return uint32_t(series::buffer_length(value)); }

bool skip(Cell& value, int32_t delta) { return series::skip_head(value, delta); }

bool next(Cell& value) { return skip(value, 1); }

int32_t find_char(const Cell& value, uint32_t code_point) {
  Span text = span_of(value);
  for (uint64_t i = 0; i < text.count; i++) {
    if (text.at(i) == code_point) return static_cast<int32_t>(i);
  }
  return -1;
}

bool find_char_skip(const Cell& value, uint32_t code_point, uint32_t skip, bool case_sensitive) {
  Span text = span_of(value);
  if (!case_sensitive) code_point = fold(code_point);
  for (uint64_t i = 0; i < text.count; i += skip) {
    uint32_t c = text.at(i);
    if ((case_sensitive ? c : fold(c)) == code_point) return true;
    if (skip == 0) break;
  }
  return false;
}

bool starts_with(const Cell& value, const char* text) {
  Span units = span_of(value);
  for (uint64_t i = 0; text[i]; i++) {
    if (i >= units.count || units.at(i) != static_cast<uint8_t>(text[i])) return false;
  }
  return true;
}

// --- Creation --------------------------------------------------------------------------------

Cell* init_empty(Cell* cell, uint32_t size) {
  uint32_t node = alloc::new_series(size ? size : 1, 1);
  *cell = cell::make_series(TYPE_STRING, node);
  return cell;
}

Cell* init_empty_of_unit(Cell* cell, uint32_t size, uint32_t unit) {
  unicode::check_unit(unit);
  uint32_t node = alloc::new_unit_series(size, unit);
  *cell = cell::make_series(TYPE_STRING, node);
  return cell;
}

Cell* push(const Cell& value) { return stack::push_copy(value); }

Cell* load_encoded(const uint8_t* bytes, size_t length, Cell* cell, int32_t encoding) {
  uint32_t node;
  if (encoding == kUtf8) {
    node = unicode::decode_utf8_new(bytes, length);
  } else if (encoding == kUtf16le) {
    node = load_utf16_bytes(bytes, length);
  } else {
    unsupported_encoding();
  }
  if (!cell) cell = stack::push_new();
  *cell = cell::make_series(TYPE_STRING, node);
  return cell;
}

Cell* load_encoded_to_block(const uint8_t* bytes, size_t length, const Cell& block,
                            int32_t encoding) {
  uint32_t block_node = cell::series_node(block);
  Cell text;
  load_encoded(bytes, length, &text, encoding);
  uint32_t node = cell::series_node(text);
  gc::Guard guard(node);
  Cell* cell = cell::buffer_append_new_cell(block_node);
  *cell = text;
  return cell;
}

Cell* load_encoded_push(const uint8_t* bytes, size_t length, int32_t encoding) {
  return load_encoded(bytes, length, nullptr, encoding);
}

Cell* load_utf8_strict(const uint8_t* bytes, size_t length) {
  return load_strict(unicode::ByteSource{bytes, 0, 0}, length);
}

Cell* load_utf8_strict(uint32_t source, size_t offset, size_t length) {
  return load_strict(unicode::ByteSource{nullptr, source, offset}, length);
}

// --- Writing ---------------------------------------------------------------------------------

Series* append_char(uint32_t node, uint32_t code_point) {
  uint32_t unit = fit(node, code_point, 0x7F)->unit();
  write_unit(alloc::reserve_bytes(node, unit), unit, code_point);
  return alloc::series_of(node);
}

Series* poke_char(uint32_t node, uint8_t* address, uint32_t code_point) {
  Series* s = alloc::series_of(node);
  uint64_t position = units_of(uint64_t(address - s->head_ptr()), checked_unit(s));
  s = fit(node, code_point, 0xFF);
  write_unit(s->head_ptr() + position * s->unit(), s->unit(), code_point);
  return s;
}

Series* poke_char_at(uint32_t node, uint32_t position, uint32_t code_point) {
  Series* s = fit(node, code_point, 0xFF);
  uint32_t unit = s->unit();
  uint64_t at = uint64_t(position) * unit;
  uint64_t end = at + unit;
  s = ensure_room(node, end, uint64_t(s->capacity) * 2);
  if (end > s->used()) {
    std::memset(s->tail_ptr(), 0, at - s->used());  // the units skipped read as code point 0
    s->tail = static_cast<uint32_t>(s->head + end);
  }
  write_unit(s->head_ptr() + at, unit, code_point);
  return s;
}

Series* insert_char_at(uint32_t node, uint32_t position, uint32_t code_point) {
  uint32_t unit = fit(node, code_point, 0xFF)->unit();
  alloc::reserve_bytes(node, unit);
  Series* s = alloc::series_of(node);
  uint64_t length = units_of(s->used(), unit) - 1;
  uint64_t at = std::min<uint64_t>(position, length);
  uint8_t* p = s->head_ptr() + at * unit;
  std::memmove(p + unit, p, (length - at) * unit);
  write_unit(p, unit, code_point);
  return s;
}

void remove_at(const Cell& value, uint32_t position, uint32_t count) {
  remove_units(cell::series_node(value), position, count);
}

void remove_one_at(const Cell& value, uint32_t position) {
  remove_units(cell::series_node(value), position, 1);
}

void move_chars(const Cell& source, const Cell& destination, uint32_t byte_count) {
  uint32_t from = cell::series_node(source);
  uint32_t to = cell::series_node(destination);
  Series* s = alloc::series_of(from);
  uint32_t unit = checked_unit(s);
  uint64_t head = head_of(source, s, unit);
  uint64_t count = std::min<uint64_t>(units_of(byte_count, unit), units_of(s->used(), unit) - head);
  Series* d = alloc::series_of(to);
  uint64_t at = head_of(destination, d, checked_unit(d));
  for (uint64_t i = 0; i < count; i++) {
    s = alloc::series_of(from);  // the insertion may have moved both buffers
    uint32_t code_point = unicode::read_unit(s->head_ptr() + (head + i) * unit, unit);
    insert_char_at(to, static_cast<uint32_t>(at + i), code_point);
  }
  if (count) remove_units(from, head, count);
}

void append_c_string(const Cell& value, const char* text) {
  append_ascii(cell::series_node(value), text);
}

void append_c_chars(const Cell& value, const char* bytes, size_t count) {
  append_bytes(cell::series_node(value), bytes, count);
}

void truncate_units(uint32_t node, uint32_t count) {
  Series* s = alloc::series_of(node);
  uint64_t end = uint64_t(count) * checked_unit(s);
  if (end <= s->capacity - s->head && end < s->used()) {
    s->tail = static_cast<uint32_t>(s->head + end);
  }
}

Cell* clear_all(Cell& value) {
  Series* s = alloc::series_of(cell::series_node(value));
  s->flags = (s->flags & ~Series::kUnitMask) | 1;
  s->tail = s->head;
  cell::set_series_index(value, 0);
  return &value;
}

Series* widen(uint32_t node, uint32_t from, uint32_t to) {
  if (to == 2 && from == 1) return unicode::widen_latin1_to_ucs2(node);
  if (to == 4 && from == 1) return unicode::widen_latin1_to_ucs4(node);
  if (to == 4 && from == 2) return unicode::widen_ucs2_to_ucs4(node);
  unicode::bad_unit();
}

uint32_t copy_widened(uint32_t source, uint32_t destination, uint32_t size, uint32_t target_unit,
                      uint32_t source_offset, uint32_t destination_offset, int64_t length,
                      bool keep_tail) {
  Series* s = alloc::series_of(source);
  uint32_t from = checked_unit(s);
  if (!(from == 1 && (target_unit == 2 || target_unit == 4)) && !(from == 2 && target_unit == 4)) {
    fatal(rt::kFatalNoCaseMatch);
  }
  uint64_t available = s->used() / from;
  uint64_t offset = std::min<uint64_t>(source_offset, available);
  uint64_t count = length >= 1 ? std::min<uint64_t>(uint64_t(length), available - offset)
                               : available - offset;
  uint64_t at = uint64_t(destination_offset) * target_unit;
  uint64_t end = at + count * target_unit;
  if (end > alloc::kMaxCapacity) no_memory();

  Series* d;
  if (destination) {
    d = ensure_room(destination, end, end);
  } else {
    destination = alloc::new_unit_series(std::max<uint32_t>(size, uint32_t(end / target_unit)),
                                         target_unit);
    d = alloc::series_of(destination);
  }
  if (at > d->used()) std::memset(d->tail_ptr(), 0, at - d->used());
  s = alloc::series_of(source);  // the destination's allocation may have moved it
  const uint8_t* in = s->head_ptr() + offset * from;
  uint8_t* out = d->head_ptr() + at;
  for (uint64_t i = 0; i < count; i++) {
    write_unit(out + i * target_unit, target_unit, unicode::read_unit(in + i * from, from));
  }
  if (!keep_tail) {
    d->tail = static_cast<uint32_t>(d->head + end);
    d->flags = (d->flags & ~Series::kUnitMask) | target_unit;
  }
  return destination;
}

void concatenate(const Cell& destination, const Cell& source, int64_t part, uint32_t offset,
                 bool keep_source, ConcatMode mode) {
  Cell text = text_cell(source);
  uint32_t to = cell::series_node(destination);
  uint32_t from = cell::series_node(text);
  Series* d = alloc::series_of(to);
  Series* s = alloc::series_of(from);
  uint32_t unit = checked_unit(d);
  uint32_t source_unit = checked_unit(s);
  if (mode == kAppend && unit == source_unit && from != to) {
    // Text of the destination's unit onto its tail (the strings benchmark): one copy.
    uint64_t source_head = head_of(text, s, unit);
    uint64_t count = units_of(s->used(), unit) - source_head;
    if (part >= 0 && uint64_t(part) < count) count = uint64_t(part);
    uint64_t bytes = count * unit;
    if (bytes == 0) return;
    uint64_t used = d->used();
    d = ensure_room(to, used + bytes, 2 * (used + bytes));
    s = alloc::series_of(from);
    std::memcpy(d->tail_ptr(), s->head_ptr() + source_head * unit, bytes);
    d->tail += static_cast<uint32_t>(bytes);
    return;
  }
  uint64_t head = head_of(destination, d, unit);
  uint64_t source_head = head_of(text, s, source_unit);

  if (unit < source_unit) {
    widen(to, unit, source_unit);
    unit = source_unit;
  } else if (source_unit < unit && !keep_source) {
    widen(from, source_unit, unit);
    source_unit = unit;
  }

  s = alloc::series_of(from);
  uint64_t count = units_of(s->used(), source_unit) - source_head;
  if (part >= 0 && uint64_t(part) < count) count = uint64_t(part);
  uint64_t bytes = count * unit;
  if (bytes == 0) return;

  uint64_t used = alloc::series_of(to)->used();
  d = ensure_room(to, used + bytes, 2 * (used + bytes));
  s = alloc::series_of(from);
  uint64_t length = units_of(used, unit);
  uint64_t at = mode == kAppend ? length : std::min(head + offset, length);
  uint8_t* write = d->head_ptr() + at * unit;
  const uint8_t* read = s->head_ptr() + source_head * source_unit;
  if (mode == kInsert) std::memmove(write + bytes, write, used - at * unit);

  if (source_unit != unit) {
    for (uint64_t i = 0; i < count; i++) {
      write_unit(write + i * unit, unit, unicode::read_unit(read + i * source_unit, source_unit));
    }
  } else if (from == to && mode == kInsert) {
    // The insertion moved the source's units from the write position on up by `bytes`.
    uint64_t before = at > source_head ? std::min(count, at - source_head) * unit : 0;
    std::memcpy(write, read, before);
    std::memcpy(write + before, read + before + bytes, bytes - before);
  } else {
    std::memmove(write, read, bytes);
  }

  uint64_t end = at * unit + bytes;
  uint64_t tail = mode == kInsert ? used + bytes : mode == kAppend ? end : std::max(used, end);
  d->tail = static_cast<uint32_t>(d->head + tail);
}

void rotate_regions(uint8_t* first, size_t first_length, size_t second_length, size_t gap) {
  bool first_shorter = first_length <= second_length;
  size_t saved = (first_shorter ? first_length : second_length) + gap;
  if (saved > scratch_size || !scratch) {
    scratch_size = std::max(saved, kScratchStanding);
    scratch = static_cast<uint8_t*>(rt::heap_realloc(scratch, scratch_size));
  }
  uint8_t* gap_at = first + first_length;
  uint8_t* second = gap_at + gap;
  // The shorter region travels with the gap through the scratch area; the longer one moves once.
  if (first_shorter) {
    std::memcpy(scratch, first, first_length + gap);
    std::memmove(first, second, second_length);
    std::memcpy(first + second_length, scratch + first_length, gap);
    std::memcpy(first + second_length + gap, scratch, first_length);
  } else {
    std::memcpy(scratch, gap_at, gap + second_length);
    std::memmove(first + second_length + gap, first, first_length);
    std::memcpy(first, scratch + gap, second_length);
    std::memcpy(first + second_length, scratch, gap);
  }
  if (scratch_size > kScratchStanding) {
    scratch_size = kScratchStanding;
    scratch = static_cast<uint8_t*>(rt::heap_realloc(scratch, scratch_size));
  }
}

// --- Hex output ------------------------------------------------------------------------------

const char* byte_to_hex(uint8_t byte) {
  byte_hex[0] = kHexDigits[byte >> 4];
  byte_hex[1] = kHexDigits[byte & 15];
  return byte_hex;
}

const char* int_to_hex(int32_t value, bool trim) {
  int32_t done = value < 0 ? -1 : 0;  // what is left once the significant digits are out
  int first = 8;
  while (value != done && first > 0) {
    int_hex[--first] = kHexDigits[value & 15];
    value >>= 4;
  }
  if (trim) return first == 8 && done == 0 ? "00" : int_hex + first;
  std::memset(int_hex, done ? 'F' : '0', first);
  return int_hex;
}

// --- Comparison and matching -----------------------------------------------------------------

int32_t compare_strings(const Cell& value1, const Cell& value2, int32_t op, bool prefix) {
  Span a = span_of(value1);
  Span b = span_of(value2);
  if (a.start == b.start) {
    if (op == action::SAME || is_equality(op)) return 0;
  } else if (op == action::SAME) {
    return -1;
  }
  uint64_t length2 = b.count;
  auto slice = slice_length_of(value2);
  if (cell::type_of(value2) == kSliceMarker && slice >= 0) {
    length2 = std::min<uint64_t>(uint32_t(slice), b.count);
  }

  uint64_t n;
  if (prefix) {
    if (length2 == 0) return op == action::FIND_EQUAL ? 1 : 0;
    if (a.count < length2) return 1;
    n = length2;
  } else {
    if (a.count != length2 && is_equality(op)) return 1;
    n = std::min(a.count, length2);
  }
  bool folded = op != action::STRICT_EQUAL && op != action::SORT_CASE_ORDER;
  if (!folded && a.unit == 1 && b.unit == 1) {
    // Bytes compare as their code points (map keys, the maps benchmark).
    int c = n ? std::memcmp(a.start, b.start, n) : 0;
    if (c != 0) return c > 0 ? 1 : -1;
  } else {
    for (uint64_t i = 0; i < n; i++) {
      uint32_t x = a.at(i);
      uint32_t y = b.at(i);
      if (folded) {
        x = fold(x);
        y = fold(y);
      }
      if (x != y) return x > y ? 1 : -1;
    }
  }
  if (prefix || a.count == length2) return 0;
  return a.count > length2 ? 1 : -1;
}

bool match_at_head(const Cell& input, const Cell& value, int32_t op) {
  uint8_t type = cell::type_of(value);
  if (type == TYPE_CHAR) {
    Span text = span_of(input);
    if (text.count == 0) return false;
    uint32_t c = text.at(0);
    if (op == action::STRICT_EQUAL) return c == char_::code_point_of(value);
    return fold(c) == fold(char_::code_point_of(value));
  }
  if (type == TYPE_TAG) {
    if (!tag_delimiters_at_head(input, value)) return false;
    Series* s = alloc::series_of(cell::series_node(input));
    Cell after = input;
    cell::set_series_index(after, static_cast<uint32_t>(head_of(input, s, checked_unit(s)) + 1));
    return compare_strings(after, value, op, true) == 0;
  }
  return types::any_string(type) && compare_strings(input, value, op, true) == 0;
}

namespace {

// One code unit of a buffer of Unit-wide units (a buffer need not be aligned for it).
template <class Unit>
inline uint32_t unit_of(const uint8_t* start, uint64_t i) {
  Unit v;
  std::memcpy(&v, start + i * sizeof(Unit), sizeof(Unit));
  return v;
}

// Whether only the code point itself folds to its folded form: an ASCII character other than a
// letter (no other code point has it as its upper case).
bool caseless(uint32_t c) { return c < 0x80 && !((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

template <class Unit>
int64_t find_units_of(const uint8_t* text, uint64_t from, uint64_t last, const Span& pattern,
                      bool folded) {
  uint32_t first = pattern.at(0);
  bool exact = !folded || caseless(first);
  if (!exact) first = fold(first);
  for (uint64_t p = from; p <= last; p++) {
    if (sizeof(Unit) == 1 && exact) {
      // Straight to the next candidate (a separator, in the parse benchmark).
      if (first > 0xFF) return -1;
      const void* at = std::memchr(text + p, int(first), last - p + 1);
      if (!at) return -1;
      p = uint64_t(static_cast<const uint8_t*>(at) - text);
    }
    uint32_t c = unit_of<Unit>(text, p);
    if ((exact ? c : fold(c)) != first) continue;
    uint64_t i = 1;
    for (; i < pattern.count; i++) {
      uint32_t x = unit_of<Unit>(text, p + i);
      uint32_t y = pattern.at(i);
      if (x != y && (!folded || fold(x) != fold(y))) break;
    }
    if (i == pattern.count) return int64_t(p);
  }
  return -1;
}

template <class Unit>
uint64_t bitset_run_of(const uint8_t* text, uint64_t from, uint64_t stop, const uint8_t* bits,
                       uint64_t stored, bool complemented) {
  uint64_t p = from;
  for (; p < stop; p++) {
    uint32_t c = unit_of<Unit>(text, p);
    bool in = c >> 3 < stored ? bits[c >> 3] & (0x80 >> (c & 7)) : complemented;
    if (!in) break;
  }
  return p - from;
}

}  // namespace

// parse's to and thru scan with this (the parse benchmark): one pass over the buffer instead of
// a comparison per position.
int64_t find_units(const Cell& value, uint32_t from, uint32_t end, const Cell& pattern,
                   bool case_sensitive) {
  Span wanted = span_of(pattern);
  Series* s = alloc::series_of(cell::series_node(value));
  uint32_t unit = checked_unit(s);
  uint64_t stop = std::min<uint64_t>(end, units_of(s->used(), unit));
  if (wanted.count == 0 || from >= stop || stop - from < wanted.count) return -1;
  uint64_t last = stop - wanted.count;
  const uint8_t* text = s->head_ptr();
  if (unit == 1 && wanted.count == 1) {
    // One unit that has no case variants, or a case-sensitive search: one memchr.
    uint32_t first = wanted.at(0);
    if (first <= 0xFF && (case_sensitive || caseless(first))) {
      const void* at = std::memchr(text + from, int(first), stop - from);
      return at ? static_cast<const uint8_t*>(at) - text : -1;
    }
  }
  bool folded = !case_sensitive;
  switch (unit) {
    case 1: return find_units_of<uint8_t>(text, from, last, wanted, folded);
    case 2: return find_units_of<uint16_t>(text, from, last, wanted, folded);
    default: return find_units_of<uint32_t>(text, from, last, wanted, folded);
  }
}

uint32_t bitset_run(const Cell& value, uint32_t from, uint32_t end, const Cell& bitset,
                    int64_t max) {
  Series* s = alloc::series_of(cell::series_node(value));
  uint32_t unit = checked_unit(s);
  uint64_t stop = std::min<uint64_t>(end, units_of(s->used(), unit));
  if (from >= stop) return 0;
  if (max >= 0) stop = std::min<uint64_t>(stop, from + uint64_t(max));
  Series* bits = alloc::series_of(cell::series_node(bitset));
  const uint8_t* text = s->head_ptr();
  bool complemented = bits->flags & kComplemented;
  switch (unit) {
    case 1:
      return uint32_t(bitset_run_of<uint8_t>(text, from, stop, bits->head_ptr(), bits->used(),
                                             complemented));
    case 2:
      return uint32_t(bitset_run_of<uint16_t>(text, from, stop, bits->head_ptr(), bits->used(),
                                              complemented));
    default:
      return uint32_t(bitset_run_of<uint32_t>(text, from, stop, bits->head_ptr(), bits->used(),
                                              complemented));
  }
}

bool tag_delimiters_at_head(const Cell& input, const Cell& tag) {
  Span text = span_of(input);
  uint64_t close = span_of(tag).count + 1;
  return close < text.count && text.at(0) == '<' && text.at(close) == '>';
}

bool head_char_in_bitset(const Cell& value, const Cell& bitset) {
  Span text = span_of(value);
  if (text.count == 0) return false;
  uint32_t c = text.at(0);
  Series* bits = alloc::series_of(cell::series_node(bitset));
  if (c >> 3 >= bits->used()) return bits->flags & kComplemented;
  return bits->head_ptr()[c >> 3] & (0x80 >> (c & 7));
}

// --- Mold ------------------------------------------------------------------------------------

void mold_char_escaped(const Cell& out, uint32_t code_point, bool all) {
  escape_char(cell::series_node(out), code_point, all);
}

void count_quotes_and_newlines(const uint8_t* start, const uint8_t* end, uint32_t unit,
                               uint32_t& quotes, uint32_t& newlines) {
  for (const uint8_t* p = start; p < end; p += unit) {
    uint32_t c = unicode::read_unit(p, unit);
    if (c == '"') quotes++;
    if (c == '\n') newlines++;
  }
}

bool braces_balanced(const uint8_t* start, const uint8_t* end, uint32_t unit) {
  int64_t depth = 0;
  for (const uint8_t* p = start; p < end; p += unit) {
    uint32_t c = unicode::read_unit(p, unit);
    if (c == '{') depth++;
    if (c == '}' && depth-- == 1) return true;
  }
  return false;
}

void mold_text(const Cell& out, const Cell& value, uint32_t count, bool all) {
  uint32_t to = cell::series_node(out);
  uint32_t from = cell::series_node(value);
  Series* s = alloc::series_of(from);
  uint32_t unit = checked_unit(s);
  uint64_t head = head_of(value, s, unit);
  uint64_t rest = units_of(s->used(), unit) - head;
  uint64_t end = head + std::min<uint64_t>(count, rest);
  uint32_t quotes = 0;
  uint32_t newlines = 0;
  count_quotes_and_newlines(s->head_ptr() + head * unit, s->head_ptr() + end * unit, unit, quotes,
                            newlines);

  // Each append may move (and, when out shares the buffer, widen) the text: read by position.
  auto char_at_position = [&](uint64_t i, const uint8_t** address) {
    s = alloc::series_of(from);
    unit = s->unit();
    *address = s->head_ptr() + i * unit;
    return unicode::read_unit(*address, unit);
  };
  const uint8_t* p;
  if (newlines < 3 && quotes == 0 && rest < 50) {
    append_char(to, '"');
    for (uint64_t i = head; i < end; i++) escape_char(to, char_at_position(i, &p), all);
    append_char(to, '"');
    return;
  }
  append_char(to, '{');
  uint32_t depth = 0;
  bool balanced = true;  // until a { without its } is met
  for (uint64_t i = head; i < end; i++) {
    uint32_t c = char_at_position(i, &p);
    if (c == '{') {
      balanced = balanced && braces_balanced(p, s->head_ptr() + end * unit, unit);
      if (balanced) depth++;
      append_ascii(to, balanced ? "{" : "^{");
    } else if (c == '}') {
      append_ascii(to, depth ? "}" : "^}");
      if (depth) depth--;
    } else if (c == '"') {
      append_char(to, '"');
    } else {
      escape_char(to, c, all);
    }
  }
  append_char(to, '}');
}

Cell* change_case(Cell* value, const Cell* part, bool upper) {
  uint8_t type = cell::type_of(*value);
  if (type == TYPE_CHAR) {
    char_::set_code_point(*value, casefold::fold_char(char_::code_point_of(*value), upper));
    return value;
  }
  if (!types::any_string(type)) return value;

  int32_t rest = series::rest_length(*value, false);  // a head past the tail: back to the tail
  // The count stops at the tail, whatever /part asks for.
  int32_t count = part ? std::clamp(series::part_count(*value, *part), 0, rest) : rest;
  Cell changed = *value;  // the cell may lie in a buffer that the widening moves
  int64_t head = std::max(cell::series_index_signed(changed), 0);
  for (int64_t i = head; i < head + count; i++) {
    // A fold that widens the buffer moves it: the address is derived again for every unit.
    alloc::Series* s = alloc::series_of(cell::series_node(changed));
    uint8_t* at = s->head_ptr() + i * s->unit();
    uint32_t code_point = unicode::read_unit(at, s->unit());
    uint32_t folded = casefold::fold_char(code_point, upper);
    if (folded != code_point) poke_char(cell::series_node(changed), at, folded);
  }
  ownership::notify_owner(&changed, upper ? "uppercase" : "lowercase", nullptr, 0, count);
  return value;
}

// --- string! -------------------------------------------------------------------------------------

namespace {

int64_t rest_of(const Cell& value) {
  Cell copy = value;
  return rest_length(copy);
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  Cell text = *value;  // read before appending: the output may move the value's block
  int64_t length = rest_of(text);
  int64_t count = arg ? std::min<int64_t>(length, cell::get_integer_arg(*arg)) : length;
  concatenate(*out, text, count, 0, true, kAppend);
  return part - static_cast<int32_t>(length);
}

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t) {
  Cell text = *value;
  int64_t count = rest_of(text);
  if (arg && part != 0) count = std::clamp<int64_t>(part, 0, count);
  mold_text(*out, text, static_cast<uint32_t>(count), options.all);
  return part - static_cast<int32_t>(count) - 2;
}

// Every element of the block from its head formed into out, nothing between them. The block
// cell stays on the frame (rooted); elements are read by index, as forming may move buffers.
void append_formed_elements(const Cell& block, Cell* out) {
  Cell* element = stack::push_copy(constants::none);
  for (int32_t i = cell::series_index_signed(block); i < series::buffer_length(block); i++) {
    *element = *block::cell_at(block, i);
    datatype::call_form(element, out, nullptr, INT32_MAX);
  }
  stack::pop_cells(1);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*a) != cell::type_of(*b)) {
    // Texts of different types are only ever equal or not; they have no order.
    bool equality = op == action::EQUAL || op == action::NOT_EQUAL;
    if (!equality || !types::any_string(cell::type_of(*b))) return action::kNotComparable;
  }
  return compare_strings(*a, *b, op, false);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint8_t type) {
  uint8_t spec_type = cell::type_of(*spec);
  if (spec_type == TYPE_INTEGER || spec_type == TYPE_FLOAT) {
    int32_t size = cell::get_integer_arg(*spec);
    if (size < 0) rt::fire_error("script", "out-of-range", spec);
    if (type == TYPE_BINARY) return binary::make_at(proto, uint32_t(size));
    init_empty(proto, uint32_t(size));
    cell::set_type(*proto, type);
    return proto;
  }
  if (type == TYPE_BINARY) {
    if (spec_type == TYPE_MONEY) {
      Cell wanted = cell::make_datatype(TYPE_BINARY);
      rt::fire_error("script", "bad-make-arg", &wanted, spec);
    }
    return binary::to(proto, spec, type);
  }
  return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, uint8_t type) {
  const uint8_t spec_type = cell::type_of(*spec);
  if (spec_type == TYPE_NONE) {
    Cell wanted = cell::make_datatype(type);
    rt::fire_error("script", "bad-to-arg", &wanted, spec);
  }
  Cell* out = stack::push_copy(constants::none);
  if (spec_type == TYPE_BINARY) {
    Cell bytes = *spec;
    uint32_t length = binary::rest_length(bytes);
    *out = *load_utf8_strict(cell::series_node(bytes), cell::series_index(bytes), length);
    stack::pop_cells(1);
  } else if (types::any_string(spec_type)) {
    series::copy(spec, out, nullptr, false, nullptr);
  } else {
    init_empty(out, 16);
    if (spec_type == TYPE_BLOCK || spec_type == TYPE_PAREN || spec_type == TYPE_HASH) {
      append_formed_elements(*spec, out);
    } else if (spec_type == TYPE_REFINEMENT && type != TYPE_STRING) {
      datatype::call_mold(spec, out, {.only = true, .all = true, .flat = true}, nullptr,
                          INT32_MAX, 0);
    } else {
      datatype::call_form(spec, out, nullptr, INT32_MAX);
    }
  }
  *proto = cell::make_series(type, cell::series_node(*out), cell::series_index(*out));
  stack::pop_cells(1);
  return proto;
}

void register_datatype() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(
      TYPE_STRING,
      {act<MAKE>(make), inherit<RANDOM>(), inherit<REFLECT>(), act<TO>(to), act<FORM>(form),
       act<MOLD>(mold), act<EVAL_PATH>(eval_path), act<COMPARE>(compare), act<APPEND>(insert), inherit<AT>(), inherit<BACK>(),
       act<CHANGE>(change), inherit<CLEAR>(), inherit<COPY>(), act<FIND>(find),
       inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(), act<INSERT>(insert),
       inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(), inherit<PICK>(), inherit<POKE>(),
       inherit<REMOVE>(), inherit<REVERSE>(), act<SELECT>(select), act<SORT>(sort),
       inherit<SKIP>(), act<SWAP>(swap), inherit<TAIL>(), inherit<TAIL_Q>(), act<TAKE>(take),
       act<TRIM>(trim), inherit<MODIFY>()});
}

}  // namespace string
