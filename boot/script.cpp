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
bool from_file = false;

// The command line as the script sees it: the arguments before the script's own (the script
// file, or -e and the code) leave system/options/args and the raw text of system/script/args; a
// script file then runs through do-file, in its own directory, with that text as its
// system/script/args. Its arguments, appended before the closing bracket: how many arguments to
// drop, and whether the first names a file.
constexpr char kPrelude[] = R"zel(
do reduce [func [count file? /local text i n quoted?] [
    if text: system/script/args [
        i: 1
        n: length? text
        ; Arguments end as extract-boot-args ends them: at white space outside double quotes.
        loop count [
            while [all [i <= n  find " ^-" pick text i]] [i: i + 1]
            quoted?: false
            while [all [i <= n  any [quoted?  not find " ^-" pick text i]]] [
                if #"^"" = pick text i [quoted?: not quoted?]
                i: i + 1
            ]
        ]
        while [all [i <= n  find " ^-" pick text i]] [i: i + 1]
        remove/part text i - 1
    ]
    if block! = type? system/options/args [
        either file? [
            system/options/script: to-zel-file take system/options/args
            do-file system/options/script none text
        ][
            remove/part system/options/args count
        ]
    ]
])zel";

// Scans the source text and evaluates it in the global context, its header skipped.
void evaluate(std::string_view source) {
  Cell* code = stack::push_new();
  *code = Cell{TYPE_NONE, 0, 0, 0};
  // Editors may start UTF-8 text with a byte-order mark, which is no part of the source.
  size_t start = source.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  lexer::scan(code, reinterpret_cast<const uint8_t*>(source.data()) + start,
              source.size() - start, lexer::Mode{}, nullptr, nullptr, nullptr);
  interp::skip_header(code);
  interp::eval_block(*code, false);
}

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

void set_script(std::string text) {
  script = std::move(text);
  from_file = false;
}

void set_script_file() { from_file = true; }

int run_script() {
  rt::register_hooks(print_to_standard_output, nullptr);
  const std::string prelude = std::string(kPrelude) + (from_file ? " 1 true]" : " 2 false]");
  evaluate(prelude);
  if (!from_file) evaluate(script);
  return 0;
}

}  // namespace boot
