// handle!: an operating-system handle held as a value (integer!'s subtype), with a kind that
// says what it is (fd, monitor, window, font, rich-text). Payload: word 1 the kind, word 2 the
// 32-bit handle, word 3 -1 (no external-resource record).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace handle {

constexpr uint32_t kNoRecord = 0xFFFFFFFF;

inline uint32_t kind_of(const Cell& handle) { return handle.w1; }
inline uint32_t value_of(const Cell& handle) { return handle.w2; }
// A handle without an external-resource record.
inline Cell make(uint32_t kind, uint32_t value) {
  return Cell{TYPE_HANDLE, kind, value, kNoRecord};
}

void register_datatype();  // after integer!, its parent

}  // namespace handle
