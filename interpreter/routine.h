// Running routine! values: library functions whose bodies are C++ functions. A routine's code
// entry (cell 2 of its internal block, datatypes/function.h) is its 1-based number in the table
// of bodies that the library hands over at start-up (library/routines.h); the body reads the
// frame's argument cells, as a native does, and leaves its result in arguments[0].
#pragma once
#include <cstdint>
#include <span>

#include "runtime/cell.h"

namespace routine {

using Body = void (*)();

// The bodies by code entry - 1; set once at start-up, before any routine runs.
void set_bodies(std::span<const Body> bodies);

// Runs a routine! whose frame is complete (its arguments gathered and checked against its spec).
// A code entry outside the table raises internal/not-done.
void run(const Cell& routine);

}  // namespace routine
