// function! and routine!: user and library functions (a spec, a body block and a local context
// whose values are the call's argument cells on the data stack) and routines (functions whose
// body is machine code). Here they are made, validated, reflected, printed and compared; calling
// them is the evaluator's. Relies on datatypes/context.h and the rooting rule of runtime/gc.h.
#pragma once
#include <cstdint>

#include "datatypes/datatype.h"
#include "runtime/cell.h"

namespace function {

// Cell: word 1 the local context's node (the context's owner cell holds a copy of the function),
// word 2 the spec block's node, word 3 the node of the 5-cell internal block.
constexpr uint32_t kTrace = 0x400;       // attribute trace: the body is traced in a session
constexpr uint32_t kNoTrace = 0x200;     // attribute no-trace: the body never is
constexpr uint32_t kCellArgs = 0x8000;   // routine: arguments passed as cell addresses
constexpr uint32_t kArityShift = 25;     // routine and compiled code: argument count, 5 bits
constexpr uint32_t kArityMax = 31;

// Cells of the internal block.
enum MoreCell : uint32_t {
  kBody = 0,       // the body block (a deep copy of the one given) or none!
  kArgCache = 1,   // the evaluator's argument cache; unset! until it is built
  kCodeEntry = 2,  // integer! entry of compiled code, or unset! when interpreted
  kOpCopy = 3,     // a copy of the function once an op! wraps it, else unset!
  kExtra = 4,      // integer! extra word (an owning object's context), or unset!
};
constexpr int32_t kMoreCells = 5;

// The payload (see above).
inline uint32_t context_of(const Cell& function) { return function.w1; }
inline uint32_t spec_of(const Cell& function) { return function.w2; }
inline uint32_t internals_of(const Cell& function) { return function.w3; }
inline void set_context(Cell& function, uint32_t node) { function.w1 = node; }
inline void set_spec(Cell& function, uint32_t node) { function.w2 = node; }
inline void set_internals(Cell& function, uint32_t node) { function.w3 = node; }

// Pushes a new function!. The spec is kept from its head (a spec positioned further is copied
// from there); the body, a block or none!, is copied deeply and, when no context is given, bound
// to the context made from the spec. A code entry or extra word of 0 is left unset!. May
// allocate: the spec and body may lie in rooted series.
Cell* make_function_value(const Cell& spec, const Cell& body, uint32_t context,
                          uint32_t code_entry, uint32_t extra, uint32_t flags);
// Pushes a new routine! the same way, with its argument count set.
Cell* make_routine_value(const Cell& spec, const Cell& body, uint32_t code_entry, uint32_t extra,
                         bool cell_args);

// Checks a function spec from its head; returns the attribute flags (kTrace, kNoTrace). Raises
// script/bad-func-def, invalid-type-spec, no-value or dup-vars.
uint32_t validate_spec(const Cell& spec);
// The attribute flags (kTrace, kNoTrace) of the leading block of a spec read from its buffer's
// start, 0 without one; entries that are no attribute words are passed over, never refused.
uint32_t spec_attributes(uint32_t spec_node);
// The automatic locals of `function`: appends to the spec (a shallow copy the caller owns, in a
// cell that stays put) /local and the words the body sets or loops over, leaving out the spec's
// own words and those after /extern, which is cut off. Raises script/bad-func-extern. May
// allocate.
void collect_local_words(Cell& spec, const Cell& body);
// From the start index: the first /local plus every word! after it; without /local, -1 when
// required, else 0.
int32_t count_locals(uint32_t spec_node, int32_t start, bool required);
// The words of the spec before its first refinement: the arguments a plain call takes.
uint32_t parameter_count(const Cell& function);
// Pushes the initial local slots of a call: false for /local, then count - 1 none!.
void push_locals(int32_t count);

inline uint32_t header_arity(const Cell& value) {
  return (value.header >> kArityShift) & kArityMax;
}
// Stores the number of word! cells of the routine's spec (at most kArityMax) in its header.
void set_arity(Cell& routine);

// Internal-block access for the other callables (an op! over a function shares its payload).
Cell body_of(const Cell& value);
void set_op_copy(const Cell& value);

// --- Actions -------------------------------------------------------------------------------------

// function! from [spec body]: a new stack cell.
Cell* make(Cell* proto, Cell* spec, uint8_t type);
void reflect(Cell* value, uint32_t field_symbol);
int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* out, action::MoldOptions options, Cell* arg, int32_t part,
             int32_t indent);
int32_t compare(Cell* a, Cell* b, int32_t op);

// Registers function! (its parent context! first) and routine!, and their collector marking.
void register_datatypes();

}  // namespace function
