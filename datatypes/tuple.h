// tuple!: 3 to 12 bytes (colours, versions, addresses) held in the cell itself: the byte count in
// header bits 19-22, the bytes from the first payload byte on, bytes past the count kept 0 (the
// hash of datatypes/hashtable.cpp reads them this way).
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime/cell.h"

namespace tuple {

constexpr uint32_t kMinBytes = 3;
constexpr uint32_t kMaxBytes = 12;
constexpr int kCountShift = 19;
constexpr uint32_t kCountMask = 0xFu << kCountShift;

inline uint32_t count_of(const Cell& tuple) { return (tuple.header & kCountMask) >> kCountShift; }
// The bytes, from the first payload byte; the cell holds up to kMaxBytes of them.
inline const uint8_t* data_of(const Cell& tuple) {
  return reinterpret_cast<const uint8_t*>(&tuple.w1);
}
// Whether every byte is 0 (those past the count always are).
inline bool zero_q(const Cell& tuple) { return (tuple.w1 | tuple.w2 | tuple.w3) == 0; }
// Copies the kMaxBytes payload bytes into out.
inline void get_bytes(const Cell& tuple, uint8_t* out) { std::memcpy(out, &tuple.w1, kMaxBytes); }
// Writes count bytes (at most kMaxBytes) and clears the rest of the payload.
inline void set_bytes(Cell& tuple, const uint8_t* bytes, uint32_t count) {
  tuple.w1 = tuple.w2 = tuple.w3 = 0;
  std::memcpy(&tuple.w1, bytes, count);
}

// Retypes the cell as the tuple of count bytes (3 to 12) taken from bytes, flags kept.
Cell* make_at(Cell* cell, uint32_t count, const uint8_t* bytes);

void register_datatype();

}  // namespace tuple
