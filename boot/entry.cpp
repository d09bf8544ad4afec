// The entry code: the low-level start, then the runtime's modules in their fixed order, then the
// program, all under the root catch site that turns a stray throw into fatal error kFatalNoCatch.
// The boot image comes in at boot/startup.cpp, so that zelboot, which makes it, links without it.
#include "boot/entry.h"

#include "datatypes/context.h"
#include "datatypes/cycles.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/ownership.h"
#include "datatypes/runtime_words.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "interpreter/dispatch.h"
#include "interpreter/eval.h"
#include "interpreter/frames.h"
#include "interpreter/natives.h"
#include "interpreter/plan.h"
#include "lexer/lexer.h"
#include "platform/os/platform.h"
#include "runtime/alloc.h"
#include "runtime/extres.h"
#include "runtime/fatal.h"
#include "runtime/gc.h"
#include "runtime/print.h"
#include "runtime/rng.h"
#include "runtime/slot_pool.h"
#include "runtime/throw.h"

namespace boot {

namespace {
void (*init_to_run)() = nullptr;
int (*program_to_run)() = nullptr;

int run_program() {
  int status = 0;
  try {
    init_to_run();
    status = program_to_run();
  } catch (const rt::Throw&) {
    rt::uncaught_throw();
  }
  rt::free_at_exit();
  return status;
}
}  // namespace

void start(int argc, char** argv) { rt::start(argc, argv); }

void init_modules() {
  gc::enabled = false;  // nothing collects while the roots are being made
  rt::init_hooks();
  platform::init();
  rng::init();
  alloc::init();
  extres::init();
  datatype::register_all();
  cycles::init();
  runtime_words::init_root_block();
  stack::init();
  frames::init();
  lexer::init();
  symbol::init();
  context::init();
  datatype::make_name_words();
  runtime_words::init();
  error::init();  // the catalog
  ownership::init();
  slot_pool::init();
  gc::init();
  interp::init();  // the upcalls and the raiser that builds errors from the catalog
  natives::init();
  // A runtime started again in the same process (a test's child) must not keep the plans of
  // blocks of the former heap: the first collection would look their nodes up.
  plan::clear();
}

int run(int argc, char** argv, void (*init)(), int (*program)()) {
  start(argc, argv);
  init_to_run = init;
  program_to_run = program;
  return rt::run_on_interpreter_stack(run_program);
}

}  // namespace boot
