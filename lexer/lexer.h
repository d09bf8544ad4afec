// The lexer: turns UTF-8 source text into values (load), or tells the datatype of the next token
// without building it (scan, prescan). Values are built in one output buffer of cells shared by
// the running scans and copied out at the end. Relies on the rooting rule of runtime/gc.h: the
// output cells are collector roots while a scan runs; `out` and `into` must be rooted by the
// caller, and `text` must not lie in series memory (scan_string copies a string out first).
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace lexer {

struct Mode {
  bool one = false;           // stop after the first complete value
  bool prescan = false;       // guess the datatype from the automaton alone
  bool load = true;           // build values (false: check the syntax only)
  bool always_block = false;  // with one: still hand the value back inside a block
  // A function! (in a cell that stays put) called at each lexer event (transcode/trace), below.
  const Cell* trace = nullptr;
};

// The trace callback: called with (event input type line token) for the events the block that
// opens its body names (every one without such a block): prescan (a token is found; an answer
// of none or false skips it), scan (a value's syntax is checked, or a comment is passed; such an
// answer skips loading it), load (a value is built: token is the value; such an answer drops
// it), open and close (a block, paren, map, path or brace string begins or ends; an answer of
// none or false to open stops the scan), error (a syntax error: such an answer stops the scan
// quietly instead of raising it). input is the source series at the token's end (at its start
// for open, and for prescan of a structure token), type its datatype (a word of the library's
// token kind names, or none, for structure), line its line number, token the value or a pair of
// the token's start and end as 1-based positions in the source. When the callback moves input's
// position, scanning goes on from there. A stopped scan gives none, and error! as its type.

// Allocates the output and scratch buffers, hooks the output into the collector and fills the
// datatypes' upcall (datatypes/upcall.h). Once, at start-up; scan calls it when start-up has not.
void init();

// Scans length bytes (a NUL byte ends the input early). With load, out (or a new cell at the
// tail of into, when given) receives a block! of the values, or with one the first value alone.
// consumed (when given) receives the bytes read, or code points when source is a string!.
// Returns the datatype id of the last token: error! when a check-only scan met a syntax error;
// a loading scan raises the syntax error instead. May allocate.
uint8_t scan(Cell* out, const uint8_t* text, size_t length, const Mode& mode, size_t* consumed,
             const Cell* source, Cell* into);

// scan over a string! from its head: length code units (-1: to the tail). May allocate.
uint8_t scan_string(Cell* out, const Cell& string, int64_t length, const Mode& mode,
                    size_t* consumed, Cell* into);

// The automaton alone from a start state over bytes: the final state it reaches (the byte that
// caused it is not consumed; the input end reads as class end). For the table's tests.
uint8_t run_automaton(uint8_t start_state, const uint8_t* text, size_t length);

}  // namespace lexer
