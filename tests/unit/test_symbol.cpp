// Symbol table: exact and any-case interning of case variants (ASCII and beyond), the lazily
// decoded names, counted and string! sources, and symbol! comparison.
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "word_test_support.h"

namespace {

using word_test::WordTest;
using Symbol = WordTest;

uint32_t alias_of(uint32_t id) { return symbol::get_cell(id)->w1; }
std::string name_of(uint32_t id) { return WordTest::text_of(symbol::name_string(id)); }

// Each name is used by one case only: the symbol table lives as long as the process.
struct Variants {
  const char* first;
  const char* variant;
};
const Variants kVariants[] = {
    {"symtest-print", "Symtest-Print"},
    {"symtest-été", "SYMTEST-ÉTÉ"},          // Latin-1 letters
    {"symtest-été2", "symtest-ÉTé2"},         // differs in a non-ASCII and an ASCII letter
    {"symtest-σοφία", "SYMTEST-ΣΟΦΊΑ"},       // Greek
    {"symtest-\U00010428", "symtest-\U00010400"},  // Deseret: outside the BMP
    {"SYMTEST-UPPER-FIRST", "symtest-upper-first"},
};

TEST_F(Symbol, CaseVariantsShareTheFirstSpellingAsCanonical) {
  for (const Variants& v : kVariants) {
    SCOPED_TRACE(v.variant);
    uint32_t first = symbol::intern_c_string(v.first);
    EXPECT_EQ(symbol::resolve_alias(first), first);
    EXPECT_EQ(alias_of(first), symbol::kCanonical);

    uint32_t variant = symbol::intern_c_string(v.variant);
    EXPECT_NE(variant, first);
    EXPECT_EQ(alias_of(variant), first);
    EXPECT_EQ(symbol::resolve_alias(variant), first);
    EXPECT_EQ(symbol::intern_c_string_any_case(v.variant), first);

    // Interning again finds the same symbols, in both modes.
    EXPECT_EQ(symbol::intern_c_string(v.first), first);
    EXPECT_EQ(symbol::intern_c_string(v.variant), variant);
    EXPECT_EQ(symbol::intern_c_string_any_case(v.first), first);
    EXPECT_EQ(name_of(variant), v.variant);
  }
}

TEST_F(Symbol, AnyCaseInterningOfANewSpellingMakesNoSymbol) {
  uint32_t first = symbol::intern_c_string("symtest-ångström");
  uint32_t count = alloc::series_of(symbol::block)->used() / sizeof(Cell);
  EXPECT_EQ(symbol::intern_c_string_any_case("SYMTEST-ÅNGSTRÖM"), first);
  EXPECT_EQ(alloc::series_of(symbol::block)->used() / sizeof(Cell), count);
}

// An empty text may come without any bytes (an empty string's conversion gives none).
TEST_F(Symbol, AnEmptyTextWithoutBytesInternsAsTheEmptyName) {
  uint32_t id = symbol::intern_bytes(nullptr, 0);
  EXPECT_EQ(symbol::intern_bytes(nullptr, 0), id);
  EXPECT_EQ(symbol::intern_c_string(""), id);
  EXPECT_EQ(name_of(id), "");
}

TEST_F(Symbol, TheDecodedNameIsMadeOnce) {
  uint32_t id = symbol::intern_c_string("symtest-decoded-\U0001F600");
  EXPECT_EQ(alias_of(id), symbol::kCanonical);
  uint32_t node = symbol::get_cell(id)->w2;
  ASSERT_NE(node, 0u);
  EXPECT_EQ(alloc::series_of(node)->unit(), 4u);  // the emoji needs whole code points
  EXPECT_EQ(symbol::get_cell(id)->w2, node);
  EXPECT_EQ(symbol::cache_string(id), node);
  EXPECT_EQ(name_of(id), "symtest-decoded-\U0001F600");
}

TEST_F(Symbol, CountedAndStringSourcesInternTheSameSymbol) {
  uint32_t id = symbol::intern_c_string("symtest-counted");
  const char text[] = "symtest-counted-and-more";
  EXPECT_EQ(symbol::intern_bytes(reinterpret_cast<const uint8_t*>(text), 15), id);

  // A string! from its head (index 3), all of it or a given length.
  Cell* s = stack::push_copy(constants::none);  // no stale cell while init_empty allocates
  string::init_empty(s, 16);
  string::append_c_string(*s, "xx-symtest-counted-and-more");
  s->w1 = 3;
  EXPECT_EQ(symbol::intern_string(*s, 15), id);
  EXPECT_EQ(symbol::intern_string(*s, -1), symbol::intern_c_string("symtest-counted-and-more"));
  EXPECT_EQ(s->w1, 3u);
  stack::pop_cells(1);
}

TEST_F(Symbol, SymbolCompareFoldsCaseExceptUnderTheStrictOperators) {
  struct Case {
    const char* a;
    const char* b;
    int32_t op;
    int32_t expected;
  };
  const Case cases[] = {
      {"symcmp-apple", "symcmp-Banana", action::LESSER, -1},
      {"symcmp-Banana", "symcmp-apple", action::LESSER, 1},
      {"symcmp-apple", "symcmp-APPLE", action::EQUAL, 0},
      {"symcmp-apple", "symcmp-APPLE", action::STRICT_EQUAL, 1},
      {"symcmp-apple", "symcmp-Banana", action::SORT_CASE_ORDER, 1},  // 'B' < 'a'
      {"symcmp-apple", "symcmp-apples", action::LESSER, -1},
  };
  auto compare = datatype::lookup<action::COMPARE>(TYPE_SYMBOL);
  ASSERT_NE(compare, nullptr);
  for (const Case& c : cases) {
    Cell a = *symbol::get_cell(symbol::intern_c_string(c.a));
    Cell b = *symbol::get_cell(symbol::intern_c_string(c.b));
    EXPECT_EQ(compare(&a, &b, c.op), c.expected) << c.a << " " << c.b << " op " << c.op;
  }
  Cell a = *symbol::get_cell(symbol::intern_c_string("symcmp-apple"));
  Cell integer{TYPE_INTEGER, 0, 1, 0};
  EXPECT_EQ(compare(&a, &integer, action::EQUAL), action::kNotComparable);
}

TEST_F(Symbol, ManySymbolsSurviveTheCollectorMovingTheTable) {
  std::vector<uint32_t> ids;
  for (int i = 0; i < 400; i++) {
    ids.push_back(symbol::intern_c_string(("symtest-many-" + std::to_string(i)).c_str()));
    if (i % 50 == 0) gc::collect();
  }
  gc::collect();
  for (int i = 0; i < 400; i++) {
    std::string name = "symtest-many-" + std::to_string(i);
    ASSERT_EQ(symbol::intern_c_string(name.c_str()), ids[i]);
    ASSERT_EQ(name_of(ids[i]), name);
  }
  gc::verify();
}

}  // namespace
