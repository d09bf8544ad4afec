// libFuzzer target: arbitrary bytes through the lexer in load, check and one-value modes. A
// syntax error is an expected outcome; a crash, a sanitizer report or a check-mode verdict that
// disagrees with loading is a fault. Relies on the runtime being brought up once, as the
// program's entry code does, and on a try frame to catch language errors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "boot/entry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "interpreter/frames.h"
#include "lexer/lexer.h"

namespace {

// Runs one scan under a try frame; true when it raised a language error.
bool raises(const uint8_t* data, size_t size, const lexer::Mode& mode, uint8_t* type) {
  uint32_t code = frames::try_catch(runtime_words::words.try_, [&] {
    Cell* out = stack::push_new();
    *out = Cell{TYPE_NONE, 0, 0, 0};
    *type = lexer::scan(out, data, size, mode, nullptr, nullptr, nullptr);
  });
  frames::reset_all();
  return code != 0;
}

}  // namespace

// The process start (signal filter, alternate stack) is left to the fuzzer's own handlers.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  boot::runtime_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t type = 0;
  bool load_failed = raises(data, size, lexer::Mode{}, &type);
  lexer::Mode check;
  check.load = false;
  bool check_raised = raises(data, size, check, &type);
  // A check-only scan never raises; it reports error! exactly when loading fails.
  if (check_raised || (type == TYPE_ERROR) != load_failed) std::abort();
  lexer::Mode one;
  one.one = true;
  raises(data, size, one, &type);
  lexer::Mode prescan;
  prescan.prescan = true;
  raises(data, size, prescan, &type);
  return 0;
}
