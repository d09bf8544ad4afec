// Growable arrays of 32-bit words kept in a series buffer of unit 4 and reached through its node:
// the duplicate-key lists and the reverse index of hash! tables. The collector does not look
// inside them. Relies on the memory manager: the buffer moves when it grows or when the
// collector compacts, so holders keep only the node and re-derive addresses after allocating.
#pragma once
#include <cstdint>

#include "runtime/alloc.h"

namespace array {

// Elements between the buffer's head and its tail.
uint32_t length(uint32_t node);
// Empties the array (tail = head), keeping the capacity. Returns the buffer.
alloc::Series* clear(uint32_t node);
// Appends the value, growing the buffer when full (doubling; May allocate). Returns the new
// element's address, valid until the next allocation.
int32_t* append_int(uint32_t node, int32_t value);
// Positions count from 1; no bounds check.
int32_t pick_int(uint32_t node, uint32_t position);
void poke_int(uint32_t node, uint32_t position, int32_t value);
// Byte offset from the head of the first element equal to the value, -1 when there is none.
int32_t find_int(uint32_t node, int32_t value);
// Removes count bytes at the byte offset from the head, moving the rest down. Returns the buffer.
alloc::Series* remove_bytes(uint32_t node, uint32_t offset, uint32_t count);

}  // namespace array
