// The native table: the language's built-in functions, each a C++ function numbered by its fixed
// 1-based index, and the protocol by which the evaluator calls them. A native's arguments are the
// current frame's cells (stack::arg(0) first, which also receives the result), already checked
// against its spec's types; `refinements` holds one entry per refinement in spec order: -1 when
// absent, else the position (from stack::args) of its first argument cell.
//
// A native that evaluates code returns at once when interp::pending is set after the evaluation
// (a break, return... travelling to its target), unless it is that exit's target.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace natives {

using Native = void (*)(const int32_t* refinements);

constexpr int32_t kTableSize = 120;

// Native indexes, in table order.
enum Index : int32_t {
  IF = 1, UNLESS, EITHER, ANY, ALL, WHILE, UNTIL, LOOP, REPEAT, FOREVER, FOREACH, FORALL,
  REMOVE_EACH, FUNC, FUNCTION, DOES, HAS, SWITCH, CASE, DO, GET, SET, PRINT, PRIN, EQUAL_Q,
  NOT_EQUAL_Q, STRICT_EQUAL_Q, LESSER_Q, GREATER_Q, LESSER_OR_EQUAL_Q, GREATER_OR_EQUAL_Q, SAME_Q,
  NOT, TYPE_Q, REDUCE, COMPOSE, STATS, BIND, IN, PARSE, UNION, INTERSECT, UNIQUE, DIFFERENCE,
  EXCLUDE, COMPLEMENT_Q, DEHEX, ENHEX, NEGATIVE_Q, POSITIVE_Q, MAX, MIN, SHIFT, TO_HEX, SINE,
  COSINE, TANGENT, ARCSINE, ARCCOSINE, ARCTANGENT, ARCTANGENT2, NAN_Q, LOG_2, LOG_10, LOG_E, EXP,
  SQUARE_ROOT, CONSTRUCT, VALUE_Q, TRY, UPPERCASE, LOWERCASE, AS_PAIR, AS_POINT2D, AS_POINT3D,
  AS_MONEY, BREAK, CONTINUE, EXIT, RETURN, THROW, CATCH, EXTEND, DEBASE, TO_LOCAL_FILE, WAIT,
  CHECKSUM, UNSET, NEW_LINE, NEW_LINE_Q, ENBASE, CONTEXT_Q, SET_ENV, GET_ENV, LIST_ENV, NOW,
  SIGN_Q, AS, CALL, ZERO_Q, SIZE_Q, BROWSE, COMPRESS, DECOMPRESS, RECYCLE, TRANSCODE, APPLY,
};

// The entry of a 1-based index; null when that native is not built.
extern Native table[kTableSize];
inline Native entry(int32_t index) {
  return index >= 1 && index <= kTableSize ? table[index - 1] : nullptr;
}

// Fills the table (each family registers its entries) and makes the print scratch block.
void init();
// Each family's registration, called by init.
void set_entry(int32_t index, Native native);
void register_control();   // if ... case
void register_flow();      // do, reduce, compose, try, catch, throw, break ... apply
void register_words();     // func, function, does, has, get, set, unset, value?, bind, new-line...
void register_objects();   // construct, extend, in, context?
void register_print();     // print, prin
void register_text();      // uppercase, lowercase, dehex, enhex, debase, enbase, to-hex, as...
void register_system();    // now, get-env, set-env
void register_compare();   // equal? ... same?, not, type?
void register_math();      // sign and zero tests, max, min, shift, trigonometry, as-pair...

// Angle reduction for the trigonometric natives (natives_math.cpp): degrees brought into the
// range where the function keeps its value, then to radians; mode 0 tangent, 1 cosine, 2 sine.
double degrees_to_radians(double degrees, int mode);

inline Cell logic_value(bool value) { return Cell{TYPE_LOGIC, value ? 1u : 0u, 0, 0}; }

// Whether the last print ended its line (print) or not (prin).
extern bool last_lf;

// Sets the words 1..n of the words block from the source: from its elements when it is a block
// (or map) and only is off, else each to the source itself; unset! is refused unless any, none!
// skipped with some. A non-word raises script/invalid-arg before anything is set. Shared with
// foreach.
void set_words_from(const Cell& words, const Cell& source, int32_t n, bool any, bool only,
                    bool some);

// The falsy test (none! and false) and the strict truth test (unset! raises script/no-return).
bool falsy(const Cell& value);
bool strict_true(const Cell& value);

}  // namespace natives
