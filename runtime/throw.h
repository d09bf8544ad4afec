// Non-local exits below the language: throw codes, catch levels, and the raise of language errors.
//
// A throw carries one unsigned code; a catch site handles every code up to its level and lets
// higher codes pass to the next site out (a higher code passes through more sites). Codes travel
// as the C++ exception rt::Throw. The language's own exits (break, continue, return...) use the
// same codes but normally travel as evaluator statuses and become exceptions only across foreign
// code.
#pragma once
#include <cstdint>

struct Cell;

namespace rt {

enum : uint32_t {
  kThrowError = 0x7FFFFFFF,     // language error
  kThrowBreak = 0x7FFFFFFE,
  kThrowContinue = 0x7FFFFFFD,
  kThrowReturn = 0x7FFFFFFC,
  kThrowExit = 0x7FFFFFFB,
  kThrowThrow = 0x7FFFFFFA,
  kThrowIntegerEscape = 0x7FFFFFF9,  // local escape of integer arithmetic
  kCatchVirtualMemory = 0x7FFFFFF8,  // level that catches both virtual-memory codes only
  kThrowCommitRefused = 0x7FFFFFF7,  // the OS refused to commit virtual memory
  kThrowReleaseRefused = 0x7FFFFFF6, // the OS refused to release virtual memory
  kThrowLexer = 0x0000000A,          // local escape of the lexer
  kCatchAll = 0xFFFFFFFF,
};

struct Throw {
  uint32_t code;
};

[[noreturn]] void throw_code(uint32_t code);

// Runs body(); returns 0 when it completes, or the caught code when it threw a code <= level.
// Codes above the level travel on to the next catch site out.
template <class Body>
uint32_t catch_codes(uint32_t level, Body&& body) {
  try {
    body();
    return 0;
  } catch (const Throw& t) {
    if (t.code > level) throw;
    return t.code;
  }
}

// Raising language errors from below the value layer. category and id name an entry of the
// error catalog ("internal", "no-memory"); the arguments are cells or null. The raiser is
// installed by the error datatype once the catalog exists; until then the default one keeps the
// names in `raised` and throws kThrowError.
using ErrorRaiser = void (*)(const char* category, const char* id, const Cell* a1,
                             const Cell* a2, const Cell* a3);
[[noreturn]] void fire_error(const char* category, const char* id, const Cell* a1 = nullptr,
                             const Cell* a2 = nullptr, const Cell* a3 = nullptr);
// Returns the raiser it replaces; null installs the default one.
ErrorRaiser set_error_raiser(ErrorRaiser raiser);

struct RaisedError {
  const char* category;
  const char* id;
};
extern RaisedError raised;  // the last error raised through the default raiser

}  // namespace rt
