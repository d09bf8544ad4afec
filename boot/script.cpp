// Script running shared by the zel program and zel-run.
#include "boot/script.h"

#include <fstream>
#include <iterator>

#include "datatypes/stack.h"
#include "interpreter/eval.h"
#include "lexer/lexer.h"
#include "platform/os/console.h"
#include "runtime/print.h"
#include "runtime/unicode.h"

namespace boot {

namespace {

std::string script;

// print and prin: the formed text to standard output, a line break after print's.
void print_to_standard_output(const Cell* value, int newline) {
  Cell text = *value;
  int64_t count = -1;
  const uint8_t* bytes = unicode::string_to_utf8(text, count);
  platform::write_text(bytes, size_t(count), 0, newline != 0);
}

}  // namespace

bool read_script_file(const char* path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

void set_script(std::string text) { script = std::move(text); }

int run_script() {
  rt::register_hooks(print_to_standard_output, nullptr);
  Cell* code = stack::push_new();
  *code = Cell{TYPE_NONE, 0, 0, 0};
  // Editors may start UTF-8 text with a byte-order mark, which is no part of the source.
  size_t start = script.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  lexer::scan(code, reinterpret_cast<const uint8_t*>(script.data()) + start,
              script.size() - start, lexer::Mode{}, nullptr, nullptr, nullptr);
  interp::skip_header(code);
  interp::eval_block(*code, false);
  return 0;
}

}  // namespace boot
