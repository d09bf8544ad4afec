// The language-level test runner: `zel_lang_tests FILE...` runs case tables, each case a source
// string followed by its expected outcome (a molded result, `error [category id]`, or
// `prints "text"`), in one runtime whose global context the cases of all files share. Relies on
// the lexer for loading, interp::eval_block for running, stack::try_catch for catching errors and
// the print hooks for capturing output; values are kept on the data stack or under gc::Guard.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "boot/entry.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string_buffer.h"
#include "datatypes/symbol.h"
#include "interpreter/actions.h"
#include "interpreter/eval.h"
#include "interpreter/stack.h"
#include "lexer/lexer.h"
#include "runtime/gc.h"
#include "runtime/print.h"
#include "runtime/throw.h"
#include "runtime/unicode.h"

namespace {

// --- Text helpers --------------------------------------------------------------------------------

std::string text_of(Cell value) {
  int64_t count = -1;
  const uint8_t* bytes = unicode::string_to_utf8(value, count);
  return std::string(reinterpret_cast<const char*>(bytes), size_t(count));
}

std::string name_of(uint32_t symbol_id) { return text_of(symbol::name_string(symbol_id)); }

// Line feeds shown as the language writes them, so that a report stays one line per item.
std::string shown(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("^/") : std::string(1, c);
  return out;
}

// --- Case tables ---------------------------------------------------------------------------------

// One value of a table file, converted to plain data as soon as it is read.
struct Item {
  int line;
  uint8_t type;
  std::string text;             // string!: its text; word!: its name
  std::vector<uint32_t> words;  // block!: the symbol of each word in it (0 for other values)
};

struct Case {
  enum Kind { kMolded, kError, kPrints };
  int line;
  std::string source;
  Kind kind;
  std::string text;              // the molded result, or the printed text
  uint32_t category = 0, id = 0;  // of an expected error
};

struct Table {
  std::vector<Case> cases;
  std::string problem;  // why the file could not be read as a table; empty when it could
  int problem_line = 0;
};

// Past blanks and comments: where the next value starts.
size_t skip_blanks(const std::string& text, size_t at) {
  while (at < text.size()) {
    char c = text[at];
    if (c == ';') {
      while (at < text.size() && text[at] != '\n') at++;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      at++;
    } else {
      break;
    }
  }
  return at;
}

Item to_item(const Cell& value, int line) {
  Item item{line, cell::type_of(value), {}, {}};
  if (item.type == TYPE_STRING) item.text = text_of(value);
  if (item.type == TYPE_WORD) item.text = name_of(value.w2);
  if (item.type == TYPE_BLOCK) {
    // Symbol ids only: nothing here allocates, so the cells stay where they are.
    int32_t count = block::rest_length(value);
    for (int32_t i = 0; i < count; i++) {
      const Cell* c = block::cell_at(value, int32_t(value.w1) + i);
      item.words.push_back(cell::type_of(*c) == TYPE_WORD ? c->w2 : 0);
    }
  }
  return item;
}

// The file's values one at a time, so that each keeps the line it starts on. A syntax error in
// the file is raised as a language error.
std::vector<Item> load_items(const std::string& text) {
  std::vector<Item> items;
  Cell value{TYPE_NONE, 0, 0, 0};
  gc::Guard guard(value);
  lexer::Mode one;
  one.one = true;
  int line = 1;
  size_t at = 0;
  for (;;) {
    size_t start = skip_blanks(text, at);
    for (size_t i = at; i < start; i++) line += text[i] == '\n';
    if (start == text.size()) return items;
    size_t consumed = 0;
    lexer::scan(&value, reinterpret_cast<const uint8_t*>(text.data()) + start,
                text.size() - start, one, &consumed, nullptr, nullptr);
    items.push_back(to_item(value, line));
    at = start + consumed;
    for (size_t i = start; i < at; i++) line += text[i] == '\n';
  }
}

bool is_word(const Item& item, const char* name) {
  return item.type == TYPE_WORD && item.text == name;
}

Table to_table(const std::vector<Item>& items) {
  Table table;
  for (size_t i = 0; i < items.size();) {
    const Item& source = items[i];
    auto fail = [&](const char* why) {
      table.problem = why;
      table.problem_line = source.line;
      return table;
    };
    if (source.type != TYPE_STRING) return fail("a case must start with its source string");
    if (i + 1 == items.size()) return fail("the case has no expected outcome");
    const Item& outcome = items[i + 1];
    Case c{source.line, source.text, Case::kMolded, {}};
    if (outcome.type == TYPE_STRING) {
      c.text = outcome.text;
      i += 2;
    } else if (is_word(outcome, "error")) {
      if (i + 2 == items.size() || items[i + 2].type != TYPE_BLOCK ||
          items[i + 2].words.size() != 2 || !items[i + 2].words[0] || !items[i + 2].words[1]) {
        return fail("error must be followed by a block of two words: [category id]");
      }
      c.kind = Case::kError;
      c.category = items[i + 2].words[0];
      c.id = items[i + 2].words[1];
      i += 3;
    } else if (is_word(outcome, "prints")) {
      if (i + 2 == items.size() || items[i + 2].type != TYPE_STRING) {
        return fail("prints must be followed by the expected text");
      }
      c.kind = Case::kPrints;
      c.text = items[i + 2].text;
      i += 3;
    } else {
      return fail("the expected outcome must be a string, error [category id] or prints \"text\"");
    }
    table.cases.push_back(c);
  }
  return table;
}

std::string expected_text(const Case& c) {
  switch (c.kind) {
    case Case::kMolded:
      return shown(c.text);
    case Case::kError:
      return "error [" + name_of(c.category) + " " + name_of(c.id) + "]";
    case Case::kPrints:
      return "prints \"" + shown(c.text) + "\"";
  }
  return {};
}

// --- Running a case ------------------------------------------------------------------------------

// What the print natives wrote while a case ran; each printed string arrives here with its
// newline flag.
std::string printed;

void capture_print(const Cell* value, int flag) {
  printed += text_of(*value);
  if (flag) printed += '\n';
}

struct Outcome {
  bool error = false;
  std::string molded;             // the result, molded
  uint32_t category = 0, id = 0;  // of a raised error
  std::string fault;              // what the runtime left wrong (pending exit, stack imbalance)
};

// The value as form or mold gives it, as UTF-8.
std::string render(Cell* value, bool mold) {
  Cell text{TYPE_NONE, 0, 0, 0};
  gc::Guard guard(text);
  string::init_empty(&text, 64);
  if (mold) {
    actions::call_mold(value, &text, false, false, false, nullptr, INT32_MAX, 0);
  } else {
    actions::call_form(value, &text, nullptr, INT32_MAX);
  }
  return text_of(text);
}

bool passed(const Case& c, const Outcome& o) {
  if (!o.fault.empty()) return false;
  switch (c.kind) {
    case Case::kMolded:
      return !o.error && o.molded == c.text;
    case Case::kError:
      return o.error && symbol::resolve_alias(o.category) == symbol::resolve_alias(c.category) &&
             symbol::resolve_alias(o.id) == symbol::resolve_alias(c.id);
    case Case::kPrints:
      return !o.error && printed == c.text;
  }
  return false;
}

void report(const char* path, int line, const std::string& what, const Case* c,
            const std::string& actual) {
  rt::print_line({path, ":", int32_t(line), ": ", what.c_str()});
  if (!c) return;
  rt::print_line({"  source:   ", shown(c->source).c_str()});
  rt::print_line({"  expected: ", expected_text(*c).c_str()});
  rt::print_line({"  actual:   ", actual.c_str()});
}

// Runs the case in a try frame, checks its outcome and reports a failure; whatever the case did,
// the stacks are as before afterwards. Returns whether it passed.
bool run_case(const char* path, const Case& c) {
  Outcome o;
  printed.clear();
  Cell* saved_top = stack::top;
  Cell* saved_args = stack::args;
  stack::Frame* saved_frames = stack::frame_top;
  uint32_t code = 0;
  try {
    code = stack::try_catch(runtime_words::words.try_, [&] {
      Cell* code_block = stack::push_new();
      *code_block = Cell{TYPE_NONE, 0, 0, 0};
      lexer::scan(code_block, reinterpret_cast<const uint8_t*>(c.source.data()), c.source.size(),
                  lexer::Mode{}, nullptr, nullptr, nullptr);
      interp::eval_block(*code_block, false);
      if (!interp::exiting()) o.molded = render(stack::top_cell(), true);
    });
  } catch (const rt::Throw& t) {
    // A code that should have become a pending exit or an error: the runner survives it.
    char text[64];
    std::snprintf(text, sizeof text, "throw code %08X escaped the evaluator", t.code);
    o.fault = text;
  }
  Cell error{TYPE_NONE, 0, 0, 0};
  gc::Guard guard(error);
  if (code) {
    error = *stack::top_cell();
    o.error = true;
    o.category = error::type_symbol(error);
    o.id = error::id_symbol(error);
  }
  if (interp::exiting()) {
    if (o.fault.empty()) o.fault = "an exit was left pending";
    interp::pending = 0;
  }
  if (stack::frame_top != saved_frames && o.fault.empty()) {
    o.fault = "the call-frame stack was left unbalanced";
  }
  if (stack::frame_top > saved_frames) stack::set_ctop(saved_frames);
  stack::top = saved_top;
  stack::args = saved_args;
  if (passed(c, o)) return true;

  std::string actual;
  if (o.error) {
    std::string message;
    stack::try_catch(runtime_words::words.try_, [&] { message = render(&error, false); });
    stack::top = saved_top;
    actual = "error [" + (o.category ? name_of(o.category) : "?") + " " +
             (o.id ? name_of(o.id) : "?") + "] " + shown(message);
  } else {
    actual = c.kind == Case::kPrints ? "prints \"" + shown(printed) + "\"" : shown(o.molded);
  }
  if (!o.fault.empty()) actual += " (" + o.fault + ")";
  report(path, c.line, "FAILED", &c, actual);
  return false;
}

// --- Files ---------------------------------------------------------------------------------------

struct Totals {
  int cases = 0;
  int failed = 0;
};

void run_file(const char* path, Totals& totals) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    report(path, 0, "cannot open the file", nullptr, {});
    totals.failed++;
    return;
  }
  std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::vector<Item> items;
  Cell* saved_top = stack::top;
  uint32_t code = stack::try_catch(runtime_words::words.try_, [&] { items = load_items(text); });
  if (code) {
    Cell error = *stack::top_cell();
    gc::Guard guard(error);
    report(path, 0, "cannot load the table: " + shown(render(&error, false)), nullptr, {});
    stack::top = saved_top;
    totals.failed++;
    return;
  }
  Table table = to_table(items);
  for (const Case& c : table.cases) {
    totals.cases++;
    if (!run_case(path, c)) totals.failed++;
  }
  if (!table.problem.empty()) {
    report(path, table.problem_line, "malformed table: " + table.problem, nullptr, {});
    totals.failed++;
  }
}

std::vector<const char*> files;

int run() {
  hooks::register_hooks(capture_print, nullptr);
  Totals totals;
  for (const char* path : files) run_file(path, totals);
  rt::print_line({int32_t(totals.cases), " cases, ", int32_t(totals.failed), " failed"});
  return totals.failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zel_lang_tests FILE...\n");
    return 2;
  }
  files.assign(argv + 1, argv + argc);
  return boot::entry(argc, argv, run);
}
