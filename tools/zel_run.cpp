// zel-run: runs a script without the GUI. `zel-run FILE` evaluates the file (its `Zel [...]`
// header skipped), `zel-run -e CODE` evaluates CODE, `zel-run --version` prints the version.
// print writes to standard output; an uncaught error prints its report to standard error and
// exits with status 254.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "boot/entry.h"
#include "interpreter/eval.h"
#include "interpreter/stack.h"
#include "lexer/lexer.h"
#include "runtime/print.h"
#include "runtime/unicode.h"

namespace {

constexpr char kVersion[] = "0.5.0";
std::string source;

// print and prin: the formed text to standard output, a line feed after print's.
void print_to_stdout(const Cell* value, int newline) {
  Cell text = *value;
  int64_t count = -1;
  const uint8_t* bytes = unicode::string_to_utf8(text, count);
  std::fwrite(bytes, 1, size_t(count), stdout);
  if (newline) std::fputc('\n', stdout);
}

int run() {
  hooks::register_hooks(print_to_stdout, nullptr);
  Cell* code = stack::push_new();
  *code = Cell{TYPE_NONE, 0, 0, 0};
  lexer::scan(code, reinterpret_cast<const uint8_t*>(source.data()), source.size(),
              lexer::Mode{}, nullptr, nullptr, nullptr);
  interp::skip_header(code);
  interp::eval_block(*code, false);
  if (interp::exiting()) {
    // A break, return or throw with no target raises its own error; nothing should be left.
    interp::pending = 0;
  }
  return 0;
}

int usage() {
  std::fprintf(stderr, "usage: zel-run FILE | zel-run -e CODE | zel-run --version\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("Zel %s\n", kVersion);
    return 0;
  }
  if (std::strcmp(argv[1], "-e") == 0) {
    if (argc < 3) return usage();
    source = argv[2];
  } else {
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "zel-run: cannot open %s\n", argv[1]);
      return 1;
    }
    source.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  return boot::entry(argc, argv, run);
}
