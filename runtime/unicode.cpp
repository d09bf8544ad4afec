// Unicode text: widening of string buffers and conversion between them and UTF-8 / UTF-16LE.
// Relies on the memory manager (buffers move at every allocation, so every function here that
// allocates does it once and derives its addresses again afterwards) and on the error raise of
// runtime/throw.h. The rooting contract of each function is in runtime/unicode.h.
#include "runtime/unicode.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

static_assert(std::endian::native == std::endian::little,
              "string units and UTF-16LE text are read as native little-endian words");

namespace unicode {

__attribute__((noinline)) void bad_unit() {
  rt::runtime_error(rt::kFatalNoSwitchMatch, __builtin_return_address(0));
}

using alloc::Series;

namespace {

// --- The UTF-8 automaton -------------------------------------------------------------------------
// Bjoern Hoehrmann's decoder: the first 256 entries map a byte to its class (0-11), the rest map
// state + class to the next state. States are multiples of 12; it accepts exactly well-formed
// UTF-8 and rejects at the first byte that cannot continue a valid sequence.

constexpr uint32_t kAccept = 0;
constexpr uint32_t kReject = 12;

constexpr uint8_t kUtf8Dfa[256 + 108] = {
    // byte classes
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3,
    11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    // transitions: state + class
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12, 12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
};

// One byte through the automaton: a lead byte's class selects its payload bits, a continuation
// adds its low six.
inline uint32_t dfa_step(uint32_t state, uint8_t byte, uint32_t& code_point) {
  uint32_t type = kUtf8Dfa[byte];
  code_point = state != kAccept ? (byte & 0x3Fu) | (code_point << 6) : (0xFFu >> type) & byte;
  return kUtf8Dfa[256 + state + type];
}

// --- Units and failures --------------------------------------------------------------------------

inline uint32_t read_utf16(const uint8_t* text, size_t i) { return read_unit(text + 2 * i, 2); }

inline uint32_t unit_for(uint32_t code_point) {
  return code_point <= 0xFF ? 1 : code_point <= 0xFFFF ? 2 : 4;
}

inline void set_unit(Series* s, uint32_t unit) {
  s->flags = (s->flags & ~Series::kUnitMask) | unit;
}

// A buffer size, computed in 64 bits by the caller, that the memory manager can carve.
uint32_t checked_capacity(uint64_t bytes) {
  if (bytes > alloc::kMaxCapacity) rt::fire_error("internal", "no-memory");
  return static_cast<uint32_t>(bytes);
}

[[noreturn]] void raise_invalid_char(uint32_t code_point) {
  Cell arg{TYPE_INTEGER, 0, code_point, 0};
  rt::fire_error("script", "invalid-char", &arg);
}

// The bytes at the position (four, or fewer when the input ends sooner) as a new binary!.
[[noreturn]] void raise_invalid_utf8(const uint8_t* bytes, size_t available) {
  uint8_t copy[4];
  size_t n = std::min<size_t>(available, 4);
  std::memcpy(copy, bytes, n);  // the bytes may lie in a buffer that the allocation moves
  uint32_t node = alloc::new_byte_series(static_cast<uint32_t>(n));
  gc::Guard guard(node);
  Series* s = alloc::series_of(node);
  std::memcpy(s->data(), copy, n);
  s->tail = static_cast<uint32_t>(n);
  Cell arg = cell::make_series(TYPE_BINARY, node);
  rt::fire_error("access", "invalid-utf8", &arg);
}

// --- String values -------------------------------------------------------------------------------

constexpr uint64_t kWhole = std::numeric_limits<uint64_t>::max();
constexpr int64_t kNoBound = std::numeric_limits<int64_t>::max();

// Units of a string value from its head, at most `limit` of them. A head past the tail is empty.
struct Span {
  const uint8_t* start;
  uint32_t unit;
  uint64_t count;
  const uint8_t* end() const { return start + count * unit; }
};

Span span_of(const Cell& value, uint64_t limit) {
  Series* s = alloc::series_of(cell::series_node(value));
  uint32_t unit = s->unit();
  check_unit(unit);
  uint64_t length = s->used() / unit;
  uint64_t index = std::min<uint64_t>(cell::series_index(value), length);
  return Span{s->head_ptr() + index * unit, unit, std::min(length - index, limit)};
}

// Encodes the span as UTF-8 within `room` bytes (sequences cut at its end); with crlf a CR goes
// before each LF. Returns the bytes written.
int64_t encode_span(const Span& text, uint8_t* destination, int64_t room, bool crlf) {
  int64_t written = 0;
  for (uint64_t i = 0; i < text.count && written < room; i++) {
    uint32_t code_point = read_unit(text.start + i * text.unit, text.unit);
    if (crlf && code_point == '\n') {
      written += encode_utf8_char_bounded('\r', destination + written, room - written);
    }
    written += encode_utf8_char_bounded(code_point, destination + written, room - written);
  }
  return written;
}

// A count argument: part (negative meaning the whole rest) as a limit on units.
uint64_t part_limit(int64_t part) { return part < 0 ? kWhole : static_cast<uint64_t>(part); }

// --- Loading UTF-8 -------------------------------------------------------------------------------


// Walks the characters of bytes[pos, length), calling store(code point) for each element after CR
// folding. Returns where it stopped: length, or the start of a sequence the end cuts short.
template <class Store>
size_t walk_utf8(const uint8_t* bytes, size_t pos, size_t length, bool fold_cr, Store&& store) {
  while (pos < length) {
    size_t used = length - pos;
    int32_t code_point = decode_utf8_char_checked(bytes + pos, used);
    if (code_point < 0) break;
    pos += used;
    if (fold_cr && code_point == '\r') {
      if (pos < length && bytes[pos] == '\n') continue;
      code_point = '\n';
    }
    store(static_cast<uint32_t>(code_point));
  }
  return pos;
}

// Measures the text (which raises on malformed input before anything is touched), sizes the
// target once, then decodes into it without allocating again.
uint32_t load(const ByteSource& source, size_t length, uint32_t target, uint32_t* remaining,
              bool fold_cr) {
  const uint8_t* bytes = source.address();
  size_t start = length > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
  uint64_t count = 0;
  uint32_t widest = 0;
  size_t stop = walk_utf8(bytes, start, length, fold_cr, [&](uint32_t code_point) {
    count++;
    widest = std::max(widest, code_point);
  });

  uint32_t unit = unit_for(widest);
  Series* s;
  if (target) {
    s = alloc::series_of(target);
    check_unit(s->unit());
    unit = std::max(unit, s->unit());  // a buffer never narrows
    uint32_t need = checked_capacity(count * unit);
    s->tail = s->head;  // the previous content is replaced
    set_unit(s, unit);
    if (s->capacity - s->head < need) s = alloc::move_series_buffer(target, need);
  } else {
    checked_capacity(count * unit);
    target = alloc::new_unit_series(static_cast<uint32_t>(count), unit);
    s = alloc::series_of(target);
  }

  uint8_t* out = s->head_ptr();
  walk_utf8(source.address(), start, stop, fold_cr, [&](uint32_t code_point) {
    write_unit(out, unit, code_point);
    out += unit;
  });
  s->tail = s->head + static_cast<uint32_t>(count * unit);
  if (remaining) *remaining = static_cast<uint32_t>(length - stop);
  return target;
}

// --- Widening ------------------------------------------------------------------------------------

Series* widen(uint32_t node, uint32_t from, uint32_t to) {
  Series* s = alloc::series_of(node);
  if (s->unit() != from) bad_unit();
  uint64_t n = s->used() / from;
  uint32_t need = checked_capacity((n + 1) * to);  // room for one more element of the new width
  if (s->capacity - s->head < need) s = alloc::expand_series(node, need);
  uint8_t* first = s->head_ptr();
  // Last to first: element i's wider copy only reaches over elements after it, already moved.
  for (uint64_t i = n; i-- > 0;) write_unit(first + i * to, to, read_unit(first + i * from, from));
  s->tail = s->head + static_cast<uint32_t>(n * to);
  set_unit(s, to);
  return s;
}

[[noreturn]] void invalid_utf16() {
  std::fputs("*** Input Error: invalid UTF-16LE codepoint\n", stderr);
  std::fflush(stderr);
  std::exit(1);
}

}  // namespace

// --- Permissive UTF-8 decoding ---------------------------------------------------------------

const uint8_t* decode_utf8_dfa(const uint8_t* p, const uint8_t* end, int32_t& code_point) {
  uint32_t state = kAccept;
  uint32_t value = 0;
  while (p < end) {
    state = dfa_step(state, *p++, value);
    if (state == kAccept) {
      code_point = static_cast<int32_t>(value);
      return p;
    }
    if (state == kReject) break;
  }
  code_point = -1;
  return p;
}

size_t count_utf8_chars(const uint8_t* start, const uint8_t* end) {
  size_t n = 0;
  int32_t code_point;
  for (const uint8_t* p = start; p < end; n++) p = decode_utf8_dfa(p, end, code_point);
  return n;
}

const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, size_t n) {
  int32_t code_point;
  for (; n > 0 && p < end; n--) p = decode_utf8_dfa(p, end, code_point);
  return p;
}

uint32_t utf8_lead_length(uint8_t byte) {
  if ((byte & 0xF0) == 0xF0) return 4;
  if ((byte & 0xE0) == 0xE0) return 3;
  if ((byte & 0xC0) == 0xC0) return 2;
  return 0;
}

// --- UTF-8 encoding ------------------------------------------------------------------------------

uint32_t utf8_char_size(uint32_t code_point) {
  if (code_point <= 0x7F) return 1;
  if (code_point <= 0x7FF) return 2;
  if (code_point <= 0xFFFF) return 3;
  if (code_point <= kMaxCodePoint) return 4;
  raise_invalid_char(code_point);
}

uint64_t utf8_size_of_units(const uint8_t* start, const uint8_t* end, uint32_t unit) {
  check_unit(unit);
  uint64_t size = 0;
  for (const uint8_t* p = start; p < end; p += unit) size += utf8_char_size(read_unit(p, unit));
  return size;
}

uint32_t encode_utf8_char(uint32_t code_point, uint8_t* destination) {
  uint32_t size = utf8_char_size(code_point);
  if (size == 1) {
    destination[0] = static_cast<uint8_t>(code_point);
    return 1;
  }
  static constexpr uint8_t kLeadMark[5] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (uint32_t i = size - 1; i > 0; i--) {
    destination[i] = static_cast<uint8_t>(0x80 | (code_point & 0x3F));
    code_point >>= 6;
  }
  destination[0] = static_cast<uint8_t>(kLeadMark[size] | code_point);
  return size;
}

uint32_t encode_utf8_char_bounded(uint32_t code_point, uint8_t* destination, int64_t room) {
  uint8_t form[4];
  uint32_t size = encode_utf8_char(code_point, form);
  uint32_t n = room < 1 ? 0 : static_cast<uint32_t>(std::min<int64_t>(room, size));
  std::memcpy(destination, form, n);
  return n;
}

uint64_t encode_utf8_into(const Cell& value, int64_t part, uint8_t* destination, bool nul) {
  int64_t n = encode_span(span_of(value, part_limit(part)), destination, kNoBound, false);
  if (nul) destination[n] = 0;
  return static_cast<uint64_t>(n);
}

uint64_t encode_utf8_bounded(uint8_t* destination, int64_t room, int64_t part, const Cell& value,
                             bool nul) {
  int64_t n = encode_span(span_of(value, part <= 0 ? kWhole : part_limit(part)), destination,
                          room, false);
  if (nul) destination[n] = 0;
  return static_cast<uint64_t>(n);
}

alloc::Series* to_utf8_cached(Cell& value, int64_t& count, bool crlf) {
  Span text = span_of(value, part_limit(count));
  // Widest UTF-8 form per unit, LF as CR LF included: 2 bytes for unit 1, 3 for 2, 4 for 4.
  uint64_t per_unit = text.unit == 4 ? 4 : text.unit + 1;
  uint64_t room = per_unit * (text.count + 1);
  uint8_t* out = reserve_cache(value, room);
  text = span_of(value, text.count);  // the reservation may have moved the string
  int64_t n = encode_span(text, out, static_cast<int64_t>(room - 1), crlf);
  out[n] = 0;
  Series* cache = alloc::series_of(cell::series_extra(value));
  cache->tail = static_cast<uint32_t>(n + 1);
  count = n;
  return cache;
}

uint8_t* string_to_utf8(Cell& value, int64_t& count) {
  return to_utf8_cached(value, count, false)->data();
}

uint8_t* string_part_to_utf8(Cell& value, int64_t& count, bool crlf) {
  return to_utf8_cached(value, count, crlf)->data();
}

// --- Widening ------------------------------------------------------------------------------------

alloc::Series* widen_latin1_to_ucs2(uint32_t node) { return widen(node, 1, 2); }
alloc::Series* widen_latin1_to_ucs4(uint32_t node) { return widen(node, 1, 4); }
alloc::Series* widen_ucs2_to_ucs4(uint32_t node) { return widen(node, 2, 4); }

// --- Strict UTF-8 decoding -----------------------------------------------------------------------

int32_t decode_utf8_char_checked(const uint8_t* bytes, size_t& count) {
  uint32_t state = kAccept;
  uint32_t code_point = 0;
  for (size_t i = 0; i < count; i++) {
    state = dfa_step(state, bytes[i], code_point);
    if (state == kAccept) {
      count = i + 1;
      return static_cast<int32_t>(code_point);
    }
    if (state == kReject) raise_invalid_utf8(bytes, count);
  }
  count = 0;
  return -1;
}

uint32_t load_utf8(const uint8_t* bytes, size_t length, uint32_t target, uint32_t* remaining,
                   bool fold_cr) {
  return load(ByteSource{bytes, 0, 0}, length, target, remaining, fold_cr);
}

uint32_t load_utf8(uint32_t source, size_t offset, size_t length, uint32_t target,
                   uint32_t* remaining, bool fold_cr) {
  return load(ByteSource{nullptr, source, offset}, length, target, remaining, fold_cr);
}

uint32_t decode_utf8_into(const uint8_t* bytes, size_t length, const Cell& value,
                          uint32_t* remaining) {
  return load_utf8(bytes, length, cell::series_node(value), remaining, false);
}

uint32_t decode_utf8_new(const uint8_t* bytes, size_t length) {
  return load_utf8(bytes, length, 0, nullptr, false);
}

// --- UTF-16LE ------------------------------------------------------------------------------------

uint32_t utf16_unit_width(const uint16_t* text, size_t count) {
  uint32_t width = 1;
  for (size_t i = 0; i < count; i++) {
    uint32_t high = text[i] >> 8;
    if (high >= 0xD8 && high <= 0xDF) return 4;
    if (high) width = 2;
  }
  return width;
}

uint32_t load_utf16(const uint16_t* source, size_t count, Cell* target, bool drop_cr) {
  auto address = [&]() -> const uint8_t* {
    if (source || count == 0) return reinterpret_cast<const uint8_t*>(source);
    return alloc::series_of(cell::series_extra(*target))->data();
  };
  uint32_t width = utf16_unit_width(reinterpret_cast<const uint16_t*>(address()), count);
  uint32_t need = checked_capacity(uint64_t(count) * width);
  uint32_t node;
  Series* s;
  if (target) {
    node = cell::series_node(*target);
    s = alloc::series_of(node);
    check_unit(s->unit());
    s->tail = s->head;  // the previous content is replaced
    set_unit(s, width);
    if (s->capacity - s->head < need) s = alloc::move_series_buffer(node, need);
  } else {
    node = alloc::new_unit_series(static_cast<uint32_t>(count), width);
    s = alloc::series_of(node);
  }

  const uint8_t* text = address();  // the allocation may have moved a source in the cache
  uint8_t* out = s->head_ptr();
  for (size_t i = 0; i < count; i++) {
    uint32_t unit = read_utf16(text, i);
    if (drop_cr && unit == '\r') continue;
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      // Only a high surrogate followed by a low one makes a code point; a buffer holds no halves.
      uint32_t low = i + 1 < count ? read_utf16(text, i + 1) : 0;
      if (unit > 0xDBFF || low < 0xDC00 || low > 0xDFFF) invalid_utf16();
      unit = (((unit & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
      i++;
    }
    write_unit(out, width, unit);
    out += width;
  }
  s->tail = static_cast<uint32_t>(out - s->data());
  return node;
}

uint64_t utf16_extra_units(const uint8_t* start, const uint8_t* end, uint32_t unit) {
  check_unit(unit);
  uint64_t extra = 0;
  for (const uint8_t* p = start; p < end; p += unit) {
    uint32_t code_point = read_unit(p, unit);
    if (code_point == '\n' || code_point > 0xFFFF) extra += 2;
  }
  return extra;
}

const uint16_t* to_utf16(Cell& value, int64_t& count, bool crlf) {
  Span text = span_of(value, part_limit(count));
  uint64_t room = 2 * text.count + 2 + utf16_extra_units(text.start, text.end(), text.unit);
  uint8_t* out = reserve_cache(value, room);
  text = span_of(value, text.count);  // the reservation may have moved the string
  uint64_t units = 0;
  auto put = [&](uint32_t unit) { write_unit(out + 2 * units++, 2, unit); };
  for (uint64_t i = 0; i < text.count; i++) {
    uint32_t code_point = read_unit(text.start + i * text.unit, text.unit);
    if (crlf && code_point == '\n') put('\r');
    if (code_point <= 0xFFFF) {
      put(code_point);
    } else if (code_point <= kMaxCodePoint) {
      put(0xD800 | ((code_point - 0x10000) >> 10));
      put(0xDC00 | ((code_point - 0x10000) & 0x3FF));
    } else {
      count = 0;
      return nullptr;
    }
  }
  put(0);
  alloc::series_of(cell::series_extra(value))->tail = static_cast<uint32_t>(2 * units);
  count = static_cast<int64_t>(units - 1);
  return reinterpret_cast<const uint16_t*>(out);
}

const uint16_t* to_utf16_crlf(Cell& value) {
  int64_t count = -1;
  return to_utf16(value, count, true);
}

uint16_t* ascii_to_utf16(const char* text, uint16_t* destination) {
  uint16_t* out = destination;
  while (*text) *out++ = static_cast<uint8_t>(*text++);
  *out = 0;
  return destination;
}

uint8_t* reserve_cache(Cell& value, uint64_t size) {
  uint32_t bytes = checked_capacity(size);
  if (cell::series_extra(value) == 0) {
    uint32_t node = alloc::new_byte_series(bytes);
    cell::set_series_extra(value, node);
    return alloc::series_of(node)->data();
  }
  Series* cache = alloc::series_of(cell::series_extra(value));
  if (cache->capacity < bytes) cache = alloc::expand_series(cell::series_extra(value), bytes);
  return cache->data();
}

}  // namespace unicode
