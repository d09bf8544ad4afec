// The boot image: building it from the library's sources (zelboot) and binding the library from
// it at start-up. The layout is in boot_image.h.
//
// Rooting: the builder runs with the collector off (nothing it makes is collected or moved by a
// collection; a series that grows still moves, so cells are read again by index after each
// allocation). At start-up the decoded values live in the root block, a collector root; its
// cells are read again by index after every evaluation.
#include "boot/boot_image.h"

#include <string>
#include <string_view>

#include "boot/system_values.h"
#include "datatypes/block.h"
#include "datatypes/cell_ops.h"
#include "datatypes/constants.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/call.h"
#include "interpreter/eval.h"
#include "library/routines.h"
#include "io/zelbin.h"
#include "lexer/lexer.h"
#include "runtime/alloc.h"
#include "runtime/gc.h"
#include "runtime/throw.h"

namespace boot_image {

namespace {

using cell::cell_count;
using cell::cells_of;
using cell::series_node;
using cell::type_of;

std::string_view spelling(uint32_t symbol) {
  alloc::Series* s = alloc::series_of(symbol::utf8_node_of(*symbol::get_cell(symbol)));
  return {reinterpret_cast<const char*>(s->head_ptr()), s->used()};
}

// The routine a routine definition's word names; raises script/no-value when none is registered.
int32_t routine_of(const Cell& word) {
  const int32_t entry = routines::entry_of(spelling(word::symbol_of(word)));
  if (!entry) rt::fire_error("script", "no-value", &word);
  return entry;
}

// Sets the collector's switch for a scope and puts it back, also when an error leaves it.
class CollectorOff {
 public:
  CollectorOff() : was_(gc::enabled) { gc::enabled = false; }
  ~CollectorOff() { gc::enabled = was_; }

 private:
  bool was_;
};

// --- Building ----------------------------------------------------------------------------------

enum class Maker { kFunc, kFunction, kDoes, kHas, kRoutine };

class Builder {
 public:
  Builder();
  void add_source(const Source& source);
  std::vector<uint8_t> finish();

 private:
  struct Words {
    uint32_t make, native, action, typeset, func, function, does, has, routine;
  };
  Words words_;
  zelbin::BootWriter writer_;
  // On the data stack, which never moves: the plan and the code gathered since the last root.
  Cell* plan_;
  Cell* segment_;

  bool is_word(const Cell& value, uint32_t symbol) const {
    return type_of(value) == TYPE_WORD && symbol::same_canonical(word::symbol_of(value), symbol);
  }
  void add_datatype_words();
  // Each returns the cells the definition at i of the source takes, 0 when there is none.
  uint32_t define_pair(uint32_t node, uint32_t i);
  uint32_t define_function(uint32_t node, uint32_t i);
  void flush_segment();
  void plan_step(const Cell* word, uint32_t root);
};

Builder::Builder() {
  words_ = {symbol::intern_c_string("make"),     symbol::intern_c_string("native!"),
            symbol::intern_c_string("action!"),  symbol::intern_c_string("typeset!"),
            symbol::intern_c_string("func"),     symbol::intern_c_string("function"),
            symbol::intern_c_string("does"),     symbol::intern_c_string("has"),
            symbol::intern_c_string("routine")};
  plan_ = block::push_new(64);
  segment_ = block::push_new(64);
  add_datatype_words();
}

// Every datatype's word holds it, but the internal kinds without a word of the language.
// datatype! is among them: the natives' argument checks, made as the image is decoded, read it.
void Builder::add_datatype_words() {
  for (uint8_t type = 1; type <= datatype::highest_type(); type++) {
    if (!datatype::name_of(type) || type == TYPE_SYMBOL || type == TYPE_CONTEXT ||
        type == TYPE_SERIES) {
      continue;
    }
    Cell word = *datatype::name_word(type);
    const Cell value = cell::make_datatype(type);
    context::write_word(word, value);  // for the typesets computed here
    writer_.set_word(word::symbol_of(word), value);
  }
}

void Builder::plan_step(const Cell* word, uint32_t root) {
  if (word) block::append_cell(*plan_, *word);
  block::append_cell(*plan_, integer::make(int32_t(root)));
}

void Builder::flush_segment() {
  if (!cell_count(series_node(*segment_))) return;
  plan_step(nullptr, writer_.add_root(*segment_));
  *segment_ = Cell{TYPE_NONE, 0, 0, 0};
  block::init_empty(segment_, 64);
}

// `word: make native! [[spec] index]`, `word: make action! [[spec] slot]` and
// `word: make typeset! [types]`: global set-word pairs.
uint32_t Builder::define_pair(uint32_t node, uint32_t i) {
  if (i + 3 >= cell_count(node)) return 0;
  const Cell name = cells_of(node)[i];
  const Cell maker = cells_of(node)[i + 1];
  const Cell type = cells_of(node)[i + 2];
  Cell spec = cells_of(node)[i + 3];
  if (!is_word(maker, words_.make) || type_of(spec) != TYPE_BLOCK) return 0;
  if (is_word(type, words_.typeset)) {
    Cell typeset_type = cell::make_datatype(TYPE_TYPESET);
    const Cell typeset = *datatype::lookup<action::MAKE>(TYPE_TYPESET)(&typeset_type, &spec,
                                                                       TYPE_TYPESET);
    Cell word = name;
    context::write_word(word, typeset);  // for the typesets after it
    writer_.set_word(word::symbol_of(name), typeset);
    return 4;
  }
  const bool native = is_word(type, words_.native);
  if (!native && !is_word(type, words_.action)) return 0;
  // [[spec] number]
  const uint32_t parts = series_node(spec);
  if (cell_count(parts) != 2 || type_of(cells_of(parts)[0]) != TYPE_BLOCK ||
      type_of(cells_of(parts)[1]) != TYPE_INTEGER) {
    rt::fire_error("script", "invalid-arg", &spec);
  }
  writer_.set_callable(word::symbol_of(name), native ? TYPE_NATIVE : TYPE_ACTION,
                       uint32_t(integer::get_value(cells_of(parts)[1])), cells_of(parts)[0]);
  return 4;
}

// `word: func spec body` (function, has, routine) or `word: does body`: a library function or
// routine, made by the binding plan.
uint32_t Builder::define_function(uint32_t node, uint32_t i) {
  const uint32_t count = cell_count(node);
  if (i + 2 >= count) return 0;
  const Cell name = cells_of(node)[i];
  const Cell maker_word = cells_of(node)[i + 1];
  Maker maker;
  if (is_word(maker_word, words_.func)) maker = Maker::kFunc;
  else if (is_word(maker_word, words_.function)) maker = Maker::kFunction;
  else if (is_word(maker_word, words_.does)) maker = Maker::kDoes;
  else if (is_word(maker_word, words_.has)) maker = Maker::kHas;
  else if (is_word(maker_word, words_.routine)) maker = Maker::kRoutine;
  else return 0;
  const uint32_t taken = maker == Maker::kDoes ? 3 : 4;
  if (i + taken > count) return 0;
  for (uint32_t k = i + 2; k < i + taken; k++) {
    if (type_of(cells_of(node)[k]) != TYPE_BLOCK) return 0;
  }
  const Cell first = cells_of(node)[i + 2];
  const Cell body = maker == Maker::kDoes ? first : cells_of(node)[i + 3];

  // The spec as the function maker would make it.
  Cell* spec;
  switch (maker) {
    case Maker::kDoes: spec = block::push_new(1); break;
    case Maker::kFunction:
      spec = block::push_clone(first, false, false);
      function::collect_local_words(*spec, body);
      break;
    case Maker::kHas:
      spec = block::push_clone(first, false, false);
      block::insert_value(*spec, runtime_words::refinements.local, false, true);
      break;
    default: spec = stack::push_copy(first); break;
  }
  function::validate_spec(*spec);

  flush_segment();
  if (maker == Maker::kRoutine) {
    routine_of(name);
    plan_step(&name, writer_.add_root(*spec));
    writer_.add_root(body);
  } else {
    const uint32_t context = context::make_from_spec(*spec, true, false, context::kFunction);
    context::bind_block(body, context, false);
    plan_step(&name, writer_.add_context(context));
    writer_.add_root(*spec);
    writer_.add_root(body);
  }
  return taken;
}

void Builder::add_source(const Source& source) {
  Cell* code = stack::push_new();
  *code = Cell{TYPE_NONE, 0, 0, 0};
  lexer::scan(code, reinterpret_cast<const uint8_t*>(source.text.data()), source.text.size(),
              lexer::Mode{}, nullptr, nullptr, nullptr);
  interp::skip_header(code);
  const uint32_t node = series_node(*code);
  for (uint32_t i = cell::series_index(*code); i < cell_count(node);) {
    if (type_of(cells_of(node)[i]) == TYPE_SET_WORD) {
      uint32_t taken = define_pair(node, i);
      if (!taken) taken = define_function(node, i);
      if (taken) {
        i += taken;
        continue;
      }
    }
    block::append_cell(*segment_, cells_of(node)[i]);
    i++;
  }
  flush_segment();
}

std::vector<uint8_t> Builder::finish() {
  writer_.add_root(*plan_);
  return writer_.stream();
}

// --- Binding -----------------------------------------------------------------------------------

// Pushes the library function whose context, spec and body are roots n, n + 1, n + 2.
void make_function(uint32_t first_root, uint32_t n) {
  const Cell* roots = cells_of(runtime_words::root_block) + first_root + n;
  const Cell context = roots[0], spec = roots[1], body = roots[2];
  // The decoded body is the function's own (bound to its context when the image was made):
  // it goes in as it is, not as the deep copy the maker takes of a body given to it.
  Cell* made = function::make_function_value(spec, constants::none, object::context_of(context),
                                             0, 0, function::spec_attributes(series_node(spec)));
  cells_of(function::internals_of(*made))[function::kBody] = body;
}

// Pushes the routine whose spec and body are roots n, n + 1 and whose C++ body is the library's
// routine of the word's name.
void make_routine(uint32_t first_root, uint32_t n, const Cell& word) {
  const int32_t entry = routine_of(word);
  const Cell* roots = cells_of(runtime_words::root_block) + first_root + n;
  const Cell spec = roots[0], body = roots[1];
  function::make_routine_value(spec, body, uint32_t(entry), 0, true);
}

// The actions without a word of their own (the path step and compare): their specs are given
// here so that an action! made for their slots takes what their dispatchers read: the path step's
// value, element and, with /set, the value to store; compare's operator code. Kept as the slots'
// signatures only.
struct UnnamedAction {
  action::Slot slot;
  const char* spec;  // the parameter block of its make spec
};
constexpr UnnamedAction kUnnamedActions[] = {
    {action::EVAL_PATH, "[value [any-type!] element [any-type!] /set new [any-type!]]"},
    {action::COMPARE, "[value1 [any-type!] value2 [any-type!] op [integer!]]"},
};

void make_unnamed_actions() {
  for (const UnnamedAction& action : kUnnamedActions) {
    const std::string text = std::string(action.spec) + " " + std::to_string(action.slot);
    Cell* spec = stack::push_new();
    *spec = Cell{TYPE_NONE, 0, 0, 0};
    lexer::scan(spec, reinterpret_cast<const uint8_t*>(text.data()), text.size(), lexer::Mode{},
                nullptr, nullptr, nullptr);
    Cell action_type = cell::make_datatype(TYPE_ACTION);
    native::make(&action_type, spec, TYPE_ACTION);
    stack::reset();
  }
}

}  // namespace

std::vector<uint8_t> build(const std::vector<Source>& sources) {
  CollectorOff collector_off;
  Cell* const top = stack::top;
  Builder builder;
  for (const Source& source : sources) builder.add_source(source);
  std::vector<uint8_t> image = builder.finish();
  stack::top = top;
  return image;
}

uint32_t decode(const uint8_t* image) {
  const uint32_t first = cell_count(runtime_words::root_block);
  zelbin::load_boot(image, true);
  return first;
}

void run(uint32_t first_root, uint32_t roots) {
  Cell* const top = stack::top;
  const uint32_t plan_root = roots - 1;
  auto root = [first_root](uint32_t n) { return cells_of(runtime_words::root_block)[first_root + n]; };
  const uint32_t plan = series_node(root(plan_root));
  for (uint32_t i = 0; i < cell_count(plan); i++) {
    const Cell step = cells_of(plan)[i];
    if (type_of(step) == TYPE_INTEGER) {
      interp::eval_block(root(uint32_t(integer::get_value(step))), false);
    } else {
      Cell word = step;
      const uint32_t n = uint32_t(integer::get_value(cells_of(plan)[++i]));
      if (type_of(root(n)) == TYPE_OBJECT) {
        make_function(first_root, n);
      } else {
        make_routine(first_root, n, word);
      }
      const Cell value = *stack::top_cell();
      object::write_word(word, value);
    }
    stack::top = top;
  }
}

void load(const uint8_t* image) {
  // What the image defines is trusted: each native's and action's definition becomes its slot's
  // signature, through which the values made later for that slot are called.
  interp::start_signatures();
  zelbin::load_boot(image, false);
  const uint32_t roots = cell_count(runtime_words::root_block) - zelbin::root_literals;
  make_unnamed_actions();
  interp::seal_signatures();
  gc::enabled = true;
  boot::define_system_values();
  // The routines' C++ bodies, which the image's routine definitions name, before its plan runs.
  routines::define();
  run(zelbin::root_literals, roots);
  routines::bind_fields();
  boot::fill_process_fields();
}

}  // namespace boot_image
