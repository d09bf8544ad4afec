// libFuzzer target: arbitrary bytes through load-csv, as text, with the refinements the first
// byte picks. Errors (returned or raised) are expected outcomes; a crash, a sanitizer report or a
// stack left other than it was found is a fault. Rows read with no refinement are written with
// to-csv and must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "boot/entry.h"
#include "tests/parse/parse_harness.h"

namespace {

const char* const kCalls[] = {
    "load-csv t",
    "load-csv/header t",
    "load-csv/as-records t",
    "load-csv/header/as-records t",
    "load-csv/as-columns t",
    "load-csv/flat t",
    "load-csv/trim t",
    "load-csv/with/quote t {;} #\"'\"",
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  boot::runtime_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 4096) return 0;
  static const char kHex[] = "0123456789ABCDEF";
  const size_t call = data[0] % (sizeof kCalls / sizeof *kCalls);
  std::string source = "t: to string! #{";
  for (size_t i = 1; i < size; i++) {
    source += kHex[data[i] >> 4];
    source += kHex[data[i] & 15];
  }
  source += "} v: ";
  source += kCalls[call];
  if (call == 0) {
    source += " either all [block! = type? :v not empty? v] [";
    source += "either v = load-csv to-csv v ['same] ['changed]] ['other]";
  }
  const std::string outcome = parse_harness::run(source);
  if (outcome == "== changed") {
    std::fprintf(stderr, "%s\n", source.c_str());
    std::abort();
  }
  frames::reset_all();
  return 0;
}
