// port!: an object (a copy of system/standard/port, retyped) whose series and I/O actions are
// carried out by its scheme's actor, an object of functions named like the actions. make finds
// the scheme in system/schemes; the actions from append to write are forwarded to the actor's
// function of the same name (read and write are made of open, copy or insert, and close). The
// actor's functions are language code: every value handed to them sits on the data stack, and
// their results are pushed before anything else can allocate (runtime/gc.h).
#pragma once
#include <cstdint>
#include <span>

#include "datatypes/action.h"
#include "runtime/cell.h"

namespace port {

// make port!: from an object! spec (copied) or a block extending system/standard/url-parts;
// the spec's first field must hold the scheme word (access/no-scheme), which system/schemes
// must know (access/unknown-scheme) with an object! or handle! actor (access/invalid-actor).
// Pushes the port. May run any code.
Cell* make(Cell* proto, Cell* spec, uint8_t type);
int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent);

// Calls the actor's function named like the slot's action with the arguments (the port first,
// then the action's arguments, then for each refinement a logic! and its arguments). An actor
// that is no object! raises access/invalid-port with the port; a missing or non-function field
// access/no-port-action. Returns the function's result (push it before anything allocates).
// May run any code.
Cell forward(action::Slot slot, std::span<const Cell> arguments);

// The forwarded action running in the current frame (the action's own cells, refinement
// positions as dispatch::Dispatcher receives them): its result is left in stack::arg(0).
void forward_frame(action::Slot slot, const int32_t* refinements);

// Whether the dispatcher hands the slot to the port's actor: every slot from append to write
// but open? (unsupported) and read and write (composed, through the registry).
constexpr bool forwarded(action::Slot slot) {
  return slot >= action::APPEND && slot <= action::WRITE && slot != action::OPEN_Q &&
         slot != action::READ && slot != action::WRITE;
}

// read: the actor's open (with /seek when a seek is given), copy (with /part when a part is
// given) and close; copy's result. write: open/write (and /seek), insert of the data (with
// /part), copy and close; copy's result.
Cell* read(Cell* port, const action::ReadOptions& options);
Cell* write(Cell* port, Cell* data, const action::WriteOptions& options);

// open of the port with open's four flags (no /allow), as url! open asks. May run any code.
void open(const Cell& port, const action::OpenOptions& options);

void register_datatype();  // after object!, its parent

}  // namespace port
