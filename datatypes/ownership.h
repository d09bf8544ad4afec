// Series ownership: an object owns the series held (deeply) in its fields and is told of every
// in-place change to them (reactivity, face updates). A series has at most one owner, recorded
// in the owner table under its node as (owned value, owner object, owner word). Relies on the
// rooting rule of runtime/gc.h and on the collector hooks below.
#pragma once
#include <cstdint>

#include "runtime/alloc.h"
#include "runtime/cell.h"
#include "runtime/types.h"

namespace ownership {

// On an owner object's context cell: ownership does not descend into that object.
constexpr uint32_t kOwnerObject = 0x10000;

void init();  // the owner table, and its root marker

// Marks the value's series (and those reachable from it through blocks and non-owner objects) as
// owned by the object through the word; a series that already has an owner keeps it. May
// allocate.
void set_owner(const Cell& value, const Cell& owner, const Cell& word);
// set_owner, then marks the object as an owner. May allocate.
void own_value(const Cell& value, const Cell& owner, const Cell& word);
// Removes the ownership of the value and of what is reachable from it the same way.
void unset_owner(const Cell& value);
// unset_owner on count cells of the block from index (counted from the buffer's first element),
// as far as the tail.
void unset_owner_range(const Cell& block, uint32_t index, uint32_t count);
// The owner cell of the series' record, or null; valid until the next allocation.
Cell* owner_of(uint32_t node);
// Types whose buffer carries the owned flag and gets a record.
inline bool is_ownable_series(uint8_t type) {
  switch (type) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR: case TYPE_BITSET: case TYPE_IMAGE:
      return true;
    default:
      return types::any_block(type);
  }
}
// Whether the value may have an owner to tell: an object, or a series flagged owned. When not,
// notify_owner does nothing, and an edit may skip it (nearly every edit: the strings and blocks
// benchmarks).
inline bool maybe_owned(const Cell& value) {
  uint8_t type = cell::type_of(value);
  if (type == TYPE_OBJECT) return true;
  return is_ownable_series(type) &&
         (alloc::series_of(cell::series_node(value))->flags & alloc::kOwned);
}
// notify_owner for a value that may have an owner.
bool notify_recorded_owner(const Cell* value, const char* action_word, const Cell* new_value,
                           int32_t index, int32_t count);
// Called by every in-place change of a series (before it with the action word, after it with
// the past form): true when the value's series, or object context, has an owner with change
// handlers, which is then to be told.
inline bool notify_owner(const Cell* value, const char* action_word, const Cell* new_value,
                         int32_t index, int32_t count) {
  if (!maybe_owned(*value)) return false;
  return notify_recorded_owner(value, action_word, new_value, index, count);
}

// The object side of a notification, which the object datatype installs: told the owner, the
// owner's word, the modified value, the action word, the new value (or null), index and count.
using DeepChangeHandler = void (*)(const Cell& owner, const Cell& word, const Cell& value,
                                   const Cell& action, const Cell* new_value, int32_t index,
                                   int32_t count);
DeepChangeHandler set_deep_change_handler(DeepChangeHandler handler);

// The collector's owner pass (gc::set_owner_pass, installed by init). The owner table keeps
// nothing alive by itself: an owner lives while a series it owns does, and a record goes with
// its series. In this order within a cycle, after every root is marked:
//  - while (mark_owners()) drain the mark stack: marks the owner and word of each record whose
//    series is marked; true when that reached an owner not marked before;
//  - sweep(), before compaction: drops the records whose series is unmarked.
bool mark_owners();
void sweep();

}  // namespace ownership
