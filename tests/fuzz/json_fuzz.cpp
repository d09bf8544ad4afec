// libFuzzer target: arbitrary bytes through load-json, as text. A refusal (the returned error
// value, or a raised error such as malformed UTF-8 or a lone surrogate escape) is an expected
// outcome; a crash, a sanitizer report, a stack left other than it was found, or nesting that
// runs the matcher out of room is a fault. Whatever loads is written with to-json, compact and
// indented, and each text must load back to a value that writes the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "boot/entry.h"
#include "tests/parse/parse_harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  boot::runtime_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Deep nesting costs the matcher time quadratic in the depth (its recursion check walks the
  // rule stack), and the instrumented build multiplies it: longer inputs add little else.
  if (size > 512) return 0;
  static const char kHex[] = "0123456789ABCDEF";
  std::string source = "t: to string! #{";
  for (size_t i = 0; i < size; i++) {
    source += kHex[data[i] >> 4];
    source += kHex[data[i] & 15];
  }
  source += "} v: load-json t either error! = type? :v [";
  // Too deep a text must be refused with the decoder's own message, not the matcher's limit.
  source += "either find v/arg1 {Invalid JSON string.} ['refused] ['bad-refusal]] [";
  source += "s: to-json :v p: to-json/pretty :v {  } ";
  source += "either all [s == to-json load-json s  p == to-json/pretty load-json p {  }] ";
  source += "['same] ['changed]]";
  const std::string outcome = parse_harness::run(source);
  if (outcome == "== bad-refusal" || outcome == "== changed") {
    std::fprintf(stderr, "%s: %s\n", outcome.c_str(), source.c_str());
    std::abort();
  }
  frames::reset_all();
  return 0;
}
