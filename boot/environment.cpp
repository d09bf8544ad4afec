// Start-up of the language environment: `make` is defined here, as the action every source uses
// to define the others; then each embedded source is loaded and evaluated in the global context.
#include "boot/environment.h"

#include <cstring>
#include <string>

#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/native.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/call.h"
#include "interpreter/eval.h"
#include "lexer/lexer.h"
#include "library/routines.h"
#include "runtime/gc.h"

namespace boot {

namespace {

struct ActionSpec {
  action::Slot slot;
  const char* spec;  // the parameter block of its make spec
};

constexpr ActionSpec kMake{
    action::MAKE,
    "[\"Returns a new value made from a spec for that value's type\""
    " type \"The datatype, an example or prototype value\""
    " spec \"What the new value is made from\"]"};

// The path step and compare are actions without a word of their own. Their specs are given here
// so that an action! made for their slots takes what their dispatchers read: the path step's
// value, element and, with /set, the value to store; compare's operator code.
constexpr ActionSpec kUnnamedActions[] = {
    {action::EVAL_PATH, "[value [any-type!] element [any-type!] /set new [any-type!]]"},
    {action::COMPARE, "[value1 [any-type!] value2 [any-type!] op [integer!]]"},
};

// An action! from its make spec [parameters slot], left on the data stack.
Cell make_action(const ActionSpec& action) {
  const std::string text = std::string(action.spec) + " " + std::to_string(action.slot);
  Cell* spec = stack::push_new();
  *spec = Cell{TYPE_NONE, 0, 0, 0};
  lexer::scan(spec, reinterpret_cast<const uint8_t*>(text.data()), text.size(), lexer::Mode{},
              nullptr, nullptr, nullptr);
  Cell action_type{TYPE_DATATYPE, TYPE_ACTION, 0, 0};
  return *native::make(&action_type, spec, TYPE_ACTION);
}

void define_make() {
  const Cell make = make_action(kMake);
  Cell word = word::from_c_string(action::name(kMake.slot));
  context::write_word(word, make);
  stack::reset();
}

// Each datatype's name word holds the datatype.
void define_datatype_words() {
  for (uint8_t type = 1; type <= datatype::highest_type(); type++) {
    if (!datatype::name_of(type)) continue;
    Cell word = *datatype::name_word(type);
    context::write_word(word, Cell{TYPE_DATATYPE, type, 0, 0});
  }
}

}  // namespace

void load_environment() {
  // What start-up defines is trusted: each native's and action's definition becomes its slot's
  // signature, through which the values made later for that slot are called.
  interp::start_signatures();
  define_datatype_words();
  define_make();
  routines::define();
  for (int i = 0; i < environment_source_count; i++) {
    const char* text = environment_sources[i].text;
    Cell* code = stack::push_new();
    *code = Cell{TYPE_NONE, 0, 0, 0};
    lexer::scan(code, reinterpret_cast<const uint8_t*>(text), std::strlen(text), lexer::Mode{},
                nullptr, nullptr, nullptr);
    interp::skip_header(code);
    interp::eval_block(*code, false);
    stack::reset();
  }
  for (const ActionSpec& action : kUnnamedActions) {  // kept as signatures only
    make_action(action);
    stack::reset();
  }
  interp::seal_signatures();
}

}  // namespace boot
