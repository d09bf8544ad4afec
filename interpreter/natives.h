// The native table: the language's built-in functions, each a C++ function numbered by its fixed
// 1-based index, and the protocol by which the evaluator calls them. A native's arguments are the
// current frame's cells (stack::arg(0) first, which also receives the result), already checked
// against its spec's types; `refinements` holds one entry per refinement in spec order: -1 when
// absent, else the position (from stack::args) of its first argument cell.
//
// A native that evaluates code returns at once when interp::pending is set after the evaluation
// (a break, return... travelling to its target), unless it is that exit's target.
#pragma once
#include <array>
#include <cstdint>

#include "datatypes/native.h"
#include "datatypes/object.h"
#include "interpreter/native_list.h"
#include "runtime/cell.h"

namespace natives {

using Native = void (*)(const int32_t* refinements);

constexpr int32_t kTableSize = native::kNativeSlots;

// Native indexes, from the native list.
enum Index : int32_t {
#define ZEL_NATIVE_INDEX(index, id, ...) id = index,
  ZEL_NATIVES(ZEL_NATIVE_INDEX, ZEL_NATIVE_INDEX)
#undef ZEL_NATIVE_INDEX
};

// The indexes rise down the list, within the table.
static_assert([] {
  int32_t previous = 0;
  bool ok = true;
#define ZEL_NATIVE_CHECK(index, ...)                      \
  ok = ok && index > previous && index <= kTableSize; \
  previous = index;
  ZEL_NATIVES(ZEL_NATIVE_CHECK, ZEL_NATIVE_CHECK)
#undef ZEL_NATIVE_CHECK
  return ok;
}());

// The function of each native that is built (each defined in its interpreter/natives_*.cpp).
#define ZEL_NATIVE_FUNCTION(index, id, name, function) void function(const int32_t* refinements);
#define ZEL_NATIVE_RESERVED(index, id, name)
ZEL_NATIVES(ZEL_NATIVE_FUNCTION, ZEL_NATIVE_RESERVED)
#undef ZEL_NATIVE_FUNCTION
#undef ZEL_NATIVE_RESERVED

// The table, made from the native list: by index - 1, null where the native is not built.
extern const std::array<Native, kTableSize> table;
inline Native entry(int32_t index) {
  return index >= 1 && index <= kTableSize ? table[index - 1] : nullptr;
}

// What the natives need at start-up: the print scratch block (init_print, natives_print.cpp),
// the method words of checksum (init_checksum, natives_checksum.cpp) and of compress and
// decompress (init_compress, natives_compress.cpp).
void init();
void init_print();
void init_checksum();
void init_compress();

// The block if, unless or either (by native index) evaluates for its arguments: the chosen
// argument cell, or null when the value is none (natives_control.cpp). The planned walk runs
// the branch itself and chooses it here too.
const Cell* chosen_branch(int32_t index, const Cell* arguments);

// Loops (natives_control.cpp). A loop pushes a loop frame named by body_word(), the target of
// break and continue, and runs its body in it.
const Cell& body_word();
// Whether a pending exit is the loop's own: break (which ends the loop, its value already in the
// loop frame's arguments[0]) or continue. Clears it when it is; any other exit stays pending.
enum class LoopExit { kNone, kBreak, kContinue, kOther };
LoopExit take_loop_exit();
// One run of a loop's body in the loop frame, its value in the frame's arguments[0].
LoopExit run_body(const Cell& body);
// Leaves the loop frame; the value becomes the native's result.
void end_loop(const Cell& result);

// The position of the word among the method words (their symbols), in any letter case; an
// unknown word raises script/invalid-arg with it (checksum, compress, decompress).
int32_t method_index(const Cell& word, const uint32_t* symbols, int32_t count);

// Angle reduction for the trigonometric natives (natives_math.cpp): degrees brought into the
// range where the function keeps its value, then to radians; mode 0 tangent, 1 cosine, 2 sine.
double degrees_to_radians(double degrees, int mode);

// Whether the last print ended its line (print) or not (prin).
extern bool last_lf;

// Element i (from 1) of a series as the pick action gives it; none past the tail.
Cell pick_element(const Cell& series, int32_t i);
// The words a block of words may hold: word!, set-word!, get-word! and lit-word!.
bool is_settable_word(uint8_t type);
// Element i of a words block; anything but a settable word raises script/invalid-arg with it.
Cell settable_word(const Cell& words, int32_t i);

// Sets the words 1..n of the words block from the source: from its elements when it is a block
// (or map) and only is off, else each to the source itself; unset! is refused unless any, none!
// skipped with some. A non-word raises script/invalid-arg before anything is set. Shared with
// foreach.
void set_words_from(const Cell& words, const Cell& source, int32_t n,
                    const object::SetOptions& options);

}  // namespace natives
