// The lexer's internals shared by the scanner and the token loaders: the record of a running
// scan, the output buffer of cells, and the routines the loaders call back into (new output
// cells, syntax errors). Relies on the rooting rule of runtime/gc.h: the output buffer is C++
// memory that never moves under the collector, and its live cells are marked by the lexer.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

namespace lexer {

// Pseudo-datatypes of throw_error beside the real ids.
constexpr int32_t kErrBadChar = -1, kErrMalconstruct = -2, kErrMissingOpen = -3,
                  kErrMissingClose = -4;

// An open marker stands in the output for a series not closed yet: word 1 the cells back from it
// to the enclosing series start, word 2 the series datatype, word 3 the byte offset of its
// opening character.
constexpr uint8_t kOpenMarker = TYPE_TRIPLE;

// ASCII character tests of the loaders' own checks.
inline bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
inline bool is_letter(uint8_t c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

struct State {
  State* previous = nullptr;  // the enclosing running scan
  uint32_t base = 0;          // output indexes: first cell of this scan,
  uint32_t series_start = 0;  // first cell after the innermost open marker,
  uint32_t tail = 0;          // next free cell
  const uint8_t* input_start = nullptr;
  const uint8_t* input_end = nullptr;
  const uint8_t* position = nullptr;  // next byte to read
  bool new_line = false;          // the current token began a new line
  uint8_t start_state = 0;
  uint8_t token_type = 0;         // datatype id of the last token; TYPE_ERROR after a check failed
  bool loading = true;
  const uint8_t* brace_start = nullptr;
  int32_t brace_depth = 0;
  uint32_t brace_flags = 0;
};

extern Cell* output;  // the shared output buffer

// A new output cell (unset!, new-line flag when the token began a line); valid until the next
// output_cell call.
Cell* output_cell(State& s);

// Reports a syntax error for the datatype (or a pseudo-type above) with the near text starting
// at start (null: the innermost open marker's opening character). A check-only scan records
// error! and stops quietly instead.
[[noreturn]] void throw_error(State& s, const uint8_t* start, int32_t type);

// Token routines: (state, token text, text end, gathered class flags, load?). Each checks the
// text, in load mode appends the value, and leaves the position past the token.
using Routine = void (*)(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags,
                         bool load);
extern const Routine loaders[];  // by kind - 1; null for kinds without a loader

// The string loader's core, for brace strings: the text [text, end) with escapes, as a string!.
void load_text(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load,
               uint8_t type, bool escapes);
// Words by kind: the text of a word, issue or refinement token (with its decoration).
void load_word(State& s, const uint8_t* text, const uint8_t* end, uint8_t type, bool load);

// Loaders of literals with datatypes of their own, one file each group (load_*.cpp).
void load_time(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load);
void load_date(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load);
void load_money(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load);
void load_tuple(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load);
void load_pair(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load);
void load_point(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load);
void load_file(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load);
void load_url(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load);
void load_email(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load);
void load_tag(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load);
void load_ref(State& s, const uint8_t* text, const uint8_t* end, uint32_t flags, bool load);

}  // namespace lexer
