// Throws below the language: the throw primitive and the raise of language errors. Catch sites
// are rt::catch_codes (throw.h); the root site and its fatal error (kFatalNoCatch) are the entry
// code's.
#include "runtime/throw.h"

namespace rt {

RaisedError raised{nullptr, nullptr};

namespace {

[[noreturn]] void default_raiser(const char* category, const char* id, const Cell*, const Cell*,
                                 const Cell*) {
  raised = RaisedError{category, id};
  throw Throw{kThrowError};
}

ErrorRaiser error_raiser = default_raiser;

}  // namespace

void throw_code(uint32_t code) { throw Throw{code}; }

void fire_error(const char* category, const char* id, const Cell* a1, const Cell* a2,
                const Cell* a3) {
  error_raiser(category, id, a1, a2, a3);
  // A raiser always throws; should one return, the error still must not pass unnoticed.
  default_raiser(category, id, a1, a2, a3);
}

ErrorRaiser set_error_raiser(ErrorRaiser raiser) {
  ErrorRaiser previous = error_raiser;
  error_raiser = raiser ? raiser : default_raiser;
  return previous;
}

}  // namespace rt
