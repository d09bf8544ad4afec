// bitset!: a growable array of bits over a byte buffer (bit i is 0x80 >> (i & 7) of byte i >> 3),
// used as a character set by parse, find and trim and as a plain bit array. A complemented
// bitset counts every bit beyond its stored bytes as a member; a stored 1 is a member in both
// kinds. Relies on the rooting rule of runtime/gc.h: operations that grow a bitset may move its
// buffer, so they keep its cell (which names the node) and re-derive addresses.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace bitset {

// Buffer flag of a complemented bitset.
constexpr uint32_t kComplemented = 0x80000;

// The first stored byte; valid until the next allocation.
uint8_t* data_pointer(const Cell& bitset);
uint32_t stored_bytes(const Cell& bitset);
bool complemented(const Cell& bitset);
// Whether bit i is a member (beyond the stored bits: the complemented flag).
bool test_bit(const Cell& bitset, uint32_t index);

// Grows the stored bytes to hold bit `index` (new bytes 255 in a complemented bitset, else 0).
// May allocate.
void ensure_bit(const Cell& bitset, uint32_t index);

// Operations on bits first..last (inclusive). kSet makes them members, kClear non-members (both
// may allocate); kTest tells whether all are members.
enum Op : int { kHighest = 0, kSet = 1, kTest = 2, kClear = 3 };
bool range_op(const Cell& bitset, uint32_t first, uint32_t last, Op op);

// Applies an operation to the bits a value names: a char! or integer! (its bit), an any-string
// (each code point from the head), a block! of those, where `a - b` names the range a..b. With
// kHighest nothing changes and the result is the highest bit named (-1 when none); with kTest it
// is 1 when every bit named is a member, else 0. Errors: a negative integer script/out-of-range,
// a range end of another type script/invalid-arg, a missing or lower range end script/past-end,
// any other value script/invalid-arg. May allocate (kSet, kClear).
int64_t apply_spec(const Cell& value, const Cell& bitset, Op op);

// Makes the cell (which must stay put) a new bitset from the spec as make (or, with to_flag, to)
// does. May allocate.
Cell* make_from(Cell* cell, const Cell& spec, bool to_flag);

// The bitwise operations on the frame's two cells, result into arguments[0]: ops 5 and 9 or,
// 6 and 10 and, 7 and 12 xor, 11 and-not, 8 the first unchanged. The second must be a bitset!
// (else script/invalid-type with its datatype). May allocate.
void do_bitwise(int32_t op);

// Registers bitset! and its collector marking.
void init();

}  // namespace bitset
