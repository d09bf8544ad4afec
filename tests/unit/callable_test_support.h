// Test helper for the suites over callables and their kin (native!, action!, op!, function!,
// routine!, the paths): a fixture on top of the word suites' one that calls make, to, reflect and
// compare as their dispatchers do, and makes functions from spec and body texts. Results stay on
// the data stack, so they are rooted under ZEL_GC_STRESS=1.
#pragma once
#include "word_test_support.h"
#include "datatypes/function.h"

namespace callable_test {

class CallableTest : public word_test::WordTest {
 protected:
  // make (or to) of the type from the spec, given a datatype! prototype: the result cell.
  template <action::Slot S = action::MAKE>
  static Cell* make_value(uint8_t type, const Cell& spec) {
    Cell* proto = stack::push_copy(Cell{TYPE_DATATYPE, type, 0, 0});
    Cell* arg = stack::push_copy(spec);
    return datatype::lookup<S>(type)(proto, arg, type);
  }
  // A function! from the texts of its spec and body, not validated.
  static Cell* function_of(const char* spec, const char* body) {
    Cell* s = build(spec);
    Cell* b = build(body);
    return function::make_function_value(*s, *b, 0, 0, 0, 0);
  }
  static Cell reflect(const Cell& value, const char* field) {
    Cell* result = stack::push_copy(value);
    datatype::lookup<action::REFLECT>(cell::type_of(value))(result, sym(field));
    return *result;
  }
  static int32_t compare(const Cell& a, const Cell& b, int32_t op) {
    Cell x = a, y = b;
    return datatype::lookup<action::COMPARE>(cell::type_of(a))(&x, &y, op);
  }
};

}  // namespace callable_test
