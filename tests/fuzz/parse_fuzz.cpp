// libFuzzer target: random rule blocks over random inputs. The fuzz bytes pick an input (text,
// binary or block) and a rule block from a grammar of every keyword, nested blocks, parens that
// edit the input, run a nested parse or raise an error, and recursion through words. Errors and
// failed matches are expected outcomes; a crash, a sanitizer report, or an engine, data or frame
// stack left other than it was found is a fault (parse_harness::run aborts on the last).
// Repetitions that need no progress (`while`) are left out, the input grows only up to a small
// bound, and a position set back (`:p`) is allowed a few times only: rules that make any of
// them loop for ever do so by design, and a recursive rule
// inside a repetition backtracks in time exponential in the input's length, as any parser of
// this kind without memoizing does.
#include <cstddef>
#include <cstdint>
#include <string>

#include "boot/entry.h"
#include "tests/parse/parse_harness.h"

namespace {

struct Bytes {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint32_t next(uint32_t n) { return at < size ? data[at++] % n : 0; }
  bool more() const { return at < size; }
};

const char* const kAtoms[] = {
    "\"a\"", "\"ab\"", "#\"a\"", "#\"b\"", "#\"B\"", "skip", "end", "none", "fail", "bits",
    "integer!", "word!", "'a", "quote 1", "[]", "(n: n + 1)", "(clear s)", "(remove s)",
    "(if (g: g + 1) < 8 [insert s \"ba\"])", "(if (g: g + 1) < 8 [append s [a 1]])", "(parse \"ab\" [some \"a\" skip])",
    "(parse [1 [2]] [integer! into [integer!]])", "(1 / 0)", "(parse \"x\" [rr: [rr] rr])",
    "(parse \"x\" [collect [keep skip]])", "p:", "[if ((g: g + 1) < 8) :p]", "r", "#{01}", "break", "reject",
    "if (odd? n)", "<a>", "string!", "any-string!", "\"\"",
};

const char* const kPrefixes[] = {
    "any", "some", "opt", "not", "ahead", "to", "thru", "copy x", "set x", "remove",
    "into", "2", "1 3", "0", "case t", "case f", "keep", "keep pick", "collect",
    "collect set y", "collect into out", "collect after out", "change", "change only",
};

std::string rule(Bytes& in, int depth);

std::string item(Bytes& in, int depth) {
  if (!in.more() || depth > 8) return "skip";
  switch (in.next(6)) {
    case 0:
      if (depth < 4) return "[" + rule(in, depth + 1) + "]";
      [[fallthrough]];
    case 1: {
      std::string prefix = kPrefixes[in.next(sizeof kPrefixes / sizeof *kPrefixes)];
      std::string text = prefix + " " + item(in, depth + 1);
      if (prefix.rfind("change", 0) == 0) text += in.next(2) ? " \"xy\"" : " (1)";
      if (prefix.rfind("change", 0) == 0) text = "[if ((g: g + 1) < 8) " + text + "]";
      return text;
    }
    case 2:
      return in.next(2) ? "[if ((g: g + 1) < 8) insert \"z\"]"
                         : "[if ((g: g + 1) < 8) insert only [q]]";
    default:
      return kAtoms[in.next(sizeof kAtoms / sizeof *kAtoms)];
  }
}

std::string rule(Bytes& in, int depth) {
  std::string text;
  uint32_t count = 1 + in.next(5);
  for (uint32_t i = 0; i < count && in.more(); i++) {
    if (i > 0 && in.next(4) == 0) text += " | ";
    text += item(in, depth) + " ";
  }
  return text;
}

std::string input(Bytes& in) {
  const char* const kInputs[] = {
      "\"aabab\"", "\"\"", "\"AbBa<a>\"", "#{0102610162}", "[a 1 [2 a] \"ab\" b]", "[]",
      "[[a] [1 [2]] (3)]", "\"ab€a\"", "[a a a 1]",
  };
  return kInputs[in.next(sizeof kInputs / sizeof *kInputs)];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  boot::runtime_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in{data, size};
  std::string source = "g: n: 0 t: true f: none x: y: none out: copy [] bits: make bitset! \"a\" ";
  source += "s: copy " + input(in) + " p: s r: [" + rule(in, 0) + "] ";
  source += in.next(2) ? "parse s r" : "parse/case/part s r 3";
  parse_harness::run(source);
  frames::reset_all();
  return 0;
}
