// Unicode text: string buffers of whole code points (unit 1 Latin-1, 2 UCS-2, 4 UCS-4), their
// one-way widening, and conversion between them and UTF-8 / UTF-16LE bytes.
// Relies on the memory manager (buffers move, nodes do not) and the rooting rule of runtime/gc.h.
// A buffer of any other unit met here is fatal runtime error 101.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/alloc.h"
#include "runtime/cell.h"

// Rooting. A function here that may allocate is marked "May allocate". Across such a call:
//  - node arguments (targets, sources) must be rooted by the caller, and a node returned is not
//    rooted yet: guard or store it before the next allocation;
//  - a string value passed by reference must itself stay put and be rooted: keep it in a C++
//    local held by a gc::Guard, not in a series buffer (a block's cells, a context's values),
//    which may move while the call allocates (the call reads and writes it afterwards);
//  - byte pointers into series memory go stale; the functions say which of their pointers must
//    stay valid and offer a node + offset form where a source may live in a series.
//
// Conversion cache: word 3 of a string value may name a byte buffer (reserve_cache) reused as the
// target of that value's UTF-8 and UTF-16 conversions. The text stays until the next conversion
// of the value, its address only until the next allocation: copy it or hand it on at once.

namespace unicode {

// The code unit at the address, of the given width (1, 2 or 4).
uint32_t code_unit(const uint8_t* address, uint32_t unit);

// Where bytes being decoded live: outside series memory, or in a series at an offset from its
// head, derived again after an allocation.
struct ByteSource {
  const uint8_t* bytes;
  uint32_t node;
  size_t offset;
  const uint8_t* address() const {
    return node ? alloc::series_of(node)->head_ptr() + offset : bytes;
  }
};

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// --- Permissive UTF-8 decoding (the lexer's) ----------------------------------------------------

// Decodes one UTF-8 sequence at p with the table-driven state machine and never reads at or past
// end. Stores the code point, or -1 for a malformed sequence (consumed up to and including the
// byte that made it invalid) or one cut short by end (consumed to end). Returns the position
// after the bytes consumed; p == end gives -1 and consumes nothing. Never raises.
const uint8_t* decode_utf8_dfa(const uint8_t* p, const uint8_t* end, int32_t& code_point);
// Sequences decode_utf8_dfa takes to walk from start to end (a malformed one counts as one).
size_t count_utf8_chars(const uint8_t* start, const uint8_t* end);
// Advances over at most n sequences, never past end.
const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, size_t n);
// 4, 3 or 2 for a byte whose top four, three or two bits are set; 0 for ASCII and continuation
// bytes.
uint32_t utf8_lead_length(uint8_t byte);

// --- UTF-8 encoding -----------------------------------------------------------------------------
// Code points above 10FFFF (and negative ones, seen as unsigned) raise script/invalid-char with the
// code point as an integer!.

uint32_t utf8_char_size(uint32_t code_point);
// Bytes of the UTF-8 form of the code units in [start, end) of the given unit.
uint64_t utf8_size_of_units(const uint8_t* start, const uint8_t* end, uint32_t unit);
// Writes the 1-4 byte form; returns the count.
uint32_t encode_utf8_char(uint32_t code_point, uint8_t* destination);
// As encode_utf8_char, writing only the first `room` bytes of the form (none when room < 1);
// returns the bytes written, so the last sequence may be cut.
uint32_t encode_utf8_char_bounded(uint32_t code_point, uint8_t* destination, int64_t room);

// The value's units from its head (a head past the tail counts as empty), at most `part` of them
// when part is 0 or more and below the length (a negative part means the whole rest), into the
// destination; one NUL byte follows when asked for. Returns the bytes written, NUL not counted.
uint64_t encode_utf8_into(const Cell& value, int64_t part, uint8_t* destination, bool nul);
// The same within a budget of `room` bytes (sequences cut at the end of the room); a part of 0 or
// less, or not below the length, means the whole rest; the NUL goes after the budget's bytes.
uint64_t encode_utf8_bounded(uint8_t* destination, int64_t room, int64_t part, const Cell& value,
                             bool nul);

// UTF-8 copy of the value from its head in its conversion cache, NUL-terminated. count: in = part
// or -1, out = bytes written (NUL not counted). With crlf each LF is preceded by CR. Returns the
// cache buffer (text at its data start). May allocate.
alloc::Series* to_utf8_cached(Cell& value, int64_t& count, bool crlf);
// to_utf8_cached without LF conversion / with the caller's flag; both return the text's address.
uint8_t* string_to_utf8(Cell& value, int64_t& count);
uint8_t* string_part_to_utf8(Cell& value, int64_t& count, bool crlf);

// --- Widening -----------------------------------------------------------------------------------
// In place, from the last element to the first, expanding the buffer first when it lacks room
// for the wider elements plus one. Return the node's (possibly moved) buffer. May allocate.

alloc::Series* widen_latin1_to_ucs2(uint32_t node);
alloc::Series* widen_latin1_to_ucs4(uint32_t node);
alloc::Series* widen_ucs2_to_ucs4(uint32_t node);

// --- Strict UTF-8 decoding ----------------------------------------------------------------------

// Decodes one character of well-formed UTF-8. count: in = bytes available, out = bytes used.
// Returns the code point, or -1 (count 0) when the bytes are a proper beginning of a sequence
// that needs more than are available. Anything else (stray continuation, overlong form, encoded
// surrogate, value above 10FFFF, bytes F5-FF) raises access/invalid-utf8 with the (up to) four
// bytes at the position as a new binary!.
int32_t decode_utf8_char_checked(const uint8_t* bytes, size_t& count);

// Decodes UTF-8 text into a string buffer and returns its node. A leading EF BB BF is skipped;
// with fold_cr, CR LF becomes LF and a lone CR becomes LF. A sequence cut short by the end stops
// the decoding; the bytes left over are stored in *remaining (0 when all were used) when given.
// Malformed input raises invalid-utf8 before anything is written.
// The text is measured first (count and widest code point); then the target is sized once: a
// target node keeps its unit unless the text needs a wider one, and its previous content is
// replaced from its first element; without one (target 0) a new buffer of the narrowest unit is
// made. May allocate, exactly once: `bytes` must stay valid across that allocation, so they must
// not lie in series memory; use the node form for bytes held in a series.
uint32_t load_utf8(const uint8_t* bytes, size_t length, uint32_t target, uint32_t* remaining,
                   bool fold_cr);
// The same for bytes held in a series: `length` bytes from `offset` bytes past the head of the
// rooted source node; the address is derived again after the allocation.
uint32_t load_utf8(uint32_t source, size_t offset, size_t length, uint32_t target,
                   uint32_t* remaining, bool fold_cr);
// load_utf8 into the value's buffer, no CR folding.
uint32_t decode_utf8_into(const uint8_t* bytes, size_t length, const Cell& value,
                          uint32_t* remaining);
// load_utf8 into a new buffer, no CR folding.
uint32_t decode_utf8_new(const uint8_t* bytes, size_t length);

// --- UTF-16LE -----------------------------------------------------------------------------------

// 4 when a unit is a surrogate (high byte D8-DF), else 2 when a unit's high byte is non-zero,
// else 1.
uint32_t utf16_unit_width(const uint16_t* text, size_t count);
// Decodes `count` UTF-16LE units into a string buffer of unit utf16_unit_width and returns its
// node: into the target value's buffer (its content replaced, its unit set to the width) or a new
// one when target is null. A null source means the target's conversion cache. Surrogate pairs
// join into one element; with drop_cr every CR unit is left out. A high surrogate not followed by
// a low one, or a low surrogate not preceded by a high one, prints "*** Input Error: invalid
// UTF-16LE codepoint" on standard error and ends the process with status 1. May allocate, once: a
// non-null source must stay valid across it (outside series memory).
uint32_t load_utf16(const uint16_t* source, size_t count, Cell* target, bool drop_cr);
// Bytes to add to 2 x the unit count for to_utf16: 2 per LF and 2 per code point above FFFF.
uint64_t utf16_extra_units(const uint8_t* start, const uint8_t* end, uint32_t unit);
// NUL-terminated UTF-16LE copy of the value from its head in its conversion cache. count: in =
// part or -1, out = units written (NUL not counted). With crlf each LF is preceded by CR. Returns
// null (count 0) when a code point above 10FFFF is met. May allocate.
const uint16_t* to_utf16(Cell& value, int64_t& count, bool crlf);
// to_utf16 of the whole rest with LF to CR LF.
const uint16_t* to_utf16_crlf(Cell& value);
// Widens each byte of the NUL-terminated text to a 16-bit unit and ends with a 16-bit NUL.
uint16_t* ascii_to_utf16(const char* text, uint16_t* destination);

// Address of the data of the value's conversion cache, at least `size` bytes: a new byte buffer
// whose node goes in word 3 when the value has none, else the existing one, expanded when
// smaller. A size beyond alloc::kMaxCapacity raises internal/no-memory. May allocate.
uint8_t* reserve_cache(Cell& value, uint64_t size);

}  // namespace unicode
