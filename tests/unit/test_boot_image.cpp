// The boot image: the program's own image (its header, the global set-word pairs that set the
// datatype, action and native words without taking root numbers, and the arrangement of its
// root values as the binding plan walks them), and an image built here from a small library
// whose functions and routine are bound from it: made where their definitions stand, running
// their bodies, and reflecting the spec and body the image holds.
#include <string>
#include <vector>

#include "boot/boot_image.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "interpreter/eval.h"
#include "interpreter/native_list.h"
#include "library/routines.h"
#include "io/zelbin.h"
#include "lexer/lexer.h"
#include "word_test_support.h"

namespace {

using cell::cell_count;
using cell::cells_of;

class BootImage : public word_test::WordTest {
 protected:
  // The molded value of the source's result (the collector may run: nothing is held across).
  static std::string run(const std::string& source) {
    Cell* top = stack::top;
    Cell* result = stack::push_copy(constants::none);
    const std::string error = raised_by([&] {
      Cell* code = stack::push_copy(constants::none);
      lexer::scan(code, reinterpret_cast<const uint8_t*>(source.data()), source.size(),
                  lexer::Mode{}, nullptr, nullptr, nullptr);
      interp::eval_block(*code, false);
      *result = *stack::top_cell();
    });
    std::string text = error.empty() ? mold(*result) : "error " + error;
    stack::top = top;
    return text;
  }
  static Cell global(const char* name) {
    const Cell* value = context::value_cell_of_symbol(sym(name), context::global);
    return value ? *value : constants::unset;
  }
  static Cell root(uint32_t first, uint32_t n) {
    return cells_of(runtime_words::root_block)[first + n];
  }
  // The "category/id" that building the image of the sources raises, or "".
  static std::string build_error(const std::vector<boot_image::Source>& sources) {
    Cell* top = stack::top;
    rt::raised = {};
    const uint32_t code = frames::try_catch(runtime_words::words.try_,
                                            [&] { boot_image::build(sources); });
    stack::top = top;
    return code ? std::string(rt::raised.category) + "/" + rt::raised.id : "";
  }
};

uint32_t varint_at(const uint8_t* bytes, size_t& at) {
  uint32_t value = 0;
  for (int shift = 0;; shift += 7) {
    const uint8_t b = bytes[at++];
    value |= uint32_t(b & 0x7F) << shift;
    if (!(b & 0x80)) return value;
  }
}

// --- The program's image -------------------------------------------------------------------------

TEST_F(BootImage, HeaderIsCompactWithSymbolsAndUncompressed) {
  const uint8_t* image = boot_image::image;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image), 6), "ZELBIN");
  EXPECT_EQ(image[6], 1);  // the boot image's version
  EXPECT_EQ(image[7], zelbin::kCompact | zelbin::kSymbols);
}

// Decoding the image again: the pairs set their words (and leave nothing in the root block), the
// root count of the header is the number of root values, and the plan walks every root value
// once, in order: a code block, or a function's context, spec and body, or a routine's spec and
// body; the plan itself is last.
TEST_F(BootImage, RootValuesFollowTheBindingPlan) {
  const uint32_t first = boot_image::decode(boot_image::image);
  const uint32_t roots = cell_count(runtime_words::root_block) - first;
  size_t at = 8;
  EXPECT_EQ(varint_at(boot_image::image, at), roots);

  const Cell plan = root(first, roots - 1);
  ASSERT_EQ(cell::type_of(plan), TYPE_BLOCK);
  uint32_t next = 0, functions = 0;
  for (uint32_t i = 0; i < cell_count(cell::series_node(plan)); i++) {
    const Cell step = cells_of(cell::series_node(plan))[i];
    if (cell::type_of(step) == TYPE_INTEGER) {
      EXPECT_EQ(::integer::get_value(step), int32_t(next));
      EXPECT_EQ(cell::type_of(root(first, next)), TYPE_BLOCK);
      next++;
      continue;
    }
    ASSERT_EQ(cell::type_of(step), TYPE_SET_WORD);
    const Cell n = cells_of(cell::series_node(plan))[++i];
    ASSERT_EQ(::integer::get_value(n), int32_t(next));
    if (cell::type_of(root(first, next)) == TYPE_OBJECT) {
      const uint32_t context = object::context_of(root(first, next));
      EXPECT_EQ(context::kind_of(context), context::kFunction);
      EXPECT_EQ(cell::type_of(root(first, next + 1)), TYPE_BLOCK);
      EXPECT_EQ(cell::type_of(root(first, next + 2)), TYPE_BLOCK);
      next += 3;
      functions++;
    } else {
      EXPECT_EQ(cell::type_of(root(first, next)), TYPE_BLOCK);
      EXPECT_EQ(cell::type_of(root(first, next + 1)), TYPE_BLOCK);
      next += 2;
    }
  }
  EXPECT_EQ(next, roots - 1);
  // Root value 0 is the first source's code, not a datatype: the pairs take no root numbers.
  const Cell code = root(first, 0);
  ASSERT_EQ(cell::type_of(code), TYPE_BLOCK);
  EXPECT_EQ(mold(cells_of(cell::series_node(code))[0]), "datatype!:");
}

TEST_F(BootImage, PairsSetTheDatatypeActionAndNativeWords) {
  boot_image::decode(boot_image::image);
  for (uint8_t type = 1; type <= datatype::highest_type(); type++) {
    const char* name = datatype::name_of(type);
    if (!name) continue;
    const Cell value = global(name);
    if (type == TYPE_SYMBOL || type == TYPE_CONTEXT) {
      EXPECT_EQ(cell::type_of(value), TYPE_UNSET) << name;
    } else if (type == TYPE_SERIES) {
      EXPECT_EQ(cell::type_of(value), TYPE_TYPESET);  // the top-level code's typeset
    } else {
      ASSERT_EQ(cell::type_of(value), TYPE_DATATYPE) << name;
      EXPECT_EQ(cell::datatype_id(value), type) << name;
    }
  }
  for (uint32_t slot = 1; slot < action::kSlotCount; slot++) {
    const char* name = action::name(action::Slot(slot));
    if (!name) continue;
    const Cell value = global(name);
    ASSERT_EQ(cell::type_of(value), TYPE_ACTION) << name;
    EXPECT_EQ(native::index_of(value), slot) << name;
  }
#define CHECK_NATIVE(index, id, name, fn)                 \
  {                                                       \
    const Cell value = global(name);                      \
    ASSERT_EQ(cell::type_of(value), TYPE_NATIVE) << name; \
    EXPECT_EQ(native::index_of(value), index) << name;    \
  }
#define SKIP_RESERVED(index, id, name)
  ZEL_NATIVES(CHECK_NATIVE, SKIP_RESERVED)
#undef CHECK_NATIVE
#undef SKIP_RESERVED
  // The argument checks read the typesets the image carries as pairs.
  EXPECT_EQ(run("append [1] 2"), "[1 2]");
  EXPECT_EQ(run("find any-type! unset!"), "true");
}

// --- A library bound from an image ---------------------------------------------------------------

const std::vector<boot_image::Source> kLibrary = {
    {"one.zel", R"(Zel [Title: "first"]
boot-count: 0
boot-double: func ["Doubles a number" n [integer!] "The number"] [n * 2]
boot-count: boot-count + 1
boot-sum: function [block [block!]] [total: 0 foreach v block [total: total + v] total]
boot-hello: does ["hello"]
boot-square: has [x] [x: 5 x * x]
shift-left: routine ["Shifts to the left" data [integer!] bits [integer!]] [data bits]
boot-uses: boot-double 21
)"},
    {"two.zel", R"(Zel [Title: "second"]
boot-later: func [/twice] [either twice [boot-double boot-double 1] [boot-double 1]]
)"},
};

class BootLibrary : public BootImage {
 protected:
  static void SetUpTestSuite() {
    const std::vector<uint8_t> image = boot_image::build(kLibrary);
    first_ = boot_image::decode(image.data());
    roots_ = cell_count(runtime_words::root_block) - first_;
    boot_image::run(first_, roots_);
  }
  static inline uint32_t first_ = 0, roots_ = 0;
};

TEST_F(BootLibrary, DefinitionsAreMadeWhereTheyStand) {
  const std::pair<const char*, const char*> cases[] = {
      {"boot-uses", "42"},  // the code after a definition calls it
      {"boot-count", "1"},
      {"boot-double 4", "8"},
      {"boot-sum [1 2 3]", "6"},
      {"boot-hello", "\"hello\""},
      {"boot-square", "25"},
      {"boot-later", "2"},
      {"boot-later/twice", "4"},
      {"type? :boot-double", "function!"},
      {"type? :shift-left", "routine!"},
      {"shift-left 3 2", "12"},  // the library's C++ body, found by the word
  };
  for (const auto& [source, expected] : cases) EXPECT_EQ(run(source), expected) << source;
}

TEST_F(BootLibrary, SpecAndBodyComeFromTheImage) {
  const std::pair<const char*, const char*> cases[] = {
      {"reflect :boot-double 'spec", "[\"Doubles a number\" n [integer!] \"The number\"]"},
      {"reflect :boot-double 'body", "[n * 2]"},
      {"reflect :boot-sum 'spec", "[block [block!] /local total v]"},
      {"reflect :boot-hello 'spec", "[]"},
      {"reflect :boot-square 'spec", "[/local x]"},
      {"reflect :shift-left 'spec", "[\"Shifts to the left\" data [integer!] bits [integer!]]"},
      {"reflect :shift-left 'body", "[data bits]"},
      {"reflect :boot-later 'words", "[twice]"},
  };
  for (const auto& [source, expected] : cases) EXPECT_EQ(run(source), expected) << source;
}

// The function's context is its root context, its spec the root spec and its body the root body
// (decoded for it alone, so not copied again), whose words stay bound to that context.
TEST_F(BootLibrary, FunctionsUseTheirRootValues) {
  const uint32_t plan = cell::series_node(root(first_, roots_ - 1));
  // [0 boot-double: 1 2 ...]: the first code block, then boot-double's context at root 1.
  ASSERT_EQ(mold(cells_of(plan)[1]), "boot-double:");
  const uint32_t n = uint32_t(::integer::get_value(cells_of(plan)[2]));
  const Cell function = global("boot-double");
  EXPECT_EQ(function::context_of(function), object::context_of(root(first_, n)));
  EXPECT_EQ(function::spec_of(function), cell::series_node(root(first_, n + 1)));
  const Cell body = function::body_of(function);
  EXPECT_EQ(cell::series_node(body), cell::series_node(root(first_, n + 2)));
  EXPECT_EQ(word::context_of(cells_of(cell::series_node(body))[0]),
            function::context_of(function));
}

TEST_F(BootLibrary, RoutinesAreFoundByTheirWord) {
  const Cell routine = global("shift-left");
  const Cell* more = cells_of(function::internals_of(routine));
  const int32_t entry = routines::entry_of("shift-left");
  ASSERT_NE(entry, 0);
  EXPECT_EQ(::integer::get_value(more[function::kCodeEntry]), entry);
  EXPECT_EQ(routines::entry_of("boot-odd?"), 0);
}

TEST_F(BootLibrary, BuildRefusesWhatItCannotBind) {
  EXPECT_EQ(build_error({{"x.zel", "boot-missing: routine [n] [n]"}}), "script/no-value");
  EXPECT_EQ(build_error({{"x.zel", "boot-bad: func [n n] [n]"}}), "script/dup-vars");
  EXPECT_EQ(build_error({{"x.zel", "boot-ok: func [n] [n]"}}), "");
}

}  // namespace
