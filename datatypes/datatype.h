// The datatype registry: every datatype registers its id, its parent and its action
// implementations once at start-up; actions then reach a value's implementation by its type id
// and the action's slot. A child type takes over its parent's implementation wherever it asks to
// inherit, which is why parents register before their children.
//
// Implementations receive values as cell addresses; their slots and signatures are
// datatypes/action.h. Values are also handed to an implementation directly, without a frame
// (call_form, call_mold... below): the text of a block is the form of its elements.
#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>

#include "datatypes/action.h"
#include "runtime/cell.h"
#include "runtime/throw.h"

namespace datatype {

using AnyFn = void (*)();

// One entry of a type's registration: a slot and its implementation, or the request to take the
// parent's. Slots a type does not list are unsupported.
struct Entry {
  action::Slot slot;
  AnyFn fn;
  bool inherit;
};
template <action::Slot S>
Entry act(action::Fn<S> fn) {
  return Entry{S, reinterpret_cast<AnyFn>(fn), false};
}
template <action::Slot S>
Entry inherit() {
  return Entry{S, nullptr, true};
}

// Registers a type of the datatype list (runtime/types.h), which gives its name and parent; the
// entries must come in ascending slot order (a misordered table is a programming error reported
// at start-up).
void register_type(uint8_t id, std::initializer_list<Entry> entries);
// The same for a type outside the list (the registry's tests make their own).
void register_type(uint8_t id, uint8_t parent, const char* name,
                   std::initializer_list<Entry> entries);

extern AnyFn table[TYPE_COUNT][action::kSlotCount];

template <action::Slot S>
inline action::Fn<S> lookup(uint8_t type) {
  return reinterpret_cast<action::Fn<S>>(table[type][S - 1]);
}

// The implementation, for types whose module may not be written yet: a missing one raises
// internal/not-done. event! (with the GUI) is the one type whose module is not written yet;
// every other type has its actions.
template <action::Slot S>
inline action::Fn<S> implemented(uint8_t type) {
  auto fn = lookup<S>(type);
  if (!fn) rt::fire_error("internal", "not-done");
  return fn;
}

// The implementation of the slot for a value of the given type; an unsupported action raises
// script/expect-arg naming the innermost call, the type and the first parameter. `value` is the
// value the action applies to: port! actors, which take over the series and port actions of a
// port, come with port! and will read it.
AnyFn resolve(uint8_t type, [[maybe_unused]] const Cell& value, action::Slot slot);
template <action::Slot S>
action::Fn<S> resolve(uint8_t type, const Cell& value) {
  return reinterpret_cast<action::Fn<S>>(resolve(type, value, S));
}
template <action::Slot S>
action::Fn<S> resolve_for(const Cell& value) {
  return resolve<S>(cell::type_of(value), value);
}

// --- Direct calls --------------------------------------------------------------------------------
// The implementation of the value's type called with the operands as given, no frame built.

int32_t call_form(Cell* value, Cell* out, Cell* arg, int32_t part);
int32_t call_mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
                  int32_t indent);
// A types cell that is neither a datatype! nor a typeset! raises script/expect-arg.
void call_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);

// The truth of comparing value1 with value2 under the operator (action::CompareOp) through
// value1's compare implementation. Values that cannot be compared are unequal; ordering them
// (lesser?, lesser-or-equal?, greater?, greater-or-equal?) raises script/invalid-compare.
bool compare(Cell* value1, Cell* value2, int32_t op);
// The raw result (negative, 0, positive, or action::kNotComparable) without errors: logic! by
// truth, native!/action!/op! by their entry, function!/routine! by their body block, when both
// values have the same type; anything else through the compare implementation.
int32_t call_compare(Cell* value1, Cell* value2, int32_t op);

uint8_t highest_type();
uint8_t parent_of(uint8_t type);
const char* name_of(uint8_t type);       // "integer!"
uint32_t name_length_less_one(uint8_t type);  // the length without the final "!"
const Cell* name_word(uint8_t type);     // the word of the type's name, once the words exist
void make_name_words();

Cell* push(uint8_t type);                          // a new datatype! on the data stack
Cell* append_to_block(Cell* block, uint8_t type);  // a new datatype! at the block's tail

void init();          // registers datatype! itself
void register_all();  // every datatype, in registration order

}  // namespace datatype
