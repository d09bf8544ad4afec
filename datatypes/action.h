// The action slots: the numbers of the actions every datatype may implement, the signature of
// each slot's implementation, and the comparison operators. The registry (datatypes/datatype.h)
// keeps one implementation per type and slot.
//
// Implementations receive values as cell addresses. An absent refinement argument is a null
// cell, an absent flag is false. Slots marked "on the frame" read their operands from the
// current frame's cells (stack::arg(0), stack::arg(1)...) and leave the result in stack::arg(0).
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace action {

enum Slot : uint8_t {
  MAKE = 1, RANDOM, REFLECT, TO, FORM, MOLD, EVAL_PATH, SET_PATH, COMPARE, ABSOLUTE, ADD, DIVIDE,
  MULTIPLY, NEGATE, POWER, REMAINDER, ROUND, SUBTRACT, EVEN_Q, ODD_Q, AND_T, COMPLEMENT, OR_T,
  XOR_T, APPEND, AT, BACK, CHANGE, CLEAR, COPY, FIND, HEAD, HEAD_Q, INDEX_Q, INSERT, LENGTH_Q,
  MOVE, NEXT, PICK, POKE, PUT, REMOVE, REVERSE, SELECT, SORT, SKIP, SWAP, TAIL, TAIL_Q, TAKE,
  TRIM, CREATE, CLOSE, DELETE, MODIFY, OPEN, OPEN_Q, QUERY, READ, RENAME, UPDATE, WRITE,
};
constexpr int kSlotCount = 62;

// Comparison operators passed to every compare implementation.
enum CompareOp : int32_t {
  EQUAL = 0, NOT_EQUAL = 1, STRICT_EQUAL = 2, LESSER = 3, LESSER_OR_EQUAL = 4, GREATER = 5,
  GREATER_OR_EQUAL = 6, SORT_ORDER = 7, SORT_CASE_ORDER = 8, SAME = 9, WORD_LIT_EQUAL = 10,
  WORD_LIT_STRICT = 11, FIND_EQUAL = 12,
};
constexpr int32_t kNotComparable = -2;

using OnFrame = void (*)();  // operands and result on the current frame's cells

template <Slot S> struct Signature { using type = OnFrame; };
#define ZEL_SLOT(slot, ...) template <> struct Signature<slot> { using type = __VA_ARGS__; }
// make and to: prototype (or datatype), spec, target type; returns the new value.
ZEL_SLOT(MAKE, Cell* (*)(Cell* proto, Cell* spec, uint8_t type));
ZEL_SLOT(RANDOM, void (*)(Cell* value, bool seed, bool secure, bool only));
ZEL_SLOT(REFLECT, void (*)(Cell* value, uint32_t field_symbol));
ZEL_SLOT(TO, Cell* (*)(Cell* proto, Cell* spec, uint8_t type));
// form and mold append to the output string and return the part limit less what they appended.
ZEL_SLOT(FORM, int32_t (*)(Cell* value, Cell* out, Cell* arg, int32_t part));
ZEL_SLOT(MOLD, int32_t (*)(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* arg,
                           int32_t part, int32_t indent));
ZEL_SLOT(EVAL_PATH, Cell* (*)(Cell* parent, Cell* element, Cell* value, Cell* path,
                              Cell* grandparent, Cell* previous, int32_t index, bool case_flag,
                              bool get, bool last, bool notify));
// compare: 0 equal (non-zero different) under the equality operators, -1/0/1 under the
// orderings, kNotComparable when the values cannot be compared.
ZEL_SLOT(COMPARE, int32_t (*)(Cell* a, Cell* b, int32_t op));
ZEL_SLOT(ROUND, void (*)(Cell* value, Cell* scale, bool even, bool down, bool half_down,
                         bool floor, bool ceiling, bool half_ceiling));
ZEL_SLOT(EVEN_Q, bool (*)(Cell* value));
ZEL_SLOT(ODD_Q, bool (*)(Cell* value));
ZEL_SLOT(COMPLEMENT, Cell* (*)(Cell* value));
ZEL_SLOT(APPEND, void (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup,
                          bool append));
ZEL_SLOT(CHANGE, void (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup));
ZEL_SLOT(CLEAR, void (*)(Cell* series));
ZEL_SLOT(COPY, void (*)(Cell* value, Cell* result, Cell* part, bool deep, Cell* types));
ZEL_SLOT(FIND, Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_flag,
                         bool same, bool any, Cell* with, Cell* skip, bool last, bool reverse,
                         bool tail, bool match));
ZEL_SLOT(INSERT, void (*)(Cell* series, Cell* value, int32_t part, bool only, int32_t dup,
                          bool append));
ZEL_SLOT(LENGTH_Q, int32_t (*)(Cell* value));  // -1 gives none
ZEL_SLOT(MOVE, Cell* (*)(Cell* origin, Cell* target, Cell* part));
ZEL_SLOT(PICK, Cell* (*)(Cell* value, int32_t index, Cell* index_value));
ZEL_SLOT(POKE, Cell* (*)(Cell* value, int32_t index, Cell* new_value, Cell* index_value));
ZEL_SLOT(PUT, Cell* (*)(Cell* value, Cell* key, Cell* new_value, bool case_flag));
ZEL_SLOT(REMOVE, void (*)(Cell* series, Cell* part, Cell* key));
ZEL_SLOT(REVERSE, void (*)(Cell* series, Cell* part, Cell* skip));
ZEL_SLOT(SELECT, Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_flag,
                           bool same, bool any, Cell* with, Cell* skip, bool last, bool reverse));
ZEL_SLOT(SORT, Cell* (*)(Cell* series, bool case_flag, Cell* skip, Cell* compare, Cell* part,
                         bool all, bool reverse, bool stable));
ZEL_SLOT(SWAP, void (*)(Cell* a, Cell* b));
ZEL_SLOT(TAKE, Cell* (*)(Cell* series, Cell* part, bool deep, bool last));
ZEL_SLOT(TRIM, void (*)(Cell* series, bool head, bool tail, bool auto_flag, bool lines, bool all,
                        Cell* with));
ZEL_SLOT(CREATE, Cell* (*)(Cell* port));
ZEL_SLOT(CLOSE, Cell* (*)(Cell* port));
ZEL_SLOT(DELETE, Cell* (*)(Cell* port));
ZEL_SLOT(MODIFY, Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_flag));
ZEL_SLOT(OPEN, Cell* (*)(Cell* port, bool new_flag, bool read, bool write, bool seek,
                         Cell* allow));
ZEL_SLOT(OPEN_Q, Cell* (*)(Cell* port));
ZEL_SLOT(QUERY, Cell* (*)(Cell* port));
ZEL_SLOT(READ, Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines,
                         bool info, Cell* as));
ZEL_SLOT(RENAME, Cell* (*)(Cell* from, Cell* to));
ZEL_SLOT(UPDATE, Cell* (*)(Cell* port));
ZEL_SLOT(WRITE, Cell* (*)(Cell* target, Cell* data, bool binary, bool lines, bool info,
                          bool append, Cell* part, Cell* seek, Cell* allow, Cell* as));
#undef ZEL_SLOT

template <Slot S> using Fn = typename Signature<S>::type;

}  // namespace action
