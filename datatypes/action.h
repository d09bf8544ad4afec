// The action slots: the numbers of the actions every datatype may implement, the signature of
// each slot's implementation, and the comparison operators. The registry (datatypes/datatype.h)
// keeps one implementation per type and slot.
//
// Implementations receive values as cell addresses. An absent refinement argument is a null
// cell, an absent flag is false. Slots marked "on the frame" read their operands from the
// current frame's cells (stack::arg(0), stack::arg(1)...) and leave the result in stack::arg(0).
#pragma once
#include <cstdint>

#include "datatypes/action_list.h"
#include "runtime/cell.h"

namespace action {

// Action slots, from the action list.
enum Slot : uint8_t {
#define ZEL_ACTION_SLOT(slot, index, name) slot = index,
  ZEL_ACTIONS(ZEL_ACTION_SLOT)
#undef ZEL_ACTION_SLOT
};

constexpr int kSlotCount = [] {
  int count = 0;
#define ZEL_ACTION_COUNT(slot, index, name) count++;
  ZEL_ACTIONS(ZEL_ACTION_COUNT)
#undef ZEL_ACTION_COUNT
  return count;
}();

// The slots run 1, 2, 3... in the list's order, with no gap.
static_assert([] {
  int expected = 1;
  bool ok = true;
#define ZEL_ACTION_CHECK(slot, index, name) ok = ok && index == expected++;
  ZEL_ACTIONS(ZEL_ACTION_CHECK)
#undef ZEL_ACTION_CHECK
  return ok;
}());

// The action's word, or null for a slot without one.
constexpr const char* name(Slot slot) {
  switch (slot) {
#define ZEL_ACTION_NAME(slot, index, name) \
  case slot:                               \
    return name;
    ZEL_ACTIONS(ZEL_ACTION_NAME)
#undef ZEL_ACTION_NAME
  }
  return nullptr;
}

// Comparison operators passed to every compare implementation.
enum CompareOp : int32_t {
  EQUAL = 0, NOT_EQUAL = 1, STRICT_EQUAL = 2, LESSER = 3, LESSER_OR_EQUAL = 4, GREATER = 5,
  GREATER_OR_EQUAL = 6, SORT_ORDER = 7, SORT_CASE_ORDER = 8, SAME = 9, WORD_LIT_EQUAL = 10,
  WORD_LIT_STRICT = 11, FIND_EQUAL = 12,
};
constexpr int32_t kNotComparable = -2;

using OnFrame = void (*)();  // operands and result on the current frame's cells

// The refinements of the slots that take many, as their implementations receive them: a cell
// for a refinement with an argument (null when absent), a flag for one without. Callers name
// what they set: find(series, key, {.case_sensitive = true, .last = true}).

struct RandomOptions {
  bool seed = false;
  bool secure = false;
  bool only = false;
};

struct MoldOptions {
  bool only = false;
  bool all = false;
  bool flat = false;
  // What a value molded inside this one gets: all and flat; only belongs to the outer value.
  MoldOptions nested() const { return {.all = all, .flat = flat}; }
};

// The path step's operands beyond the parent and the element.
struct PathStep {
  Cell* value = nullptr;        // the value to store (set mode, last element), else null
  Cell* path = nullptr;         // the path being walked; null for a step taken alone
  Cell* grandparent = nullptr;  // the value the parent was selected from
  Cell* previous = nullptr;     // the element before this one
  int32_t index = -1;           // the element's ordinal after the path's head, from 0; -1 alone
  bool case_sensitive = false;  // passed through from the path evaluation's caller
  bool get = false;             // get mode: nothing is called
  bool last = false;            // the path's last element
  bool notify = false;          // a set is told to the grandparent, the owner of what changed
};

// round's refinements besides the scale of `to`.
struct RoundOptions {
  bool even = false;
  bool down = false;
  bool half_down = false;
  bool floor = false;
  bool ceiling = false;
  bool half_ceiling = false;
};

// find's refinements; select takes all but tail and match.
struct FindOptions {
  Cell* part = nullptr;
  bool only = false;
  bool case_sensitive = false;
  bool same = false;
  bool any = false;
  Cell* with = nullptr;
  Cell* skip = nullptr;
  bool last = false;
  bool reverse = false;
  bool tail = false;
  bool match = false;
};

struct SortOptions {
  bool case_sensitive = false;
  Cell* skip = nullptr;
  Cell* compare = nullptr;
  Cell* part = nullptr;
  bool all = false;
  bool reverse = false;
  bool stable = false;
};

struct TrimOptions {
  bool head = false;
  bool tail = false;
  bool auto_ = false;
  bool lines = false;
  bool all = false;
  Cell* with = nullptr;
};

struct OpenOptions {
  bool new_ = false;
  bool read = false;
  bool write = false;
  bool seek = false;
  Cell* allow = nullptr;
};

struct ReadOptions {
  Cell* part = nullptr;
  Cell* seek = nullptr;
  bool binary = false;
  bool lines = false;
  bool info = false;
  Cell* as = nullptr;
};

struct WriteOptions {
  bool binary = false;
  bool lines = false;
  bool info = false;
  bool append = false;
  Cell* part = nullptr;
  Cell* seek = nullptr;
  Cell* allow = nullptr;
  Cell* as = nullptr;
};

template <Slot S> struct Signature { using type = OnFrame; };
#define ZEL_SLOT(slot, ...) template <> struct Signature<slot> { using type = __VA_ARGS__; }
// make and to: prototype (or datatype), spec, target type; returns the new value.
ZEL_SLOT(MAKE, Cell* (*)(Cell* proto, Cell* spec, uint8_t type));
ZEL_SLOT(RANDOM, void (*)(Cell* value, const RandomOptions& options));
ZEL_SLOT(REFLECT, void (*)(Cell* value, uint32_t field_symbol));
ZEL_SLOT(TO, Cell* (*)(Cell* proto, Cell* spec, uint8_t type));
// form and mold append to the output string and return the part limit less what they appended.
ZEL_SLOT(FORM, int32_t (*)(Cell* value, Cell* out, Cell* arg, int32_t part));
ZEL_SLOT(MOLD, int32_t (*)(Cell* value, Cell* out, MoldOptions options, Cell* arg, int32_t part,
                           int32_t indent));
ZEL_SLOT(EVAL_PATH, Cell* (*)(Cell* parent, Cell* element, const PathStep& step));
// compare: 0 equal (non-zero different) under the equality operators, -1/0/1 under the
// orderings, kNotComparable when the values cannot be compared.
ZEL_SLOT(COMPARE, int32_t (*)(Cell* a, Cell* b, int32_t op));
ZEL_SLOT(ROUND, void (*)(Cell* value, Cell* scale, const RoundOptions& options));
ZEL_SLOT(EVEN_Q, bool (*)(Cell* value));
ZEL_SLOT(ODD_Q, bool (*)(Cell* value));
ZEL_SLOT(COMPLEMENT, Cell* (*)(Cell* value));
ZEL_SLOT(APPEND, void (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup,
                          bool append));
ZEL_SLOT(CHANGE, void (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup));
ZEL_SLOT(CLEAR, void (*)(Cell* series));
ZEL_SLOT(COPY, void (*)(Cell* value, Cell* result, Cell* part, bool deep, Cell* types));
ZEL_SLOT(FIND, Cell* (*)(Cell* series, Cell* value, const FindOptions& options));
ZEL_SLOT(INSERT, void (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup,
                          bool append));
ZEL_SLOT(LENGTH_Q, int32_t (*)(Cell* value));  // -1 gives none
ZEL_SLOT(MOVE, Cell* (*)(Cell* origin, Cell* target, Cell* part));
ZEL_SLOT(PICK, Cell* (*)(Cell* value, int32_t index, Cell* index_value));
ZEL_SLOT(POKE, Cell* (*)(Cell* value, int32_t index, Cell* new_value, Cell* index_value));
ZEL_SLOT(PUT, Cell* (*)(Cell* value, Cell* key, Cell* new_value, bool case_flag));
ZEL_SLOT(REMOVE, void (*)(Cell* series, Cell* part, Cell* key));
ZEL_SLOT(REVERSE, void (*)(Cell* series, Cell* part, Cell* skip));
ZEL_SLOT(SELECT, Cell* (*)(Cell* series, Cell* value, const FindOptions& options));
ZEL_SLOT(SORT, Cell* (*)(Cell* series, const SortOptions& options));
ZEL_SLOT(SWAP, void (*)(Cell* a, Cell* b));
ZEL_SLOT(TAKE, Cell* (*)(Cell* series, Cell* part, bool deep, bool last));
ZEL_SLOT(TRIM, void (*)(Cell* series, const TrimOptions& options));
ZEL_SLOT(CREATE, Cell* (*)(Cell* port));
ZEL_SLOT(CLOSE, Cell* (*)(Cell* port));
ZEL_SLOT(DELETE, Cell* (*)(Cell* port));
ZEL_SLOT(MODIFY, Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_flag));
ZEL_SLOT(OPEN, Cell* (*)(Cell* port, const OpenOptions& options));
ZEL_SLOT(OPEN_Q, Cell* (*)(Cell* port));
ZEL_SLOT(QUERY, Cell* (*)(Cell* port));
ZEL_SLOT(READ, Cell* (*)(Cell* source, const ReadOptions& options));
ZEL_SLOT(RENAME, Cell* (*)(Cell* from, Cell* to));
ZEL_SLOT(UPDATE, Cell* (*)(Cell* port));
ZEL_SLOT(WRITE, Cell* (*)(Cell* target, Cell* data, const WriteOptions& options));
#undef ZEL_SLOT

template <Slot S> using Fn = typename Signature<S>::type;

}  // namespace action
