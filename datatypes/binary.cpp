// binary!: byte helpers, the byte writer shared by append, insert, change and to, the byte text,
// comparison, the bitwise actions, trim, and the base-2/16/64 codecs. Every writer first gathers
// the bytes it will write into C++ memory (so a binary appended to itself reads what it held),
// then tells the owner, then splices; owner handlers run user code, so positions are clamped
// again after them.
#include "datatypes/binary.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "datatypes/bitset.h"
#include "datatypes/cell_ops.h"
#include "datatypes/char.h"
#include "datatypes/image.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/ownership.h"
#include "datatypes/series.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace binary {

namespace {

using alloc::Series;

constexpr Cell kBinaryType{TYPE_DATATYPE, TYPE_BINARY, 0, 0};
constexpr size_t kBytesPerLine = 32;  // mold lays out longer binaries in lines of this many
constexpr char kBase58Digits[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char kBase64Digits[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

inline int32_t head_of(const Cell& value) { return cell::series_index_signed(value); }
inline uint32_t length_of(const Cell& value) { return cell::series_of(value)->used(); }
inline uint32_t clamped_head(const Cell& value) {
  return uint32_t(std::clamp<int64_t>(head_of(value), 0, length_of(value)));
}
// The bytes from the head; valid until the next allocation.
inline const uint8_t* head_bytes(const Cell& value) {
  return cell::series_of(value)->head_ptr() + clamped_head(value);
}

[[noreturn]] void no_memory() { rt::fire_error("internal", "no-memory"); }

// --- The byte writer ---------------------------------------------------------------------------

// Tuple bytes: the count in header bits 19-22, the bytes from payload word 1 on. The field can
// count past the 12 payload bytes; what lies beyond the cell is never read.
std::string_view tuple_bytes(const Cell& tuple) {
  return {reinterpret_cast<const char*>(tuple::data_of(tuple)),
          std::min((tuple.header >> 19) & 0xF, 12u)};
}

void append_utf8(std::string& bytes, uint32_t code_point) {
  uint8_t encoded[4];
  bytes.append(reinterpret_cast<char*>(encoded), unicode::encode_utf8_char(code_point, encoded));
}

// The bytes a value writes: a char! or any-string as UTF-8, an integer! from -128 to 255 as one
// byte, a binary! from its head, a tuple! as its bytes, a block! (unless only) value by value.
// Nothing here allocates.
void gather(const Cell& value, bool only, std::string& bytes) {
  uint8_t type = cell::type_of(value);
  switch (type) {
    case TYPE_CHAR:
      append_utf8(bytes, char_::code_point_of(value));
      return;
    case TYPE_INTEGER: {
      int32_t n = integer::get_value(value);
      if (n < -128 || n > 255) rt::fire_error("script", "invalid-arg", &value);
      bytes += char(uint8_t(n));
      return;
    }
    case TYPE_BINARY:
      bytes.append(reinterpret_cast<const char*>(head_bytes(value)),
                   length_of(value) - clamped_head(value));
      return;
    case TYPE_TUPLE:
      bytes += tuple_bytes(value);
      return;
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
      if (only) break;
      // Nested blocks are refused (only), which also keeps a block inside itself finite.
      for (uint32_t i = clamped_head(value); i < uint32_t(series::buffer_length(value)); i++) {
        gather(cell::cells_of(cell::series_node(value))[i], true, bytes);
      }
      return;
    default:
      if (!types::any_string(type)) break;
      for (uint32_t i = cell::series_index(value); i < string::whole_length(value); i++) {
        append_utf8(bytes, string::char_at(value, i));
      }
      return;
  }
  rt::fire_error("script", "invalid-arg", &value);
}

bool limited_by_part(uint8_t type) {
  return type == TYPE_CHAR || type == TYPE_BINARY || type == TYPE_TUPLE ||
         types::any_string(type);
}

// Replaces `replaced` bytes at byte position `at` (from the buffer start) with dup copies of the
// bytes. May allocate.
void splice(const Cell& binary, uint32_t at, uint32_t replaced, std::string_view bytes,
            uint32_t dup) {
  Series* s = cell::series_of(binary);
  uint64_t length = s->used();
  uint64_t inserted = uint64_t(bytes.size()) * dup;
  uint64_t new_length = length - replaced + inserted;
  if (new_length > alloc::kMaxCapacity) no_memory();
  if (s->head + new_length > s->capacity) {
    uint64_t grown = std::min<uint64_t>(2 * new_length, alloc::kMaxCapacity);
    s = alloc::expand_series(cell::series_node(binary), uint32_t(grown));
  }
  uint8_t* p = s->head_ptr();
  std::memmove(p + at + inserted, p + at + replaced, length - at - replaced);
  for (uint32_t k = 0; k < dup; k++) {
    std::memcpy(p + at + k * bytes.size(), bytes.data(), bytes.size());
  }
  s->tail = s->head + uint32_t(new_length);
}

// The bytes of append, insert and change, limited by part; dup copies must fit a buffer.
std::string bytes_to_write(const Cell& value, int32_t part, bool only, int32_t dup) {
  std::string bytes;
  gather(value, only, bytes);
  if (part >= 0 && limited_by_part(cell::type_of(value)) && size_t(part) < bytes.size()) {
    bytes.resize(size_t(part));
  }
  if (uint64_t(bytes.size()) * uint64_t(dup) > alloc::kMaxCapacity) no_memory();
  return bytes;
}

// --- Byte text ---------------------------------------------------------------------------------

int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell*, int32_t part,
             int32_t indent) {
  Cell v = *value;
  uint32_t count = rest_length(v);
  bool lines = !options.flat && count > kBytesPerLine;
  std::string text = options.only ? "" : "#{";
  auto new_line = [&text](int32_t depth) {
    text += '\n';
    text.append(size_t(std::max(depth, 0)) * 4, ' ');
  };
  if (lines) new_line(indent + 1);
  const uint8_t* bytes = head_bytes(v);
  for (uint32_t i = 0; i < count && int64_t(text.size()) < part; i++) {
    if (lines && i > 0 && i % kBytesPerLine == 0) new_line(indent + 1);
    text += string::byte_to_hex(bytes[i]);
  }
  if (lines) new_line(indent);
  if (!options.only) text += '}';
  return part - cell::append_text(out, text.c_str());
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
  return mold(value, out, {}, arg, part, 0);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
  if (cell::type_of(*b) != TYPE_BINARY) return action::kNotComparable;
  return compare_bytes(*a, *b, op, false);
}

// --- Edits -------------------------------------------------------------------------------------

// append and insert: the value's bytes at the tail, or at the head (which then moves past them).
void append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool at_tail) {
  if (dup < 1) return;
  const std::string bytes = bytes_to_write(*value, part, only, dup);
  int32_t total = int32_t(bytes.size() * size_t(dup));
  cell::set_series_index(*series, clamped_head(*series));
  const char* word = at_tail ? "append" : "insert";
  uint32_t at = at_tail ? length_of(*series) : clamped_head(*series);
  bool notified = ownership::notify_owner(series, word, value, int32_t(at), total);
  at = at_tail ? length_of(*series) : clamped_head(*series);
  splice(*series, at, 0, bytes, uint32_t(dup));
  if (notified) {
    ownership::notify_owner(series, at_tail ? "appended" : "inserted", value, int32_t(at), total);
  }
  cell::set_series_index(*series, at_tail ? 0 : at + uint32_t(total));
}

// change: overwrites from the head, as many bytes as written or, with part, part bytes; the head
// ends past the written bytes.
void change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
  if (dup < 1) return;
  const std::string bytes = bytes_to_write(*value, -1, only, dup);
  uint32_t written = uint32_t(bytes.size() * size_t(dup));
  uint32_t at = clamped_head(*series);
  cell::set_series_index(*series, at);
  auto replaced = [&] {
    uint32_t available = length_of(*series) - at;
    return std::min(part >= 0 ? uint32_t(part) : written, available);
  };
  bool notified =
      ownership::notify_owner(series, "change", value, int32_t(at), int32_t(replaced()));
  at = clamped_head(*series);
  splice(*series, at, replaced(), bytes, uint32_t(dup));
  if (notified) ownership::notify_owner(series, "changed", value, int32_t(at), int32_t(written));
  cell::set_series_index(*series, at + written);
}

// trim: zero bytes from the head and/or the tail (both when neither is asked for); with all,
// every zero byte; with `with`, every byte of that value's bytes.
void trim(Cell* series, const action::TrimOptions& options) {
  // Text refinements on bytes: internal/not-done is the defined answer, not a gap.
  if (options.auto_ || options.lines) rt::fire_error("internal", "not-done");
  std::array<bool, 256> removed{};
  if (options.with) {
    std::string set;
    gather(*options.with, false, set);
    for (char c : set) removed[uint8_t(c)] = true;
  } else {
    removed[0] = true;
  }
  bool notified =
      ownership::notify_owner(series, "trim", options.with, int32_t(clamped_head(*series)), 0);
  uint32_t start = clamped_head(*series);
  Series* s = cell::series_of(*series);
  uint8_t* p = s->head_ptr();
  uint32_t end = s->used();
  uint32_t kept = start;
  if (options.with || options.all) {
    for (uint32_t i = start; i < end; i++) {
      if (!removed[p[i]]) p[kept++] = p[i];
    }
  } else {
    bool both = !options.head && !options.tail;
    uint32_t first = start, last = end;
    if (options.head || both) {
      while (first < last && p[first] == 0) first++;
    }
    if (options.tail || both) {
      while (last > first && p[last - 1] == 0) last--;
    }
    std::memmove(p + start, p + first, last - first);
    kept = start + (last - first);
  }
  s->tail = s->head + kept;
  if (notified) ownership::notify_owner(series, "trimmed", options.with, int32_t(start), 0);
}

Cell* complement(Cell* value) {
  Series* s = cell::series_of(*value);
  for (uint8_t* p = s->head_ptr() + clamped_head(*value); p < s->tail_ptr(); p++) {
    *p = uint8_t(~*p);
  }
  return value;
}

void and_t() { do_bitwise(6); }
void or_t() { do_bitwise(5); }
void xor_t() { do_bitwise(7); }

// --- Codecs ------------------------------------------------------------------------------------

// Value of a digit of the base, or -1; bytes above 127 are never digits.
int digit_value(uint8_t c, int base) {
  if (c > 127) return -1;
  switch (base) {
    case 2:
      return c == '0' || c == '1' ? c - '0' : -1;
    case 16:
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      return -1;
    default: {
      const char* digits = base == 58 ? kBase58Digits : kBase64Digits;
      const char* at = std::strchr(digits, c);
      return c && at ? int(at - digits) : -1;
    }
  }
}

// Blanks the decoders skip: bases 58 and 64 the named control characters, space and the
// apostrophe; bases 2 and 16 everything up to space.
bool skipped(uint8_t c, int base) {
  if (base < 58) return c <= ' ';
  return c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ' || c == '\'';
}

// Walks the text's digits, skipping blanks and comments; fn(value, c) for each other character,
// where value is -1 for a non-digit. Stops early when fn returns false; returns whether it ran
// to the end.
template <class Fn>
bool for_each_digit(const uint8_t* text, size_t length, int base, Fn fn) {
  for (size_t i = 0; i < length; i++) {
    uint8_t c = text[i];
    if (c == ';') {
      while (i + 1 < length && text[i + 1] != '\n' && text[i + 1] != '\r') i++;
      continue;
    }
    if (skipped(c, base)) continue;
    if (!fn(digit_value(c, base), c)) return false;
  }
  return true;
}

bool finish(const std::string& bytes, Cell* out) {
  make_from_bytes(out, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

// --- Byte helpers ------------------------------------------------------------------------------

uint32_t rest_length(Cell& value) { return uint32_t(series::rest_length(value, false)); }

Cell* make_at(Cell* cell, uint32_t size) {
  uint32_t node = alloc::new_byte_series(size);
  *cell = cell::make_series(TYPE_BINARY, node);
  return cell;
}

Cell* make_from_bytes(Cell* cell, const uint8_t* bytes, size_t length) {
  if (length > alloc::kMaxCapacity) no_memory();
  make_at(cell, uint32_t(length));
  Series* s = cell::series_of(*cell);
  if (length) std::memcpy(s->head_ptr(), bytes, length);
  s->tail = s->head + uint32_t(length);
  return cell;
}

void store_byte(uint8_t* at, const Cell& value) {
  uint8_t type = cell::type_of(value);
  if (type != TYPE_INTEGER && type != TYPE_CHAR) rt::fire_error("script", "invalid-arg", &value);
  *at = uint8_t(integer::get_value(value));
}

int32_t compare_bytes(const Cell& binary, const Cell& other, int32_t op, bool prefix) {
  if (cell::type_of(other) != TYPE_BINARY) return action::kNotComparable;
  bool same = cell::series_node(binary) == cell::series_node(other) &&
              cell::series_index(binary) == cell::series_index(other);
  if (op == action::SAME) return same ? 0 : -1;
  uint32_t length_a = length_of(binary) - clamped_head(binary);
  uint32_t length_b = length_of(other) - clamped_head(other);
  if (prefix) {
    if (length_a < length_b) return 1;
    length_a = length_b;
  }
  int r = std::memcmp(head_bytes(binary), head_bytes(other), std::min(length_a, length_b));
  if (r) return r < 0 ? -1 : 1;
  return length_a < length_b ? -1 : length_a > length_b ? 1 : 0;
}

// --- Codecs ------------------------------------------------------------------------------------

std::string encode_base2(const uint8_t* bytes, size_t length) {
  std::string text;
  text.reserve(length * 8);
  for (size_t i = 0; i < length; i++) {
    for (int bit = 7; bit >= 0; bit--) text += char('0' + ((bytes[i] >> bit) & 1));
  }
  return text;
}

std::string encode_base16(const uint8_t* bytes, size_t length) {
  std::string text;
  text.reserve(length * 2);
  for (size_t i = 0; i < length; i++) text += string::byte_to_hex(bytes[i]);
  return text;
}

std::string encode_base64(const uint8_t* bytes, size_t length) {
  std::string text;
  text.reserve((length + 2) / 3 * 4);
  for (size_t i = 0; i < length; i += 3) {
    size_t n = std::min<size_t>(3, length - i);
    uint32_t group = uint32_t(bytes[i]) << 16;
    if (n > 1) group |= uint32_t(bytes[i + 1]) << 8;
    if (n > 2) group |= bytes[i + 2];
    for (size_t k = 0; k < 4; k++) {
      text += k <= n ? kBase64Digits[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return text;
}

// Leading zero bytes are "1" digits each; the rest is the number they spell, written in base 58
// by dividing a copy of it by 58 until nothing is left.
std::string encode_base58(const uint8_t* bytes, size_t length) {
  size_t zeros = 0;
  while (zeros < length && bytes[zeros] == 0) zeros++;
  std::string number(reinterpret_cast<const char*>(bytes) + zeros, length - zeros);
  std::string digits;  // least significant first
  for (size_t start = 0; start < number.size();) {
    uint32_t remainder = 0;
    for (size_t i = start; i < number.size(); i++) {
      uint32_t dividend = remainder * 256 + uint8_t(number[i]);
      number[i] = char(dividend / 58);
      remainder = dividend % 58;
    }
    digits += kBase58Digits[remainder];
    while (start < number.size() && number[start] == 0) start++;
  }
  std::string text(zeros, '1');
  text.append(digits.rbegin(), digits.rend());
  return text;
}

bool decode_base2(const uint8_t* text, size_t length, Cell* out) {
  std::string bytes;
  uint32_t bits = 0, count = 0;
  bool ok = for_each_digit(text, length, 2, [&](int value, uint8_t) {
    if (value < 0) return false;
    bits = bits << 1 | uint32_t(value);
    if (++count % 8 == 0) bytes += char(uint8_t(bits));
    return true;
  });
  return ok && count % 8 == 0 && finish(bytes, out);
}

bool decode_base16(const uint8_t* text, size_t length, Cell* out) {
  std::string bytes;
  uint32_t high = 0, count = 0;
  bool ok = for_each_digit(text, length, 16, [&](int value, uint8_t) {
    if (value < 0) return false;
    if (++count % 2 == 0) {
      bytes += char(uint8_t(high << 4 | uint32_t(value)));
    } else {
      high = uint32_t(value);
    }
    return true;
  });
  return ok && finish(bytes, out);
}

bool decode_base64(const uint8_t* text, size_t length, Cell* out) {
  std::string bytes;
  uint32_t group = 0, count = 0;
  // A partial group of two or three digits gives one or two bytes; a single digit none.
  auto flush = [&] {
    if (count == 1) return false;
    if (count >= 2) bytes += char(uint8_t(group >> (6 * count - 8)));
    if (count == 3) bytes += char(uint8_t(group >> 2));
    group = count = 0;
    return true;
  };
  bool ok = for_each_digit(text, length, 64, [&](int value, uint8_t c) {
    if (c == '=') return flush();
    if (value < 0) return false;
    group = group << 6 | uint32_t(value);
    if (++count == 4) {
      bytes += char(uint8_t(group >> 16));
      bytes += char(uint8_t(group >> 8));
      bytes += char(uint8_t(group));
      group = count = 0;
    }
    return true;
  });
  return ok && flush() && finish(bytes, out);
}

// Reading stops, without failing, at the first byte above 127.
bool decode_base58(const uint8_t* text, size_t length, Cell* out) {
  std::string digits;
  bool stopped = false;
  bool ok = for_each_digit(text, length, 58, [&](int value, uint8_t c) {
    if (c > 127) stopped = true;
    if (value < 0) return false;
    digits += char(value);
    return true;
  });
  if (!ok && !stopped) return false;
  size_t zeros = 0;
  while (zeros < digits.size() && digits[zeros] == 0) zeros++;
  std::string number;  // least significant byte first
  for (size_t i = zeros; i < digits.size(); i++) {
    uint32_t carry = uint8_t(digits[i]);
    for (char& byte : number) {
      carry += uint32_t(uint8_t(byte)) * 58;
      byte = char(carry & 0xFF);
      carry >>= 8;
    }
    for (; carry; carry >>= 8) number += char(carry & 0xFF);
  }
  std::string bytes(zeros, '\0');
  bytes.append(number.rbegin(), number.rend());
  return finish(bytes, out);
}

bool encode_base(int base, const uint8_t* bytes, size_t length, std::string& text) {
  switch (base) {
    case 2: text = encode_base2(bytes, length); return true;
    case 16: text = encode_base16(bytes, length); return true;
    case 58: text = encode_base58(bytes, length); return true;
    case 64: text = encode_base64(bytes, length); return true;
    default: return false;
  }
}

bool decode_base(int base, const uint8_t* text, size_t length, Cell* out) {
  switch (base) {
    case 2: return decode_base2(text, length, out);
    case 16: return decode_base16(text, length, out);
    case 58: return decode_base58(text, length, out);
    case 64: return decode_base64(text, length, out);
    default: return false;
  }
}

// --- Actions -----------------------------------------------------------------------------------

Cell* to(Cell* proto, Cell* spec, uint8_t) {
  const Cell value = *spec;
  std::string bytes;
  uint8_t type = cell::type_of(value);
  switch (type) {
    case TYPE_INTEGER: {
      uint32_t n = static_cast<uint32_t>(integer::get_value(value));
      for (int shift = 24; shift >= 0; shift -= 8) bytes += char(uint8_t(n >> shift));
      break;
    }
    case TYPE_FLOAT: case TYPE_PERCENT: {
      uint64_t n = std::bit_cast<uint64_t>(cell::get_double(value));
      for (int shift = 56; shift >= 0; shift -= 8) bytes += char(uint8_t(n >> shift));
      break;
    }
    case TYPE_ISSUE: {
      Cell name = symbol::name_string(word::symbol_of(value));
      std::string text;
      for (uint32_t i = 0; i < string::whole_length(name); i++) {
        uint32_t c = string::char_at(name, i);
        text += char(c > 127 ? 0xFF : c);  // never a hex digit
      }
      if (!decode_base16(reinterpret_cast<const uint8_t*>(text.data()), text.size(), proto)) {
        rt::fire_error("script", "invalid-data", &value);
      }
      return proto;
    }
    case TYPE_BITSET:
      bytes.assign(reinterpret_cast<const char*>(bitset::data_pointer(value)),
                   bitset::stored_bytes(value));
      break;
    case TYPE_IMAGE: {
      // Its pixel data: the raw argb words of every pixel.
      Cell* pixels = image::extract_pixels(value, image::kArgb);
      const Cell result = *pixels;
      stack::top = pixels;
      *proto = result;
      return proto;
    }
    default:
      if (type == TYPE_CHAR || type == TYPE_BINARY || type == TYPE_TUPLE ||
          type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_HASH ||
          types::any_string(type)) {
        gather(value, false, bytes);
        break;
      }
      rt::fire_error("script", "bad-to-arg", &kBinaryType, &value);
  }
  return make_from_bytes(proto, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void do_bitwise(int32_t op) {
  const Cell* second = stack::arg(1);
  if (cell::type_of(*second) != TYPE_BINARY) rt::fire_error("script", "invalid-arg", second);
  uint32_t length_a = length_of(*stack::arg(0)) - clamped_head(*stack::arg(0));
  uint32_t length_b = length_of(*second) - clamped_head(*second);
  uint32_t length = std::max(length_a, length_b);
  Cell result{TYPE_NONE, 0, 0, 0};
  make_at(&result, length);
  const uint8_t* a = head_bytes(*stack::arg(0));
  const uint8_t* b = head_bytes(*stack::arg(1));
  Series* r = cell::series_of(result);
  uint8_t* p = r->head_ptr();
  for (uint32_t i = 0; i < length; i++) {
    bool both = i < length_a && i < length_b;
    uint8_t x = i < length_a ? a[i] : b[i];  // beyond the shorter: the longer's byte
    uint8_t y = i < length_b ? b[i] : a[i];
    switch (op) {
      case 6: p[i] = both ? x & y : 0; break;
      case 5: p[i] = both ? x | y : x; break;
      default: p[i] = both ? x ^ y : x; break;
    }
  }
  r->tail = r->head + length;
  *stack::arg(0) = result;
}

void init() {
  using namespace action;
  using datatype::act;
  using datatype::inherit;
  datatype::register_type(
      TYPE_BINARY,
      {inherit<MAKE>(), inherit<RANDOM>(), inherit<REFLECT>(), act<TO>(to), act<FORM>(form),
       act<MOLD>(mold), inherit<EVAL_PATH>(), act<COMPARE>(compare), act<AND_T>(and_t),
       act<COMPLEMENT>(complement), act<OR_T>(or_t), act<XOR_T>(xor_t), act<APPEND>(append),
       inherit<AT>(), inherit<BACK>(), act<CHANGE>(change), inherit<CLEAR>(), inherit<COPY>(),
       inherit<FIND>(), inherit<HEAD>(), inherit<HEAD_Q>(), inherit<INDEX_Q>(),
       act<INSERT>(append), inherit<LENGTH_Q>(), inherit<MOVE>(), inherit<NEXT>(),
       inherit<PICK>(), inherit<POKE>(), inherit<REMOVE>(), inherit<REVERSE>(),
       inherit<SELECT>(), inherit<SORT>(), inherit<SKIP>(), inherit<SWAP>(), inherit<TAIL>(),
       inherit<TAIL_Q>(), inherit<TAKE>(), act<TRIM>(trim), inherit<MODIFY>()});
  gc::set_type_marker(TYPE_BINARY, gc::mark_series_cell);
}

}  // namespace binary
