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

// The trace callback of a scan and what reporting to it needs: the source series (input's
// position is counted from its index), and where the last offset and line were counted to.
struct Trace {
  Cell function;
  uint32_t mask;
  Cell source;              // string! (positions in code points) or binary! (in bytes)
  const uint8_t* counted = nullptr;  // input up to here holds `chars` code points
  uint32_t chars = 0;
  const uint8_t* lined = nullptr;    // and begins line `line` there
  int32_t line = 1;
  const uint8_t* resume = nullptr;   // where the callback moved input to, or null
};

// Lexer event bits.
enum LexEvent : uint32_t {
  kEvPrescan = 1, kEvScan = 2, kEvLoad = 4, kEvOpen = 8, kEvClose = 16, kEvError = 32,
};

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
  Trace* trace = nullptr;  // null without a trace callback
};

// With a trace callback that wants the event: calls it for the token [start, end) (type: a
// datatype id, 0, or minus a token kind; value: the token's value or null). True to go on: the
// answer was neither none nor false. May run any code.
bool fire_event(State& s, uint32_t event, int32_t type, const Cell* value, const uint8_t* start,
                const uint8_t* end);
inline bool wants(const State& s, uint32_t event) { return s.trace && (s.trace->mask & event); }
// The events a trace callback asks for: the words of the block that opens its body, else all.
uint32_t trace_mask(const Cell& function);
// A trace callback asked to stop: the scan ends as a check-only scan that met an error does.
[[noreturn]] void stop_quietly(State& s);

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
