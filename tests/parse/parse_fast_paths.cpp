// Differential test: every repetition of a single value (char!, bitset!, text, byte, block value)
// that parse counts in one pass (among them a copy or set of one), and every to or thru a text it
// scans for in one pass, must answer as the general path answers, on random inputs over strings,
// binaries and blocks: the same result, the same position after it, the same copy or set value.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "boot/entry.h"
#include "interpreter/parse.h"
#include "tests/parse/parse_harness.h"

namespace {

std::string pick(std::mt19937& rng, std::initializer_list<const char*> options) {
  auto it = options.begin();
  std::advance(it, rng() % options.size());
  return *it;
}

std::string repetition(std::mt19937& rng, const std::string& value) {
  switch (rng() % 6) {
    case 0: return "any " + value;
    case 1: return "some " + value;
    case 2: return "opt " + value;
    case 3: return "while " + value;
    case 4: return std::to_string(rng() % 4) + " " + value;
    default: {
      int low = int(rng() % 3);
      return std::to_string(low) + " " + std::to_string(low + int(rng() % 4)) + " " + value;
    }
  }
}

std::string text_input(std::mt19937& rng, const char* alphabet) {
  std::string s;
  size_t n = rng() % 9;
  size_t letters = std::char_traits<char>::length(alphabet);
  for (size_t i = 0; i < n; i++) s += alphabet[rng() % letters];
  return s;
}

// One case: the input, its rule with the value bare and in a block (which the fast path never
// takes), and what the parse leaves.
std::string make_case(std::mt19937& rng, bool bracketed) {
  std::string input, value;
  switch (rng() % 3) {
    case 0:
      input = "\"" + text_input(rng, "aAbB") + "\"";
      value = pick(rng, {"#\"a\"", "#\"A\"", "\"a\"", "\"ab\"", "\"Ab\"", "bits", "word-char",
                         "word-text"});
      break;
    case 1: {
      std::string hex;
      for (char c : text_input(rng, "0123")) hex += std::string("0") + c;
      input = "#{" + hex + "}";
      value = pick(rng, {"#\"^A\"", "#{01}", "#{0102}", "bits", "\"^A\""});
      break;
    }
    default: {
      std::string items;
      for (char c : text_input(rng, "12ab")) {
        items += c == 'a' ? "a " : c == 'b' ? "\"b\" " : std::string(1, c) + " ";
      }
      input = "[" + items + "]";
      value = pick(rng, {"integer!", "1", "'a", "\"b\"", "\"B\"", "number!", "word-text"});
      if (value == "1") value = "quote 1";
      break;
    }
  }
  if (bracketed) value = "[" + value + "]";
  std::string mode = rng() % 4 == 0 ? "/case" : "";
  std::string rule = repetition(rng, value);
  std::string tail = pick(rng, {"", " end", " skip", " to end"});
  std::string command = pick(rng, {"copy", "copy", "copy", "set"});
  return "bits: make bitset! [#\"a\" 1] word-char: #\"b\" word-text: \"b\" "
         "c: none p: none reduce [parse" + mode + " " + input + " [" + command + " c " + rule +
         " p:" + tail + "] c index? p]";
}

// Text of up to 8 code points drawn from the pieces (UTF-8), so that the buffer's unit follows
// the widest piece drawn: 1, 2 or 4 bytes.
std::string wide_text(std::mt19937& rng) {
  const char* pieces[] = {"a", "A", "b", "B", ",", "\xC3\xA9", "\xC3\x89", "\xE2\x82\xAC",
                          "\xF0\x9D\x84\x9E"};
  std::string s;
  size_t n = rng() % 9;
  for (size_t i = 0; i < n; i++) s += pieces[rng() % (i % 3 == 0 ? 9 : 5)];
  return s;
}

// A to or thru of a text over a string (one scan on the fast path), with or without /case and
// /part; bracketed, the target runs as a sub-rule. word-head names a text whose head is not its
// first unit; chars and one-unit texts take the one-byte search on a string of bytes.
std::string make_scan_case(std::mt19937& rng, bool bracketed) {
  std::string input = "\"" + wide_text(rng) + "\"";
  std::string value = pick(rng, {"\"a\"", "\"ab\"", "\"Ab\"", "\"b\"", "\"\xC3\xA9\"",
                                 "\"\xC3\x89" "b\"", "\"\xE2\x82\xAC\"", "\"a\xF0\x9D\x84\x9E\"",
                                 "\",\"", "\",A\"", "\"b,\"", "word-text", "word-head",
                                 "#\",\"", "#\"a\"", "#\"A\"", "word-char", "word-one"});
  if (bracketed) value = "[" + value + "]";
  std::string mode = rng() % 4 == 0 ? "/case" : "";
  bool part = rng() % 4 == 0;
  if (part) mode += "/part";
  std::string rule = pick(rng, {"to ", "thru "}) + value;
  std::string tail = pick(rng, {"", " end", " skip", " to end"});
  std::string limit = part ? " " + std::to_string(rng() % 7) : "";
  std::string command = pick(rng, {"copy", "copy", "copy", "set"});
  return "word-text: \"b\" word-head: next \"xAb\" word-char: #\",\" word-one: next \"x,\" "
         "c: none p: none reduce [parse" + mode + " " + input + " [" + command + " c " + rule +
         " p:" + tail + "]" + limit + " c index? p]";
}

// A counted repetition (`copy c some digits`) over text of any unit width or bytes, after a step
// that moves the input, with or without /case and /part: plain, complemented and wide bitsets,
// chars, and words naming a count or a block (which the fast path leaves to the general one).
std::string make_run_case(std::mt19937& rng, bool bracketed) {
  std::string input;
  if (rng() % 3 == 0) {
    const char* bytes[] = {"61", "41", "2C", "01", "E9"};
    input = "#{";
    for (size_t i = 0, n = rng() % 9; i < n; i++) input += bytes[rng() % 5];
    input += "}";
  } else {
    input = "\"" + wide_text(rng) + "\"";
  }
  std::string value = pick(rng, {"bits", "bits", "not-bits", "wide-bits", "#\"a\"", "#\",\"",
                                 "word-char", "word-count", "word-rule"});
  // A count alone in a block is a rule of its own (an error): that one stays bare.
  if (bracketed && value != "word-count") value = "[" + value + "]";
  std::string mode = rng() % 4 == 0 ? "/case" : "";
  bool part = rng() % 4 == 0;
  if (part) mode += "/part";
  std::string before = pick(rng, {"", "", "skip ", "thru #\",\" ", "to \",\" "});
  std::string rule = repetition(rng, value);
  std::string tail = pick(rng, {"", " end", " skip", " to end"});
  std::string limit = part ? " " + std::to_string(rng() % 7) : "";
  std::string command = pick(rng, {"copy", "copy", "set"});
  return "bits: make bitset! \"aA\xC3\xA9\" not-bits: complement charset \",\" "
         "wide-bits: charset [#\"a\" #\"\xE2\x82\xAC\" #\"\xF0\x9D\x84\x9E\"] "
         "word-char: #\"A\" word-count: 2 word-rule: [#\"a\"] c: none p: none n: 0 "
         "reduce [parse" + mode + " " + input + " [" + before + command + " c " + rule +
         " p: (n: index? p)" + tail + "]" + limit + " c index? p n]";
}

}  // namespace

int main(int argc, char** argv) {
  boot::runtime_init();
  int count = argc > 1 ? std::atoi(argv[1]) : 20000;
  // Under the collector's stress mode every case costs a full moving collection per allocation:
  // a slice of the cases still exercises the engine's rooting, the rest is the plain run's.
  const char* stress = std::getenv("ZEL_GC_STRESS");
  const bool stressed = stress && std::atoi(stress) > 0;
  if (stressed) count = std::min(count, 250);
  std::mt19937 rng(20240611);
  int failures = 0;
  // Each case runs with the fast paths, without them, and as a block rule with and without them;
  // all must agree.
  auto compare = [&](auto make, int limit, int cases) {
    for (int i = 0; i < cases && failures <= limit; i++) {
      std::mt19937 again = rng;
      std::string bare = make(rng, false);
      std::string bracketed = make(again, true);
      parse::set_fast_paths(true);
      std::string fast = parse_harness::run(bare);
      parse::set_fast_paths(false);
      std::string general = parse_harness::run(bare);
      std::string in_block = parse_harness::run(bracketed);
      parse::set_fast_paths(true);
      std::string block_fast = parse_harness::run(bracketed);
      if (fast != general || fast != in_block || fast != block_fast) {
        std::printf("differs: %s\n  fast:    %s\n  general: %s\n  block:   %s\n"
                    "  block, fast paths: %s\n", bare.c_str(), fast.c_str(), general.c_str(),
                    in_block.c_str(), block_fast.c_str());
        failures++;
      }
    }
  };
  compare(make_case, 20, count);
  compare(make_scan_case, 20, count);
  // Under stress, fewer of these: the three tables together must stay within the test's time.
  const int runs = stressed ? count / 2 : count;
  compare(make_run_case, 20, runs);
  std::printf("%d cases, %d differ\n", 2 * count + runs, failures);
  return failures == 0 ? 0 : 1;
}
