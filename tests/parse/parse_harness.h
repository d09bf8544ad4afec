// Running parse cases from C++ for the differential test of the fast paths and the fuzz target:
// a case's source evaluated under a try frame, its outcome as one line of text, and the check
// that the engine's stacks, the data stack and the frames are as they were before it.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "interpreter/parse.h"
#include "lexer/lexer.h"
#include "runtime/gc.h"
#include "runtime/unicode.h"

namespace parse_harness {

inline std::string mold(Cell* value) {
  Cell text{TYPE_NONE, 0, 0, 0};
  gc::Guard guard(text);
  string::init_empty(&text, 64);
  datatype::call_mold(value, &text, {}, nullptr, INT32_MAX, 0);
  int64_t count = -1;
  const uint8_t* bytes = unicode::string_to_utf8(text, count);
  return std::string(reinterpret_cast<const char*>(bytes), size_t(count));
}

// The source's outcome: "== molded value", "error", or "exit" for an exit leaving it. Aborts when
// the run leaves any stack other than it found it.
inline std::string run(const std::string& source) {
  Cell* saved_top = stack::top;
  frames::Frame* saved_frames = frames::frame_top;
  std::string outcome;
  uint32_t code = frames::try_catch(runtime_words::words.try_, [&] {
    Cell* block = stack::push_new();
    *block = Cell{TYPE_NONE, 0, 0, 0};
    lexer::scan(block, reinterpret_cast<const uint8_t*>(source.data()), source.size(),
                lexer::Mode{}, nullptr, nullptr, nullptr);
    interp::eval_block(*block, false);
    outcome = interp::exiting() ? "exit" : "== " + mold(stack::top_cell());
  });
  if (code != 0) {
    outcome = "error";
    stack::top = saved_top;  // the error value was the newest cell
  }
  if (interp::exiting()) {
    // An exit with no target here (a break or return from a rule's paren) ends the case.
    frames::reset_all();
    interp::pending = 0;
    stack::top = saved_top;
    frames::frame_top = saved_frames;
    outcome = "exit";
  }
  if (parse::rule_depth() != 0 || parse::input_depth() != 0 || stack::top != saved_top ||
      frames::frame_top != saved_frames) {
    std::fprintf(stderr, "stacks not restored after: %s\n(rule %u, input %u)\n", source.c_str(),
                 parse::rule_depth(), parse::input_depth());
    std::abort();
  }
  return outcome;
}

}  // namespace parse_harness
