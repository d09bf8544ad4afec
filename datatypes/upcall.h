// The calls the datatypes make up into the layers above them, where a datatype needs them by
// nature: make object! and make error! run their spec, an object's change handlers call
// functions, errors name the call and the expression they arose in, `to block!` and the text
// conversions scan text. The layers above fill these pointers once at start-up (interp::init,
// lexer::init), before anything can use them; nothing else reaches up. ARCHITECTURE.md lists
// them.
#pragma once
#include <cstdint>
#include <span>

#include "runtime/cell.h"

namespace upcall {

// Filled by interp::init.
struct Interpreter {
  // make object!, make error!: evaluates the spec block (bound by the caller) as the new value's
  // body; its value is left as the newest cell. An exit leaving it travels on as a C++ throw.
  void (*run_spec)(const Cell& block);
  // A function! called from the datatypes (an object's change handler, a sort comparator), in a
  // call frame named by `name`, with `self` as its owner context. Its first `params` arguments
  // are the given ones (none! past them), then `locals` more cells. Returns its value and leaves
  // the data stack as it was; an exit leaving it travels on as a C++ throw.
  Cell (*call_handler)(const Cell& name, const Cell& function, uint32_t self,
                       std::span<const Cell> arguments, uint32_t params, int32_t locals);
  // The same with the parameters and locals counted from the function's own spec (a sort
  // comparator).
  Cell (*call_function)(const Cell& name, const Cell& function, std::span<const Cell> arguments);
  // The same for a lexer trace callback, which may change its arguments: afterwards each
  // argument cell but the first holds what the function left in its own.
  Cell (*call_back)(const Cell& name, const Cell& function, std::span<Cell> arguments);
  // make native! and make action!: the value just made (rooted) gets its argument cache.
  void (*native_made)(const Cell& native);
  // Errors: the word naming the call an error arises in (its "where", the name math errors
  // report), and the spec word of parameter #ordinal of that call's callee (expect-arg).
  Cell (*call_name)();
  Cell (*parameter_word)(int ordinal);
  // Errors: the expression being evaluated (an error's "near"); unset! when none.
  Cell (*eval_position)();
  // mold of an op!: the molding runs in a native frame of its own named by `name`.
  void (*enter_frame)(const Cell& name);
  void (*leave_frame)();
};
extern Interpreter interpreter;

// Filled by lexer::init.
struct Lexer {
  // Scans a string! from its head. load: out receives the block! of its values (a syntax error
  // raises); else the text is only checked and a syntax error gives error!. Returns the datatype
  // id of the last token. out must be rooted by the caller. May allocate.
  uint8_t (*scan_text)(Cell* out, const Cell& text, bool load);
};
extern Lexer lexer;

}  // namespace upcall
