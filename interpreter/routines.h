// The routine table: the library's routines (routine! values) are C++ functions registered here
// by name before start-up binds the library. The boot image names each routine by its word; the
// routine! value made at start-up carries the routine's 1-based index in this table as its code
// entry. A routine reads its arguments as a native does (stack::arg(0) first) and either sets
// its result there itself or returns a machine result that the call turns into a value.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

#include "runtime/cell.h"

namespace routines {

// What the call makes of the machine result: nothing (the routine set stack::arg(0) itself),
// a logic! (non-zero is true) or an integer!. These are the result type numbers a routine!
// value keeps.
enum Result : int32_t { kOnStack = -1, kLogic = 4, kInteger = 11 };

using Entry = int32_t (*)();

struct Routine {
  const char* name;  // the word the library defines it as
  Entry entry;
  Result result;
};

// Adds the routines; a name registered twice ends the process (a fault of the build). Returns
// nothing: the indexes are found again by name.
void add(std::span<const Routine> routines);
// The 1-based index of the routine of that name, 0 when none is registered.
uint32_t find(std::string_view name);
// The routine at a 1-based index found by find.
const Routine& at(uint32_t index);
// Runs the routine of a routine! value whose arguments are the current frame's cells and leaves
// its result in stack::arg(0).
void call(const Cell& routine);

}  // namespace routines
