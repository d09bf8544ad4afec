// typeset!: a set of datatypes in the cell's three payload words (type id N is bit 0x80 >> (N & 7)
// of payload byte N >> 3, byte 0 the first byte of word 1). Function specs check arguments
// against them; the set operations, find and to block! use them too. Relies on the datatype
// name table and the global context for the words of type names.
#pragma once
#include <array>
#include <cstdint>

#include "runtime/cell.h"

namespace typeset {

inline Cell empty() { return Cell{TYPE_TYPESET, 0, 0, 0}; }
// The map as its three payload words, word 1 first: what the set operations combine.
using Bits = std::array<uint32_t, 3>;
inline Cell make(const Bits& bits) { return Cell{TYPE_TYPESET, bits[0], bits[1], bits[2]}; }
inline Bits bits_of(const Cell& typeset) { return {typeset.w1, typeset.w2, typeset.w3}; }
inline void set_bits(Cell& typeset, const Bits& bits) {
  typeset.w1 = bits[0];
  typeset.w2 = bits[1];
  typeset.w3 = bits[2];
}
// Keeps in the typeset only the types the other typeset has too.
inline void intersect(Cell& typeset, const Cell& other) {
  typeset.w1 &= other.w1;
  typeset.w2 &= other.w2;
  typeset.w3 &= other.w3;
}
void clear(Cell& typeset);
void set(Cell& typeset, uint8_t type);
// Members among the registered types.
uint32_t count(const Cell& typeset);

// Each appends a new typeset to the block and returns it (valid until the next allocation).
// May allocate.
Cell* append_bits(const Cell& block, uint32_t word1, uint32_t word2, uint32_t word3);
Cell* append_all_but_unset(const Cell& block);
// The typeset of a function spec's type block: words stand for their global values; a
// datatype! or typeset! adds its types, a word naming no type object!, a nested block nothing;
// anything else raises script/invalid-type-spec.
Cell* append_from_spec(const Cell& block, const Cell& types);

// Adds a datatype!, or the members of a typeset!; a word stands for its value; anything else
// raises script/invalid-arg.
void add_value(Cell& typeset, const Cell& value);
// The set operations on the frame's two cells (a typeset!, then a typeset! or datatype!): ops 5
// and 9 or, 6 and 10 and, 7 and 12 xor, 11 and-not, 8 the first unchanged. The result replaces
// arguments[0].
void do_bitwise(int32_t op);
// Makes the cell (which must stay put) a new block! of the members' type-name words. May
// allocate.
void to_block(const Cell& typeset, Cell* destination);
// Whether the datatype! is a member; another value raises script/invalid-arg.
bool find(const Cell& typeset, const Cell& value);

// Registers typeset!.
void init();

}  // namespace typeset
