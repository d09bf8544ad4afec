// The lexer at the language level: source text and the values it loads, or the syntax error
// (id, datatype or missing character, and line) it raises; the scan and prescan modes; the
// string entry point and its scratch buffer.
#include <cstring>
#include <string>
#include <vector>

#include "tests/unit/lexer_test_support.h"

namespace {

using lexer_test::LexerTest;

struct Case {
  const char* source;
  const char* expected;
};

class Lexer : public LexerTest {
 protected:
  static void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(load(c.source), c.expected) << "source: " << c.source;
  }
};

TEST_F(Lexer, WordsOfEveryKind) {
  check({
      {"a b-c d?", "a b-c d?"},
      {"a: :b 'c /d #e", "a: :b 'c /d #e"},
      {"+ - . = == < <= <> > >= // / % %%", "+ - . = == < <= <> > >= // / % %%"},
      {"'/ :/ /: '+ :< '= :.", "'/ :/ /: '+ :< '= :."},
      {"A1 FFx -a +b .a", "A1 FFx -a +b .a"},
      {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},
      {"\xC2\xA0 a\xC2\xA0" "b", "a b"},  // no-break spaces are blank
      {"\xC2\xA0\xE2\x80\x83", ""},
      {"a:b>", "invalid url! line 1"},  // a word with a colon inside is a url
      {":a:", "invalid word! line 1"},
      {"'a:", "invalid lit-word! line 1"},
      {":a:b", "invalid get-word! line 1"},
      {"#", "invalid issue! line 1"},
      {"a\x80", "invalid word! line 1"},
      {"a\xE2\x82", "invalid word! line 1"},
      {"a\xA3\xDF" "a/f4", "invalid word! line 1"},  // a path head is checked like a word
      {":\xC2\xA0", "invalid get-word! line 1"},  // a blank cuts the word down to its colon
      {"x '\xC2\xA0", "invalid lit-word! line 1"},
  });
}

TEST_F(Lexer, Integers) {
  check({
      {"0 7 42 -13 +5", "0 7 42 -13 5"},
      {"2147483647 -2147483648", "2147483647 -2147483648"},
      {"2147483648 -2147483649 12345678901", "2147483648.0 -2147483649.0 12345678901.0"},
      {"00000000001", "1.0"},  // eleven digits read as a float
      {"1'000'000 1'", "1000000 1"},
      {"1''0", "invalid integer! line 1"},
      {"FFh 0Ah 7FFFFFFFh FFFFFFFFh 12h", "255 10 2147483647 -1 18"},
      {"Ah", "invalid word! line 1"},
      {"1h", "invalid integer! line 1"},
      {"123456789h", "invalid integer! line 1"},
      {"-1Ah", "invalid integer! line 1"},
      {"12a", "invalid integer! line 1"},
  });
}

TEST_F(Lexer, FloatsAndPercents) {
  check({
      {"1.5 -0.25 .5 1e3 1.5e-3 2E2 1'000.5", "1.5 -0.25 0.5 1000.0 0.0015 200.0 1000.5"},
      {"1.#INF -1.#inf 1.#NaN +1.#INF", "+inf -inf nan +inf"},
      {"2.#INF", "invalid float! line 1"},
      {"1.#INFX", "invalid float! line 1"},
      {"50% 0.07% -1.5% 1'000%", "pct 0.5 pct 7e-04 pct -0.015 pct 10.0"},
      {"1.5''", "invalid float! line 1"},
      {"1e", "invalid float! line 1"},
      {"1.5a", "invalid float! line 1"},
  });
}

TEST_F(Lexer, Chars) {
  check({
      {"#\"a\" #\"^\"\" #\"^^\" #\"^/\" #\"^-\" #\"^@\"",
       "#\"a\" #\"^(22)\" #\"^(5E)\" #\"^(A)\" #\"^(9)\" #\"^(0)\""},
      {"#\"^(tab)\" #\"^(TAB)\" #\"^(41)\" #\"^(line)\" #\"^(del)\" #\"^(20AC)\"",
       "#\"^(9)\" #\"^(9)\" #\"A\" #\"^(A)\" #\"^(7F)\" #\"^(20AC)\""},
      {"#\"^a\" #\"^Z\" #\"^[\" #\"^_\" #\"^~\"",
       "#\"^(1)\" #\"^(1A)\" #\"^(1B)\" #\"^(1F)\" #\"^(7F)\""},
      {"#\"\xC3\xA9\" #\"\xF0\x9F\x98\x80\"", "#\"^(E9)\" #\"^(1F600)\""},
      {"#\"ab\"", "invalid char! line 1"},
      {"#\"\"", "invalid char! line 1"},
      {"#\"^(110000)\"", "invalid char! line 1"},
      {"#\"^(tabs)\"", "invalid char! line 1"},
      {"#\"^(1234567)\"", "invalid char! line 1"},
      {"#\"\xC3\"", "invalid char! line 1"},
  });
}

TEST_F(Lexer, Strings) {
  check({
      {"\"\" \"abc\" \"a^\"b\" \"tab^-end^/\"", "\"\" \"abc\" \"a^(22)b\" \"tab^(9)end^(A)\""},
      {"\"^(41)^(line)^(20AC)\"", "\"A^(A)^(20AC)\""},
      {"{} {a {b} c} {x^}y} {a\nb}", "\"\" \"a {b} c\" \"x}y\" \"a^(A)b\""},
      {"\"caf\xC3\xA9\"", "\"caf^(E9)\""},
      {"%{a}b}% %%{x}% y}%%", "\"a}b\" \"x}% y\""},
      {"%{a}%%", "invalid string! line 1"},
      {"%%{a}% b", "invalid string! line 1"},
      {"\"abc", "invalid string! line 1"},
      {"\"ab\ncd\"", "invalid string! line 1"},
      {"\"^(zz)\"", "invalid string! line 1"},
      {"\"\xC3(\"", "invalid string! line 1"},
      {"a\n{abc\ndef", "invalid string! line 2"},
      {"{a}}", "bad-char line 1"},
  });
}

TEST_F(Lexer, StringUnitFollowsItsWidestCharacter) {
  struct UnitCase {
    const char* source;
    uint32_t unit;
  };
  const UnitCase cases[] = {{"\"abc\"", 1}, {"\"^(E9)\"", 1}, {"\"\xC3\xA9\"", 2},
                            {"\"^(20AC)\"", 2}, {"\"\xF0\x9F\x98\x80\"", 4}, {"\"^(1F600)\"", 4},
                            {"{\xE2\x82\xAC}", 2}, {"%{\xF0\x9F\x98\x80}%", 4}};
  for (const UnitCase& c : cases) {
    Cell* out = stack::push_new();
    *out = constants::none;
    lexer::Mode mode;
    mode.one = true;
    std::string source = c.source;
    lexer::scan(out, reinterpret_cast<const uint8_t*>(source.data()), source.size(), mode,
                nullptr, nullptr, nullptr);
    ASSERT_EQ(cell::type_of(*out), TYPE_STRING) << c.source;
    EXPECT_EQ(unit_of(*out), c.unit) << c.source;
  }
}

TEST_F(Lexer, Binaries) {
  check({
      {"#{} #{0102} #{0a FF\n 10}", "#{} #{0102} #{0AFF10}"},
      {"#{01 ; a comment\n02}", "#{0102}"},
      {"2#{00000001 00000010} 64#{AQI=} 16#{0102}", "#{0102} #{0102} #{0102}"},
      {"#{012}", "invalid binary! line 1"},
      {"#{0G}", "invalid binary! line 1"},
      {"8#{01}", "invalid binary! line 1"},
      {"2#{0101}", "invalid binary! line 1"},
      {"99999999999#{00} 1'6#{00}", "invalid binary! line 1"},
  });
}

TEST_F(Lexer, ConstructionSyntax) {
  check({
      {"#(true) #(FALSE) #(none) #(unset)", "#(true) #(false) #(none) #(unset)"},
      {"#(int) #(integer!) #(bl) #(n)", "integer! integer! block! none!"},
      {"#(true x)", "malconstruct line 1"},
      {"#(nonesuch)", "malconstruct line 1"},
      {"#(integer!x)", "malconstruct line 1"},
      {"#()", "malconstruct line 1"},
  });
}

TEST_F(Lexer, BlocksParensAndNewLines) {
  check({
      {"[] [a [b] (c)] ()", "[] [a [b] (c)] ()"},
      {"a\nb [\nc d\n]", "a\nb [\nc d]"},
      {"; comment\na ; more\n b", "\na\nb"},
      {"(1 2) (x , y)", "invalid point2D! line 1"},
      {"(1 2) (a, b)", "invalid float! line 1"},  // a could begin a number: the ( opens a point
      {"[a ,b]", "invalid point2D! line 1"},
  });
}

TEST_F(Lexer, Paths) {
  check({
      {"a/b a/b/c 'a/b :a/b a/b: x", "a/b a/b/c 'a/b :a/b a/b: x"},
      {"a/1/\"s\"/(c d)/:e 'x", "a/1/\"s\"/(c d)/:e 'x"},
      {"[a/b] (c/d)", "[a/b] (c/d)"},
      {"obj/field: 1", "obj/field: 1"},
      {"a/b/", "invalid path! line 1"},
      {"a/b/ c", "invalid path! line 1"},
      {"a/b:/c", "invalid path! line 1"},
      {"'a/b: 1", "invalid lit-path! line 1"},
      {"x\n  a/b/c/,", "invalid path! line 2"},
  });
}

TEST_F(Lexer, BracketErrorsNameTheMissingCharacterAndLine) {
  check({
      {"a [b\nc", "missing ] line 1"},
      {"x\ny\n(a\nb", "missing ) line 3"},
      {"a\n]", "missing [ line 2"},
      {"a\nb)", "missing ( line 2"},
      {"[a)", "missing ] line 1"},
      {"[\n(a]", "missing ) line 2"},
      {"[[a]", "missing ] line 1"},
      {"a\n\n}", "bad-char line 3"},
      {"\\", "bad-char line 1"},
      {"a \xC0", "bad-char line 1"},
  });
}

// A map literal closes with ]; its pairs are checked while loading (the map itself is the map
// suite's), and a check-only scan, which builds nothing, refuses the same literals.
TEST_F(Lexer, MapLiteralsCloseWithABracketAndHoldPairsOfValidKeys) {
  check({
      {"#[a 1 \"b\" 2] [#[]]", "?map! [?map!]"},
      {"#[a 1 b]", "invalid map! line 1"},
      {"x\n#[[k] 1]", "invalid map! line 2"},
      {"#[#(true) 1]", "invalid map! line 1"},
      {"#[a 1", "missing ] line 1"},
      {"#[a 1)", "missing ] line 1"},
      {"[#[a 1]", "missing ] line 1"},
  });
  EXPECT_EQ(scan_type("#[a 1] x"), "map!");
  EXPECT_EQ(scan_type("#[a] x"), "error!");
  EXPECT_EQ(scan_type("#[[k] 1]"), "error!");
}

TEST_F(Lexer, NulEndsTheInput) {
  std::string source("a b\0c", 5);
  EXPECT_EQ(load(source), "a b");
}

TEST_F(Lexer, OneValueStopsAfterTheFirstValue) {
  lexer::Mode one;
  one.one = true;
  EXPECT_EQ(load("[a b] c", one), "[a b]");
  EXPECT_EQ(load("a/b c", one), "a/b");
  EXPECT_EQ(load("{x {y}} z", one), "\"x {y}\"");
  lexer::Mode boxed = one;
  boxed.always_block = true;
  EXPECT_EQ(load("42 c", boxed), "[42]");
}

TEST_F(Lexer, ScanReportsTheDatatypeAndTheBytesConsumed) {
  struct ScanCase {
    const char* source;
    const char* type;
    size_t consumed;
  };
  const ScanCase cases[] = {
      {"[a b] c", "block!", 5}, {"  42 x", "integer!", 4}, {"1.5", "float!", 3},
      {"2147483648", "float!", 10}, {"\"s\" t", "string!", 3}, {"a/b c", "path!", 3},
      {"#(int)", "datatype!", 6}, {"1''2", "error!", 0}, {"[a", "error!", 2},
      {"1.2.3", "tuple!", 5}, {"", "none", 0}, {"a\xA3/b", "error!", 0},
  };
  for (const ScanCase& c : cases) {
    size_t consumed = 99;
    EXPECT_EQ(scan_type(c.source, true, &consumed), c.type) << c.source;
    if (std::string(c.type) != "error!") {
      EXPECT_EQ(consumed, c.consumed) << c.source;
    }
  }
  // Prescan guesses from the automaton and builds nothing; tokens closed by their last
  // character are passed over whole (a point literal used to be read again forever).
  const ScanCase prescans[] = {{"[a b 1.2.3] x", "block!", 11}, {"[(1,2) x] y", "block!", 9},
                               {"[#\"]\" #{5D} 5%] z", "block!", 15}, {"<a> b", "tag!", 3}};
  for (const ScanCase& c : prescans) {
    size_t consumed = 99;
    EXPECT_EQ(scan_type(c.source, false, &consumed, true), c.type) << c.source;
    EXPECT_EQ(consumed, c.consumed) << c.source;
  }
  EXPECT_EQ(scan_type("a b", false), "none");
}

TEST_F(Lexer, ScanStringCountsCodePointsAndFitsTheScratchBuffer) {
  const char* source = "\xC3\xA9t\xC3\xA9 b";
  Cell* text = string::load_encoded_push(reinterpret_cast<const uint8_t*>(source),
                                         std::strlen(source), string::kUtf8);
  Cell* out = stack::push_new();
  *out = constants::none;
  lexer::Mode one;
  one.one = true;
  size_t consumed = 0;
  EXPECT_EQ(lexer::scan_string(out, *text, -1, one, &consumed, nullptr), TYPE_WORD);
  EXPECT_EQ(consumed, 3u);  // code points, not bytes
  // Strings whose UTF-8 copy fills the scratch buffer exactly, and one byte more: the copy's
  // terminating NUL needs room too.
  for (uint32_t length : {49998u, 49999u, 50000u}) {
    std::string source = "{" + std::string(length - 2, 'x') + "}";
    Cell* big = string::load_encoded_push(reinterpret_cast<const uint8_t*>(source.data()),
                                          source.size(), string::kUtf8);
    EXPECT_EQ(lexer::scan_string(out, *big, -1, lexer::Mode{}, nullptr, nullptr), 0);
    ASSERT_EQ(cell::type_of(*out), TYPE_BLOCK);
    const Cell* value = cell::block_head(*out);
    ASSERT_EQ(cell::type_of(*value), TYPE_STRING);
    EXPECT_EQ(string::whole_length(*value), length - 2);
  }
}

TEST_F(Lexer, LoadedValuesSurviveCollections) {
  std::string source;
  for (int i = 0; i < 300; i++) source += "w" + std::to_string(i) + " \"s\" [a/b (c)] #{01} ";
  Cell* out = stack::push_new();
  *out = constants::none;
  lexer::scan(out, reinterpret_cast<const uint8_t*>(source.data()), source.size(), lexer::Mode{},
              nullptr, nullptr, nullptr);
  gc::collect();
  std::string text = cells_of(*out);
  std::string first = "w0 \"s\" [a/b (c)] #{01} w1 \"s\" [a/b (c)]";
  EXPECT_EQ(text.substr(0, first.size()), first);
  EXPECT_EQ(text.size(), source.size() - 1);
}

}  // namespace
