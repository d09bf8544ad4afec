// binary!: the byte-string series (a string! child over a unit-1 buffer), its byte helpers, the
// conversions of to binary!, the byte text of form and mold, and the base-2/16/58/64 codecs behind
// enbase, debase and the #{...}, 2#{...} and 64#{...} literals. Relies on the rooting rule of
// runtime/gc.h: bytes are gathered into C++ memory before anything allocates, and cells written
// after an allocation must stay put (a data-stack cell or a C++ local).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace binary {

// --- Byte helpers ------------------------------------------------------------------------------

// Bytes from the head to the tail; a head past the tail is brought back to the tail (giving 0).
uint32_t rest_length(Cell& value);
// Makes the cell an empty binary! with room for size bytes. May allocate.
Cell* make_at(Cell* cell, uint32_t size);
// Makes the cell a new binary! holding a copy of the bytes (which must not lie in series
// memory). May allocate.
Cell* make_from_bytes(Cell* cell, const uint8_t* bytes, size_t length);
// Stores the low byte of an integer! or char! value (poke into a binary); any other value
// raises script/invalid-arg.
void store_byte(uint8_t* at, const Cell& value);
// -1, 0 or 1 comparing the bytes from both heads, unsigned (the shorter run is the lesser); SAME
// compares buffer and head; with prefix only other's length takes part. A non-binary other is
// not comparable (action::kNotComparable).
int32_t compare_bytes(const Cell& binary, const Cell& other, int32_t op, bool prefix);

// --- Base codecs -------------------------------------------------------------------------------
// Bases 2, 16, 58 and 64. Encoders give the text: 2 as eight "0"/"1" per byte, 16 as two
// upper-case hex digits per byte, 58 as a "1" per leading zero byte and the rest as a number in
// an alphabet without 0, O, I and l, 64 in the standard alphabet padded with "=" to whole groups
// of four, no line breaks. Decoders skip blanks (bases 2 and 16: every byte up to space; bases 58
// and 64: backspace, tab, line feed, form feed, carriage return, space and the apostrophe) and
// ";" comments (to the end of the line) and fail on any other byte that is not a digit of the
// base, bytes above 127 included (never read by their low 7 bits), except that base 58 stops
// reading there; base 2 fails when the bits do not make whole bytes, base 16 drops a last
// unpaired digit, base 64 ends a group at "=" (a group of 2 or 3 digits gives 1 or 2 bytes, also
// at the end of the text without "="; one digit alone fails).
// A decoder that succeeds makes `out` (which must stay put) a new binary! and returns true; one
// that fails returns false and leaves `out` alone. The text is read in full before anything is
// allocated, so it may lie in series memory. Decoders may allocate.

std::string encode_base2(const uint8_t* bytes, size_t length);
std::string encode_base16(const uint8_t* bytes, size_t length);
std::string encode_base58(const uint8_t* bytes, size_t length);
std::string encode_base64(const uint8_t* bytes, size_t length);
bool decode_base2(const uint8_t* text, size_t length, Cell* out);
bool decode_base16(const uint8_t* text, size_t length, Cell* out);
bool decode_base58(const uint8_t* text, size_t length, Cell* out);
bool decode_base64(const uint8_t* text, size_t length, Cell* out);
// By base; false for a base other than 2, 16, 58 and 64.
bool encode_base(int base, const uint8_t* bytes, size_t length, std::string& text);
bool decode_base(int base, const uint8_t* text, size_t length, Cell* out);

// --- Actions -----------------------------------------------------------------------------------

// to binary! (and make binary! from anything but a size): the spec's bytes in a new binary!,
// written into proto (which must stay put). May allocate.
Cell* to(Cell* proto, Cell* spec, uint8_t type);
// The bitwise actions on the frame's two cells (ops 5 or, 6 and, 7 xor); the second must be a
// binary! (else script/invalid-arg); the new binary replaces arguments[0]. May allocate.
void do_bitwise(int32_t op);

// Registers binary! (string!'s row must be complete: binary! inherits from it).
void init();

}  // namespace binary
