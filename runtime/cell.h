// The value cell: every value of the language is one 16-byte cell, in a block's buffer, on the
// data stack or in a context's values. Word 0 is the header (datatype id in the low byte, flags
// above); words 1-3 are the payload. A cell never holds a machine pointer: references are 32-bit
// node indexes (series and contexts) or indexes into runtime tables. A 64-bit payload (float,
// time...) lives in words 2-3, which are 8-byte aligned.
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime/alloc.h"
#include "runtime/types.h"

struct alignas(8) Cell {
  uint32_t header;
  uint32_t w1, w2, w3;
};
static_assert(sizeof(Cell) == 16);

namespace cell {

constexpr uint32_t kTypeMask = 0xFF;
constexpr uint32_t kNewLine = 0x40000000;

inline uint8_t type_of(const Cell& c) { return static_cast<uint8_t>(c.header & kTypeMask); }

// Replaces the datatype id and keeps every flag bit.
inline Cell& set_type(Cell& c, uint8_t type) {
  c.header = (c.header & ~kTypeMask) | type;
  return c;
}

inline double get_double(const Cell& c) {
  double d;
  std::memcpy(&d, &c.w2, sizeof d);
  return d;
}
inline void set_double(Cell& c, double d) { std::memcpy(&c.w2, &d, sizeof d); }
// Word 1 of the types that leave it unused (float!, time!, pair!...): kept 0.
inline void clear_word1(Cell& c) { c.w1 = 0; }
// Cells naming an external-resource record (handle!...): its index in word 3, negative for none.
inline int32_t resource_record(const Cell& c) { return static_cast<int32_t>(c.w3); }

// Series cells: word 1 the head index (in units), word 2 the buffer's node, word 3 an extra node
// (for strings, the cache of their UTF-8/UTF-16 conversions).
inline Cell make_series(uint8_t type, uint32_t node, uint32_t index = 0) {
  return Cell{type, index, node, 0};
}
inline uint32_t series_index(const Cell& c) { return c.w1; }
inline int32_t series_index_signed(const Cell& c) { return static_cast<int32_t>(c.w1); }
inline void set_series_index(Cell& c, uint32_t index) { c.w1 = index; }
inline uint32_t series_node(const Cell& c) { return c.w2; }
inline void set_series_node(Cell& c, uint32_t node) { c.w2 = node; }
inline uint32_t series_extra(const Cell& c) { return c.w3; }
inline void set_series_extra(Cell& c, uint32_t node) { c.w3 = node; }

// datatype! cells: word 1 the type id.
inline uint8_t datatype_id(const Cell& c) { return static_cast<uint8_t>(c.w1); }
inline Cell make_datatype(uint8_t type) { return Cell{TYPE_DATATYPE, type, 0, 0}; }

// Cells keeping one 32-bit value in word 2 (integer!, char!...), or a flag in word 1 (logic!).
inline uint32_t value_word(const Cell& c) { return c.w2; }
inline void set_value_word(Cell& c, uint32_t value) { c.w2 = value; }

// The cells of a cell series (a block's buffer, a context's values...) from its buffer's head,
// valid until the next allocation; and how many there are.
inline Cell* cells_of(uint32_t node) {
  return reinterpret_cast<Cell*>(alloc::series_of(node)->head_ptr());
}
inline uint32_t cell_count(uint32_t node) { return alloc::series_of(node)->used() / sizeof(Cell); }

}  // namespace cell
