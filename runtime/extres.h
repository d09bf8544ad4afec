// External resources: OS objects (bitmaps, fonts, handles) that belong to language values but
// cannot live in series memory. Each is a small record with a kind; values hold the record's
// index and mark it when they are marked; the collector releases unmarked records through their
// kind's release callback.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace extres {

using Release = void (*)(uintptr_t payload);

void init();
int register_kind(const char* name, Release release);  // 1-based kind index
int32_t new_record(uintptr_t payload, int kind);
void replace_payload(int32_t index, uintptr_t payload);
void free_record(int32_t index, bool release);
bool mark_record(int32_t index, uintptr_t payload = 0);  // true if it was unmarked
void for_each_of_kind(int kind, void (*fn)(int kind, uintptr_t payload));
void sweep();  // collector step: release every unmarked live record

uintptr_t payload(int32_t index);
bool live(int32_t index);
uint32_t pool_size();

// Type marker for values holding a record index in word 3 (negative: none).
void mark_handle_cell(const Cell& value);

}  // namespace extres
