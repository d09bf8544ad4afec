// The global words object, the null handle and system/script/args (boot/system_values.h).
#include "boot/system_values.h"

#include "datatypes/cell_ops.h"
#include "datatypes/context.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/os.h"
#include "datatypes/stack.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "interpreter/call.h"

namespace boot {

void define_system_values() {
  // One cell stored as the global context's owner, so that the context and system/words are one
  // object.
  constexpr uint32_t kNoClass = 0xFFFFFFFF;
  Cell words{TYPE_OBJECT, 0, 0, 0};
  object::set_context(words, context::global);
  object::set_class(words, kNoClass);
  *context::owner_cell(context::global) = words;

  // A handle! has no literal form.
  Cell word = word::from_c_string("null-handle");
  context::write_word(word, handle::make(0, 0));
}

void fill_process_fields() {
  const Cell script = object::system_field({symbol::intern_c_string("script")});
  if (cell::type_of(script) != TYPE_OBJECT) return;
  Cell* top = stack::top;
  Cell* line = os::command_line();
  Cell word = word::from_c_string("args");
  if (context::bind_word(object::context_of(script), word) >= 0) {
    context::write_word(word, *line);
  }
  // The library splits the line into system/options/boot and args.
  const Cell splitter = word::from_c_string("extract-boot-args");
  const Cell* function = word::push_value(splitter);
  if (cell::type_of(*function) == TYPE_FUNCTION) interp::call_function(splitter, *function, {});
  stack::top = top;
}

}  // namespace boot
