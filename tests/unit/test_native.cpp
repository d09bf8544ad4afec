// native!, action! and op!: making them from specs (index range, operator specs), the context of
// argument names, reflection, printing, comparison, and what the collector keeps of them.
#include "callable_test_support.h"
#include "datatypes/native.h"
#include "interpreter/frames.h"

namespace {

class Native : public callable_test::CallableTest {
 protected:
  static Cell* native_of(const char* make_spec, uint8_t type = TYPE_NATIVE) {
    return make_value(type, *build(make_spec));
  }
};

TEST_F(Native, MakeChecksTheSpecAndTheIndexRange) {
  struct Case {
    const char* spec;
    uint8_t type;
    const char* error;
  } cases[] = {
      {"[a b] 1", TYPE_NATIVE, ""},
      {"[a] 120", TYPE_NATIVE, ""},
      {"[a] 121", TYPE_NATIVE, "script/bad-make-arg"},
      {"[a] 0", TYPE_NATIVE, "script/bad-make-arg"},
      {"[a] -1", TYPE_NATIVE, "script/bad-make-arg"},
      {"[a] 62", TYPE_ACTION, ""},
      {"[a] 63", TYPE_ACTION, "script/bad-make-arg"},
      {"[a]", TYPE_NATIVE, "script/bad-make-arg"},
      {"[a] 1 2", TYPE_NATIVE, "script/bad-make-arg"},
      {"a 1", TYPE_NATIVE, "script/bad-make-arg"},
      {"[a] b", TYPE_ACTION, "script/bad-make-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(raised_by([&] { native_of(c.spec, c.type); }), c.error) << c.spec;
  }
  EXPECT_EQ(raised_by([&] { make_value(TYPE_NATIVE, integer(1)); }), "script/bad-make-arg");
}

TEST_F(Native, KeepsItsIndexSpecAndTheNamesOfItsArguments) {
  Cell* n = native_of("[value /part length /only] 120");
  EXPECT_EQ(cell::type_of(*n), TYPE_NATIVE);
  EXPECT_EQ(n->w1, 120u);
  EXPECT_EQ(mold(reflect(*n, "spec")), "[value /part length /only]");
  Cell body = reflect(*n, "body");
  EXPECT_EQ(cell::type_of(body), TYPE_INTEGER);
  EXPECT_EQ(body.w2, 120u);
  gc::collect();  // the context is held by nothing but the native
  gc::verify();
  uint32_t names = native::arg_context(*n);
  EXPECT_EQ(context::word_count(names), 4u);
  for (const char* name : {"value", "part", "length", "only"}) {
    EXPECT_GE(context::find_symbol(names, sym(name), true), 0) << name;
  }
  EXPECT_EQ(raised_by([&] { reflect(*n, "words"); }), "internal/not-done");
}

TEST_F(Native, ASpecPositionedPastItsStartIsKeptFromItsHead) {
  Cell* make_spec = build("[skipped a b] 3");
  cell::block_head(*make_spec)->w1 = 1;
  Cell* n = make_value(TYPE_NATIVE, *make_spec);
  EXPECT_EQ(mold(reflect(*n, "spec")), "[a b]");
  EXPECT_EQ(context::word_count(native::arg_context(*n)), 2u);
}

TEST_F(Native, OpAcceptsExactlyTwoArguments) {
  struct Case {
    const char* spec;
    const char* error;
  } cases[] = {
      {"a b", ""},
      {"a \"doc\" b [integer!]", ""},
      {"a 'b", ""},
      {"a b /local c", ""},
      {"a b /extern c", ""},
      {"a b return: [integer!] c", ""},
      {"a b c", "script/bad-op-spec"},
      {"a", "script/bad-op-spec"},
      {"a b /only", "script/bad-op-spec"},
      {"'a b", "script/bad-op-spec"},
      {":a b", "script/bad-op-spec"},
  };
  for (const Case& c : cases) {
    Cell* f = function_of(c.spec, "a");
    EXPECT_EQ(raised_by([&] { make_value(TYPE_OP, *f); }), c.error) << c.spec;
    Cell* n = make_value(TYPE_NATIVE, *build((std::string("[") + c.spec + "] 5").c_str()));
    EXPECT_EQ(raised_by([&] { make_value(TYPE_OP, *n); }), c.error) << c.spec;
  }
  EXPECT_EQ(raised_by([&] { make_value(TYPE_OP, integer(1)); }), "script/invalid-type");
  Cell* op = make_value(TYPE_OP, *native_of("[a b] 25"));
  EXPECT_EQ(raised_by([&] { make_value(TYPE_OP, *op); }), "script/invalid-type");
}

TEST_F(Native, OpOverAFunctionCallsItUnchanged) {
  Cell* f = function_of("a b", "a");
  f->header |= function::kTrace;
  Cell* op = make_value(TYPE_OP, *f);
  EXPECT_EQ(cell::type_of(*op), TYPE_OP);
  EXPECT_EQ(native::wrapped_type(*op), TYPE_FUNCTION);
  Cell callable = native::unwrap_op(*op);
  EXPECT_EQ(callable.header, f->header);  // the trace attribute survives the wrapping
  EXPECT_EQ(callable.w1, f->w1);
  EXPECT_EQ(callable.w3, f->w3);
  const Cell* more = cell::block_head(Cell{TYPE_BLOCK, 0, f->w3, 0});
  EXPECT_EQ(cell::type_of(more[function::kOpCopy]), TYPE_FUNCTION);
  EXPECT_EQ(more[function::kOpCopy].w3, f->w3);
  EXPECT_EQ(mold(reflect(*op, "body")), "[a]");
  EXPECT_EQ(mold(reflect(*op, "spec")), "[a b]");

  Cell* n = native_of("[a b] 25");
  Cell* over_native = make_value(TYPE_OP, *n);
  EXPECT_EQ(reflect(*over_native, "body").w2, 25u);
  EXPECT_EQ(native::unwrap_op(*over_native).header, uint32_t(TYPE_NATIVE));
}

TEST_F(Native, FormAndMold) {
  Cell* over_routine = make_value(
      TYPE_OP, *function::make_routine_value(*build("a b"), constants::none, 7, 0, false));
  struct Case {
    Cell value;
    const char* molded;
    const char* formed;
  } cases[] = {
      {*native_of("[a b] 1"), "make native! [[a b]]", "?native?"},
      {*native_of("[series /part n] 2", TYPE_ACTION), "make action! [[series /part n]]",
       "?action?"},
      {*make_value(TYPE_OP, *native_of("[a b] 3")), "make op! [[a b]]", "?op?"},
      {*make_value(TYPE_OP, *function_of("x y", "x + y")), "make op! func [x y][x + y]",
       "?op?"},
      {*over_routine, "make op! [[a b]]", "?op?"},
  };
  frames::Frame* frames_before = frames::frame_top;
  for (const Case& c : cases) {
    EXPECT_EQ(mold(c.value), c.molded);
    EXPECT_EQ(form(c.value), c.formed);
  }
  EXPECT_EQ(frames::frame_top, frames_before);  // the <anon> frame of an op's mold is gone
}

TEST_F(Native, ComparesByEntry) {
  Cell a1 = *native_of("[a] 4");
  Cell a2 = *native_of("[x y] 4");
  Cell b = *native_of("[a] 9");
  Cell act = *native_of("[a] 4", TYPE_ACTION);
  EXPECT_EQ(compare(a1, a2, action::EQUAL), 0);
  EXPECT_EQ(compare(a1, a2, action::SAME), 0);
  EXPECT_EQ(compare(a1, b, action::EQUAL), -1);
  EXPECT_EQ(compare(b, a1, action::SORT_ORDER), 1);
  EXPECT_EQ(compare(a1, b, action::LESSER), action::kNotComparable);
  EXPECT_EQ(compare(a1, act, action::EQUAL), action::kNotComparable);
  EXPECT_EQ(compare(act, *native_of("[b] 4", TYPE_ACTION), action::STRICT_EQUAL), 0);
}

// An op over a function is all that holds the function's context, spec and body.
TEST_F(Native, TheCollectorKeepsWhatAnOpWraps) {
  Cell* op = make_value(TYPE_OP, *function_of("left right", "[left] right"));
  Cell kept = *op;
  frames::reset_all();
  Cell* held = stack::push_copy(kept);
  gc::collect();
  gc::verify();
  EXPECT_EQ(context::word_count(held->w1), 2u);
  EXPECT_EQ(mold(*held), "make op! func [left right][[left] right]");
}

}  // namespace
