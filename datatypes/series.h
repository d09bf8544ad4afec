// series!: the abstract parent of every value that is a position in a buffer of equal-sized
// elements (text units, bytes, vector elements, value cells). Its actions work on raw element
// bytes whose width comes from the buffer, so one implementation serves every element width.
// Relies on the rooting rule (runtime/gc.h): positions are kept as indexes and buffers are
// re-derived after anything that can allocate or run an owner's change handler.
#pragma once
#include <cstdint>

#include "datatypes/datatype.h"
#include "runtime/alloc.h"
#include "runtime/cell.h"

namespace series {

// log2 of the buffer's element width.
uint32_t unit_shift(const alloc::Series* s);

// --- Positions -------------------------------------------------------------------------------

// Whether the head lies at or past the tail.
bool at_tail(const Cell& value);
// Elements in the buffer, whatever the head.
int32_t buffer_length(const Cell& value);
// Moves the head by delta unless that would pass the tail; returns whether the new position,
// moved to or not, is at or past the tail.
bool skip_head(Cell& value, int32_t delta);
// Elements from the head (the buffer start when whole) to the tail; a negative head counts as
// 0, and a head past the tail is brought back to the tail (giving 0).
int32_t rest_length(Cell& value, bool whole);

// The count a /part argument names: an integer!, or a position in the same series (same type,
// same buffer) measured from the value's head; anything else raises
// script/invalid-refine-arg with the refinement.
int32_t part_count(const Cell& value, const Cell& part);
// script/invalid-refine-arg with the refinement (runtime_words::refinements.part...) and its
// argument.
[[noreturn]] void fire_invalid_refine(const Cell& refinement, const Cell& argument);

// What sort's refinements ask of one series, checked once for every series type: the range
// (head and count, the head moved back by a negative /part), the record size, the field compared
// (0-based; whole records with all), and the comparator function or null.
struct SortPlan {
  int32_t head = 0;
  int32_t count = 0;
  int32_t skip = 1;
  int32_t field = 0;
  const Cell* function = nullptr;
};
SortPlan plan_sort(Cell* series, const action::SortOptions& options);
// A comparator function's answer about (b, a) as the sorting core's order of (a, b): true, a
// number below zero or any other value say that b sorts first (1); false and none that it
// does not (-1); zero that they are equal.
int32_t comparator_order(const Cell& answer);
// Calls a /compare function with two arguments (none! for its further parameters) in a frame of
// its own and returns its value; the data stack is left as it was.
Cell call_comparator(const Cell& function, const Cell& first, const Cell& second);
// The set natives' operation codes, shared with the datatypes' set routines and, from 8 on, the
// bitwise cores (bitset!, typeset!): unique takes the first argument alone.
enum SetCode : int32_t { kUnique = 8, kUnion = 9, kIntersect = 10, kExclude = 11, kDifference = 12 };
// The skip size of a set operation's /skip argument (1 without one): an integer of at least 1,
// else script/invalid-refine-arg with the word skip.
int32_t set_skip(const Cell* skip);

// A new empty buffer for count elements of the unit, never of capacity 0. May allocate.
uint32_t new_buffer(uint32_t count, uint32_t unit);

// hash! upkeep after a block edit. hash_removed: count cells left [first, first + count) and the
// `later` cells behind them moved down (the entries of the removed cells already dropped).
// hash_put_range: indexes count cells from first, stopping once the table rebuilt itself.
// Both may allocate.
void hash_removed(const Cell& value, int32_t first, int32_t count, int32_t later);
void hash_put_range(const Cell& value, int32_t first, int32_t count);

// --- Actions ---------------------------------------------------------------------------------
// Series cells come in the current frame's cells (the dispatcher's arguments[0]); actions that
// return the series change that cell in place.

void random(Cell* value, const action::RandomOptions& options);
void reflect(Cell* value, uint32_t field_symbol);
void at();      // on the frame: series, index
void back();    // on the frame
void clear(Cell* value);
void copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
// A new series of the value's type and unit holding its elements [start, start + count) of the
// buffer (both within its length): copy's result without the argument handling. May allocate.
Cell copy_span(const Cell& value, uint32_t start, uint32_t count);
void head();    // on the frame
void head_q();  // on the frame
void index();   // on the frame
int32_t length(Cell* value);
Cell* move(Cell* origin, Cell* target, Cell* part);
void next();    // on the frame
Cell* pick(Cell* value, int32_t index, Cell* index_value);
Cell* poke(Cell* value, int32_t index, Cell* new_value, Cell* index_value);
void remove(Cell* value, Cell* part, Cell* key);
void reverse(Cell* value, Cell* part, Cell* skip_arg);
void skip();    // on the frame: series, offset
void tail();    // on the frame
void tail_q();  // on the frame
// The removal engine behind the block and string take: the value cell becomes none (nothing
// left), or a new series of the value's type holding the taken elements. Returns the cell.
Cell* take(Cell* value, Cell* part, bool deep, bool last);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_flag);

// Registers series! (no parent).
void init();

}  // namespace series
