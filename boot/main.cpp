// The zel program. The evaluator does not exist yet, so `zel FILE` loads the file with the lexer
// and prints the values it read, molded back to source text; the console comes later.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "boot/entry.h"
#include "datatypes/error.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string_buffer.h"
#include "interpreter/actions.h"
#include "interpreter/stack.h"
#include "lexer/lexer.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/print.h"
#include "runtime/unicode.h"

namespace {

std::string source;

// The text of a string value, as UTF-8.
std::string text_of(Cell& value) {
  int64_t count = -1;
  const uint8_t* bytes = unicode::string_to_utf8(value, count);
  return std::string(reinterpret_cast<const char*>(bytes), size_t(count));
}

int run() {
  Cell loaded{TYPE_NONE, 0, 0, 0};
  Cell text{TYPE_NONE, 0, 0, 0};
  gc::Guard guard_loaded(loaded), guard_text(text);
  uint32_t code = stack::try_catch(runtime_words::words.try_, [&] {
    lexer::scan(&loaded, reinterpret_cast<const uint8_t*>(source.data()), source.size(),
                lexer::Mode{}, nullptr, nullptr, nullptr);
    string::init_empty(&text, 256);
    actions::call_mold(&loaded, &text, true, false, false, nullptr, INT32_MAX, 0);
  });
  if (code) {
    // The error value: formed, it is the report a user reads.
    Cell error = *stack::top_cell();
    gc::Guard guard_error(error);
    string::init_empty(&text, 256);
    actions::call_form(&error, &text, nullptr, INT32_MAX);
  }
  rt::print_line({text_of(text).c_str()});
  return code ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zel FILE\n(the evaluator is not built yet: zel loads FILE and "
                         "prints the values it read)\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "zel: cannot open %s\n", argv[1]);
    return 1;
  }
  source.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return boot::entry(argc, argv, run);
}
