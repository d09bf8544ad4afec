// Code that C++ asks the language to run, written as source text: `code` followed by values,
// each quoted so that it stays data (a paren, a function, a routine) where it lands.
#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/constants.h"
#include "datatypes/stack.h"
#include "datatypes/word.h"
#include "interpreter/eval.h"
#include "lexer/lexer.h"

namespace interp {

Cell* eval_text_with(std::string_view code, std::span<const Cell> values) {
  Cell* block = stack::push_copy(constants::none);
  lexer::scan(block, reinterpret_cast<const uint8_t*>(code.data()), code.size(), lexer::Mode{},
              nullptr, nullptr, nullptr);
  const Cell quote = word::from_c_string("quote");
  for (const Cell& value : values) {
    block::append_cell(*block, quote);
    block::append_cell(*block, value);
  }
  eval_block(*block, false);
  return stack::top_cell();
}

}  // namespace interp
