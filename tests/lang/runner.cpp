// The language-level test runner: `zel_lang_tests FILE...` runs case tables, each case a source
// string followed by its expected outcome (a molded result, `error [category id]`, or
// `prints "text"`), in one runtime whose global context the cases of all files share.
// `zel_lang_tests --outcomes [--programs] FILE...` checks nothing: it prints each case's actual
// outcome on a line of its own, so that two runs (say with and without the collector's stress
// mode) can be compared line by line; with --programs every value of a file is a source string.
// Under the stress mode (ZEL_GC_STRESS) a checking run also requires each case to answer exactly
// as it does without it (result, error message, printed text): it runs itself once without the
// stress mode first, for those outcomes, since a rooting fault may still pass the expectation.
// Relies on the lexer for loading, interp::eval_block for running, frames::try_catch for catching
// errors and the print hooks for capturing output; values are kept on the data stack or under
// gc::Guard.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "boot/entry.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "interpreter/dispatch.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
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

// A program list: every value a source string, run for its outcome only.
Table to_programs(const std::vector<Item>& items) {
  Table table;
  for (const Item& item : items) {
    if (item.type != TYPE_STRING) {
      table.problem = "every value of a program list must be a source string";
      table.problem_line = item.line;
      return table;
    }
    table.cases.push_back(Case{item.line, item.text, Case::kMolded, {}});
  }
  return table;
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
    datatype::call_mold(value, &text, {}, nullptr, INT32_MAX, 0);
  } else {
    datatype::call_form(value, &text, nullptr, INT32_MAX);
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

// How the runner was asked to run.
struct Options {
  bool outcomes = false;  // print each case's actual outcome instead of checking it
  bool programs = false;  // the files are program lists, not case tables
};
Options options;

// Without the stress mode: the outcome line of each case by "path:line", when this run is to be
// compared with one.
std::map<std::string, std::string> normal_outcomes;

// The whole outcome on one line, for comparing two runs: the molded result or the error with its
// message, what was printed, and what the runtime left wrong.
std::string outcome_line(const Outcome& o, const std::string& message) {
  std::string line;
  if (o.error) {
    line = "error [" + (o.category ? name_of(o.category) : "?") + " " +
           (o.id ? name_of(o.id) : "?") + "] " + shown(message);
  } else {
    line = "== " + shown(o.molded);
  }
  if (!printed.empty()) line += " prints \"" + shown(printed) + "\"";
  if (!o.fault.empty()) line += " (" + o.fault + ")";
  return line;
}

// Runs the case in a try frame, checks its outcome and reports a failure (or in outcomes mode
// prints the outcome); whatever the case did, the stacks are as before afterwards. Returns
// whether it passed.
bool run_case(const char* path, const Case& c) {
  Outcome o;
  printed.clear();
  Cell* saved_top = stack::top;
  Cell* saved_args = stack::args;
  frames::Frame* saved_frames = frames::frame_top;
  uint32_t code = 0;
  try {
    code = frames::try_catch(runtime_words::words.try_, [&] {
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
  if (frames::frame_top != saved_frames && o.fault.empty()) {
    o.fault = "the call-frame stack was left unbalanced";
  }
  if (frames::frame_top > saved_frames) frames::set_ctop(saved_frames);
  stack::top = saved_top;
  stack::args = saved_args;
  std::string message;
  if (o.error && (options.outcomes || gc::stress() || !passed(c, o))) {
    frames::try_catch(runtime_words::words.try_, [&] { message = render(&error, false); });
    stack::top = saved_top;
  }
  std::string where = std::string(path) + ":" + std::to_string(c.line);
  if (options.outcomes) {
    rt::print_line({where.c_str(), ": ", outcome_line(o, message).c_str()});
    return true;
  }
  if (gc::stress()) {
    auto normal = normal_outcomes.find(where);
    std::string line = outcome_line(o, message);
    if (normal == normal_outcomes.end() || normal->second != line) {
      report(path, c.line, "FAILED: answers otherwise without the stress mode", &c, shown(line));
      rt::print_line({"  without:  ",
                      normal == normal_outcomes.end() ? "(no outcome)" : normal->second.c_str()});
      return false;
    }
  }
  if (passed(c, o)) return true;

  std::string actual;
  if (o.error) {
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
  uint32_t code = frames::try_catch(runtime_words::words.try_, [&] { items = load_items(text); });
  if (code) {
    Cell error = *stack::top_cell();
    gc::Guard guard(error);
    report(path, 0, "cannot load the table: " + shown(render(&error, false)), nullptr, {});
    stack::top = saved_top;
    totals.failed++;
    return;
  }
  Table table = options.programs ? to_programs(items) : to_table(items);
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

// Runs this program on the same files in outcomes mode without the stress mode and keeps each
// case's outcome line. False when that run could not be made or did not end normally.
bool read_normal_outcomes() {
  int out[2];
  if (pipe(out) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  std::vector<std::string> env_text;
  for (char** e = environ; *e; e++) {
    if (std::strncmp(*e, "ZEL_GC_STRESS=", 14) != 0) env_text.emplace_back(*e);
  }
  std::vector<char*> env;
  for (std::string& e : env_text) env.push_back(e.data());
  env.push_back(nullptr);
  std::string self = "/proc/self/exe", flag = "--outcomes";
  std::vector<char*> argv{self.data(), flag.data()};
  for (const char* f : files) argv.push_back(const_cast<char*>(f));
  argv.push_back(nullptr);
  pid_t child;
  int failed = posix_spawn(&child, self.c_str(), &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string text;
  char buffer[65536];
  for (ssize_t n; !failed && (n = read(out[0], buffer, sizeof buffer)) != 0;) {
    if (n > 0) text.append(buffer, size_t(n));
  }
  close(out[0]);
  int status = 0;
  if (failed || waitpid(child, &status, 0) != child) return false;
  // Each line "path:line: outcome"; the outcome starts after the second ": " of a path without
  // ": " in it, which is how the tables are named.
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    size_t colon = line.find(':');
    size_t split = colon == std::string::npos ? colon : line.find(": ", colon + 1);
    if (split != std::string::npos) normal_outcomes[line.substr(0, split)] = line.substr(split + 2);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A case that ends the process (quit, a halt outside the console) would end the run with its
// status, 0 for a plain quit: the table would pass with its later cases never run.
bool finished = false;

void check_finished() {
  if (finished) return;
  std::fprintf(stderr, "the table ended the process before its last case\n");
  std::fflush(stderr);
  _exit(1);
}

int run() {
  std::atexit(check_finished);
  rt::register_hooks(capture_print, nullptr);
  if (gc::stress() && !options.outcomes && !read_normal_outcomes()) {
    rt::print_line({"the run without the stress mode, for comparison, failed"});
    return 1;
  }
  Totals totals;
  for (const char* path : files) run_file(path, totals);
  rt::print_line({int32_t(totals.cases), " cases, ", int32_t(totals.failed), " failed"});
  finished = true;
  return totals.failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  for (; first < argc && argv[first][0] == '-' && argv[first][1] == '-'; first++) {
    if (std::strcmp(argv[first], "--outcomes") == 0) {
      options.outcomes = true;
    } else if (std::strcmp(argv[first], "--programs") == 0) {
      options.programs = true;
    } else {
      first = argc;
    }
  }
  if (first >= argc || (options.programs && !options.outcomes)) {
    std::fprintf(stderr, "usage: zel_lang_tests [--outcomes [--programs]] FILE...\n");
    return 2;
  }
  files.assign(argv + first, argv + argc);
  return boot::entry(argc, argv, run);
}
