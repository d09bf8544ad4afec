// Evaluation and flow natives: do, reduce, compose, try, catch, throw, break, continue, exit,
// return, apply, wait and transcode. The exits reshape the stacks for their target and leave an
// exit pending (interpreter/eval.h); try and catch are the targets of errors and throws.
#include <cmath>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/call.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "interpreter/natives.h"
#include "interpreter/plan.h"
#include "interpreter/trace.h"
#include "lexer/lexer.h"
#include "platform/os/platform.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"

namespace natives {

using interp::pending;
using stack::arg;

using cell::cell_count;
using cell::cells_of;

namespace {

// A value evaluated as an expression of its own, a callable taken as data: the value is put in a
// one-cell block (kept on the stack) that the evaluator walks. Pushes the value.
void eval_single(const Cell& value) {
  Cell* holder = stack::push_copy(constants::none);
  block::init_empty(holder, 1);
  block::append_cell(*holder, value);
  interp::Feed feed{*holder, 0, interp::kToTail};
  interp::eval_expression(feed, {.push = true, .literal_functions = true});
  if (pending) return;
  Cell result = *stack::top_cell();
  stack::pop_cells(2);
  stack::push_copy(result);
}

void clamp_index(Cell* block) {
  uint32_t length = cell_count(cell::series_node(*block));
  if (cell::series_index(*block) > length) cell::set_series_index(*block, length);
}

}  // namespace

namespace {

// do without /trace (or within a trace session, where /trace changes nothing).
void do_value(const int32_t* refinements) {
  Cell* value = arg(0);
  if (cell::type_of(*value) == TYPE_STRING) {
    Cell text = *value;
    lexer::scan_string(value, text, -1, lexer::Mode{}, nullptr, nullptr);
  }
  switch (cell::type_of(*value)) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
      clamp_index(value);
      if (refinements[2] < 0) return interp::eval_block(Cell(*value), true);
      interp::Feed feed{*value, cell::series_index(*value), interp::kToTail};
      Cell* next_word = arg(refinements[2]);
      Cell position = *value;
      if (!interp::feed_cell(feed)) {
        cell::set_series_index(position, feed.index);
        context::write_word(*next_word, position);
        return stack::set_only_result(constants::unset);
      }
      interp::eval_next(feed, true);
      if (pending) return;
      cell::set_series_index(position, feed.index);
      Cell result = *stack::top_cell();
      context::write_word(*next_word, position);
      return stack::set_only_result(result);
    }
    case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_GET_PATH: case TYPE_SET_PATH:
      interp::get_path(Cell(*value), false);
      if (pending) return;
      return stack::set_only_result(*stack::top_cell());
    case TYPE_ERROR:
      frames::throw_error(value);
    case TYPE_FILE: case TYPE_URL: {
      // A script: the library's do-file reads it, checks its header and runs it in its own
      // directory, with the /args value as its system/script/args.
      const Cell name = word::from_c_string("do-file");
      const Cell* runner = word::push_value_checked(name);
      // do-file is the library's; a program that set the word to something else cannot run
      // scripts any more.
      if (cell::type_of(*runner) != TYPE_FUNCTION) rt::fire_error("script", "invalid-arg", runner);
      const Cell arguments[3] = {*value, constants::none,
                                 refinements[1] >= 0 ? *arg(refinements[1]) : constants::none};
      const Cell result = interp::call_function(name, *runner, arguments);
      return stack::set_only_result(result);
    }
    default:
      eval_single(*value);
      if (pending) return;
      stack::set_only_result(*stack::top_cell());
  }
}

// Whether a function body encloses the innermost frame (a return inside it has a target).
bool in_function_body() {
  for (frames::Frame* f = frames::top_frame() - 1; f >= frames::frame_bottom; f--) {
    if ((f->header & frames::kKindMask) == frames::kTryAll) return false;
    if (f->header & frames::kBodyFlag) return true;
  }
  return false;
}

// do/trace starting a session: the evaluation runs traced, the session ends however it ends.
// Outside any function a return or exit in the traced code ends the evaluation (its value, unset
// for exit, is the result): do's own frame is their target then.
void do_traced(const int32_t* refinements) {
  frames::Frame* const own = frames::top_frame();
  const bool body = !in_function_body();
  if (body) own->header |= frames::kBodyFlag;
  try {
    trace::start(*arg(refinements[3]));
    do_value(refinements);
  } catch (...) {
    trace::finish();
    throw;
  }
  if ((pending == rt::kThrowReturn || pending == rt::kThrowExit) && frames::top_frame() == own) {
    pending = 0;
    stack::keep();
  }
  if (frames::top_frame() == own) own->header &= ~frames::kBodyFlag;
  trace::finish();
}

// do/expand: the preprocessor's expand (a library function) rewrites the directives of the block
// in place before it is evaluated. Any other value has no directives to expand.
void expand_directives(const Cell& value) {
  const uint8_t type = cell::type_of(value);
  if (type != TYPE_BLOCK && type != TYPE_PAREN && type != TYPE_HASH) return;
  Cell* const base = stack::top;
  const Cell arguments[2] = {value, constants::none};
  interp::eval_text_with("preprocessor/expand", arguments);
  stack::top = base;
}

}  // namespace

// Refinements: /expand /args arg /next position /trace callback.
void do_(const int32_t* refinements) {
  if (refinements[0] >= 0) {
    expand_directives(*arg(0));
    if (pending) return;
  }
  if (refinements[3] >= 0 && !trace::session) return do_traced(refinements);
  do_value(refinements);
}

namespace {

// Where reduce and compose put their values: a new block, or the /into series, appended to or
// inserted at its position (which then advances).
struct Output {
  Cell* series;  // a stack cell
  bool insert;
};

Output open_output(const int32_t into, uint32_t capacity) {
  if (into >= 0) {
    Cell* out = arg(into);
    return {out, cell::series_index(*out) < cell_count(cell::series_node(*out))};
  }
  Cell* series = stack::push_copy(constants::none);
  block::init_empty(series, int32_t(capacity));
  return {series, false};
}

void add_value(Output& out, const Cell& value) {
  if (out.insert) {
    block::insert_value(*out.series, value, true, false);
  } else {
    block::append_cell(*out.series, value);
  }
}

}  // namespace

void reduce(const int32_t* refinements) {
  const Cell value = *arg(0);
  const int32_t into = refinements[0];
  if (into >= 0) plan::bump();  // the target may be a block some walk reads
  if (cell::type_of(value) != TYPE_BLOCK) {
    if (types::any_function(cell::type_of(value))) return stack::set_only_result(value);
    eval_single(value);
    if (pending) return;
    if (into < 0) return stack::set_only_result(*stack::top_cell());
    Output out = open_output(into, 1);
    add_value(out, *stack::top_cell());
    return stack::set_only_result(*out.series);
  }
  const Cell given_target = into >= 0 ? *arg(into) : Cell{};
  frames::mark_native(runtime_words::words.frame_body);
  stack::push_copy(value);  // the frame's arguments[0]: keeps the block alive
  Output out;
  if (into >= 0) {
    Cell* target = stack::push_copy(given_target);
    out = {target, cell::series_index(*target) < cell_count(cell::series_node(*target))};
  } else {
    // As many cells as values when the plan knows the count: a block of calls and operators
    // reduces to far fewer values than it has cells.
    const int32_t expressions = plan::expression_count(value);
    out = open_output(-1, uint32_t(expressions >= 0 ? expressions : block::rest_length(value)));
  }
  const uint32_t start_length = cell_count(cell::series_node(*out.series));
  interp::Feed feed{value, cell::series_index(value), interp::kToTail};
  while (interp::feed_cell(feed)) {
    if (trace::events || !plan::eval_statement(feed)) interp::eval_expression(feed, {.push = true});
    if (pending) return;
    // The value stays pushed while it is added: adding may grow the output.
    Cell* result = stack::top_cell();
    cell::clear_new_line_flag(result->header);
    add_value(out, *result);
    stack::pop_cells(1);
  }
  if (into >= 0 && !out.insert) {
    Cell target = *out.series;
    ownership::notify_owner(&target, "insert", &value,
                            int32_t(start_length - cell::series_index(target)),
                            int32_t(cell_count(cell::series_node(target)) - start_length));
  }
  const Cell result = *out.series;
  frames::unwind_drop();
  stack::set_only_result(result);
}

namespace {

void compose_block(Output& out, const Cell block, bool deep, bool only);

void compose_item(Output& out, const Cell item, bool deep, bool only) {
  switch (cell::type_of(item)) {
    case TYPE_BLOCK:
      if (!deep) return add_value(out, item);
      {
        Output nested{stack::push_copy(constants::none), false};
        block::init_empty(nested.series, block::rest_length(item));
        compose_block(nested, item, deep, only);
        if (pending) return;
        add_value(out, *nested.series);
        stack::pop_cells(1);
      }
      return;
    case TYPE_PAREN: {
      if (block::rest_length(item) <= 0) return;
      interp::eval_block(item, false);
      if (pending) return;
      // The value stays pushed while it is added: adding may grow the output.
      const Cell* result = stack::top_cell();
      if (cell::type_of(*result) == TYPE_BLOCK && !only) {
        for (uint32_t i = cell::series_index(*result); i < cell_count(cell::series_node(*result));
             i++) {
          add_value(out, cells_of(cell::series_node(*result))[i]);
        }
      } else if (cell::type_of(*result) != TYPE_UNSET) {
        add_value(out, *result);
      }
      stack::pop_cells(1);
      return;
    }
    default:
      add_value(out, item);
  }
}

// `block` is held while it is walked: a paren in it may clear the block it came from.
void compose_block(Output& out, const Cell block, bool deep, bool only) {
  gc::Guard walked(block);
  for (uint32_t i = cell::series_index(block); i < cell_count(cell::series_node(block)); i++) {
    compose_item(out, cells_of(cell::series_node(block))[i], deep, only);
    if (pending) return;
  }
}

}  // namespace

void compose(const int32_t* refinements) {
  const Cell value = *arg(0);
  if (cell::type_of(value) != TYPE_BLOCK) {
    Cell expected = cell::make_datatype(TYPE_BLOCK);
    Cell actual = cell::make_datatype(cell::type_of(value));
    rt::fire_error("script", "expect-val", &expected, &actual);
  }
  Output out = open_output(refinements[2], uint32_t(block::rest_length(value)));
  compose_block(out, value, refinements[0] >= 0, refinements[1] >= 0);
  if (pending) return;
  stack::set_only_result(*out.series);
}

void try_(const int32_t* refinements) {
  const Cell block = *arg(0);
  const bool all = refinements[0] >= 0;
  const bool keep = refinements[1] >= 0;
  Cell* const base = stack::top;
  const Cell position = interp::eval_position;
  if (all) {
    frames::mark_try_all(runtime_words::words.try_, keep);
  } else {
    frames::mark_try(runtime_words::words.try_, keep);
  }
  try {
    interp::eval_block(block, true);
  } catch (const rt::Throw& t) {
    if (t.code != rt::kThrowError) throw;
    Cell error = *stack::top_cell();  // the try frame is gone; the error is the newest cell
    stack::top = base;
    // The evaluations the error cut short left their position behind: this one is current.
    interp::eval_position = position;
    if (keep) frames::capture_trace(&error);
    return stack::set_only_result(error);
  }
  if (pending) return;
  const Cell result = *arg(0);
  frames::unwind_drop();
  stack::set_only_result(result);
}

namespace {

// Whether a throw's name matches the /name refinement's word or block of words.
bool name_matches(const Cell& thrown_name, const Cell& wanted) {
  if (cell::type_of(wanted) != TYPE_BLOCK) {
    return word::is_word_named(thrown_name, word::symbol_of(wanted));
  }
  bool found = false;
  for (uint32_t i = cell::series_index(wanted); i < cell_count(cell::series_node(wanted)); i++) {
    const Cell& word = cells_of(cell::series_node(wanted))[i];
    if (cell::type_of(word) != TYPE_WORD) {
      Cell refinement = word::from_c_string("name");
      Cell block = wanted;
      rt::fire_error("script", "invalid-refine-arg", &refinement, &block);
    }
    if (word::is_word_named(thrown_name, word::symbol_of(word))) found = true;
  }
  return found;
}

}  // namespace

void catch_(const int32_t* refinements) {
  const Cell block = *arg(0);
  frames::mark_catch(runtime_words::words.frame_body);
  interp::eval_block(block, true);
  if (pending && pending != rt::kThrowThrow) return;
  if (!pending) {
    const Cell result = *arg(0);
    frames::unwind_drop();
    return stack::set_only_result(result);
  }
  // A throw: the catch frame is innermost, holding the value and its name.
  const Cell thrown = *arg(0);
  const Cell name = *arg(1);
  frames::unwind_drop();
  pending = 0;
  if (refinements[0] < 0 || name_matches(name, *arg(refinements[0]))) {
    frames::clear_throwing_frame();
    stack::set_only_result(thrown);
    trace::fire_if(trace::kCatch, nullptr, trace::kNoPosition, nullptr, arg(0));
    return;
  }
  // On to the next catch outward, from this native's frame.
  stack::reset();
  stack::push_copy(thrown);
  stack::push_copy(name);
  frames::exit_throw();
}

void throw_(const int32_t* refinements) {
  trace::fire_if(trace::kThrow, nullptr, trace::kNoPosition, nullptr, arg(0));
  if (refinements[0] < 0) {
    stack::keep();
    stack::push_copy(constants::unset);
  }
  frames::exit_throw();
}

void break_(const int32_t* refinements) { frames::exit_break(refinements[0] >= 0, false); }
void continue_(const int32_t*) { frames::exit_break(false, true); }
void exit_(const int32_t*) { frames::exit_return(false); }
void return_(const int32_t*) { frames::exit_return(true); }

void apply(const int32_t* refinements) {
  const Cell given = *arg(0);
  Cell function = given;
  Cell name = runtime_words::words.frame_applied;
  Cell path{};
  const Cell* path_ptr = nullptr;
  switch (cell::type_of(given)) {
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
      function = *context::word_value_cell(given);
      name = given;
      name.header = TYPE_WORD;
      break;
    case TYPE_PATH: {
      path = given;
      path_ptr = &path;
      if (block::rest_length(given) <= 0) rt::fire_error("script", "invalid-arg", &given);
      const Cell head = cells_of(cell::series_node(given))[cell::series_index(given)];
      if (cell::type_of(head) != TYPE_WORD) rt::fire_error("script", "invalid-arg", &given);
      function = *context::word_value_cell(head);
      name = head;
      break;
    }
    default:
      break;
  }
  if (!types::any_function(cell::type_of(function))) {
    rt::fire_error("script", "invalid-arg", &given);
  }
  if (cell::type_of(function) == TYPE_OP) function = native::unwrap_op(function);
  frames::set_interp_flag();
  interp::Feed feed{*arg(1), cell::series_index(*arg(1)), interp::kToTail};
  interp::CallSite site;
  site.path = path_ptr;
  site.first_refinement = 1;
  site.name = &name;
  site.mode = uint32_t(refinements[0] >= 0 ? interp::kApplyAll : interp::kApply) |
              uint32_t(refinements[1] >= 0 ? interp::kSafer : interp::kOrdinary);
  site.push = true;
  interp::call(function, feed, site);
  if (pending) return;
  stack::set_only_result(*stack::top_cell());
}

void wait(const int32_t*) {
  const Cell value = *arg(0);
  double seconds;
  switch (cell::type_of(value)) {
    case TYPE_INTEGER: seconds = integer::get_value(value); break;
    case TYPE_FLOAT: case TYPE_TIME: seconds = cell::get_double(value); break;
    default: rt::fire_error("script", "invalid-arg", &value);
  }
  stack::set_only_result(constants::none);
  platform::sleep(seconds);
}

namespace {

// A /part limit: an integer! length, or a position in a series of the source's datatype.
int64_t transcode_length(const Cell& source, int64_t rest, const int32_t part) {
  if (part < 0) return rest;
  const Cell limit = *arg(part);
  int64_t length = rest;
  if (cell::type_of(limit) == TYPE_INTEGER) {
    length = integer::get_value(limit);
  } else if (cell::type_of(limit) == TYPE_STRING || cell::type_of(limit) == TYPE_BINARY) {
    if (cell::type_of(limit) != cell::type_of(source)) {
      rt::fire_error("script", "not-same-type");
    }
    length = int64_t(cell::series_index(limit)) - int64_t(cell::series_index(source));
  }
  return length < 0 ? 0 : length > rest ? rest : length;
}

}  // namespace

// Refinements: /next /one /prescan /scan /part length /into dst /trace callback.
void transcode(const int32_t* refinements) {
  const bool next = refinements[0] >= 0, one = refinements[1] >= 0;
  const bool prescan = refinements[2] >= 0, scan = refinements[3] >= 0;
  Cell source = *arg(0);
  const bool is_binary = cell::type_of(source) == TYPE_BINARY;
  alloc::Series* s = alloc::series_of(cell::series_node(source));
  int64_t rest = int64_t(s->used() / s->unit()) - int64_t(cell::series_index(source));
  if (rest < 0) rest = 0;
  int64_t length = transcode_length(source, rest, refinements[4]);
  if (is_binary && length >= 3) {
    const uint8_t* bytes = s->head_ptr() + cell::series_index(source);
    if (bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
      cell::set_series_index(source, cell::series_index(source) + 3);
      length -= 3;
    }
  }
  lexer::Mode mode;
  mode.one = next || one || scan;
  mode.prescan = prescan;
  mode.load = !prescan && !scan;
  mode.trace = refinements[6] >= 0 ? arg(refinements[6]) : nullptr;
  Cell* into = refinements[5] >= 0 ? arg(refinements[5]) : nullptr;
  Cell* result = stack::push_copy(constants::none);
  const bool pair = next && (!one || scan);
  Cell* out = result;
  if (pair) {
    block::init_empty(result, 2);
    block::append_cell(*result, constants::none);
    block::append_cell(*result, constants::none);
    out = stack::push_copy(constants::none);
  }
  size_t consumed = 0;
  uint8_t code;
  if (is_binary) {
    // Scanned from a copy: loading values (and a trace callback) may move the binary's buffer.
    const uint8_t* head = alloc::series_of(cell::series_node(source))->head_ptr();
    const std::vector<uint8_t> bytes(head + cell::series_index(source),
                                     head + cell::series_index(source) + length);
    code = lexer::scan(out, bytes.data(), bytes.size(), mode, &consumed, &source, into);
  } else {
    code = lexer::scan_string(out, source, length, mode, &consumed, into);
  }
  if (prescan || scan) {
    *out = length == 0 || code == 0
               ? constants::none
               : cell::make_datatype(int8_t(code) < 0 ? uint8_t(TYPE_ERROR) : code);
  }
  if (pair) {
    Cell advanced = source;
    cell::set_series_index(advanced, cell::series_index(advanced) + uint32_t(consumed));
    Cell* cells = cells_of(cell::series_node(*result));
    cells[0] = *out;
    cells[1] = advanced;
  }
  stack::set_only_result(into ? *into : *result);
}

}  // namespace natives
