// string! printing: form gives the text, mold quotes it or puts it in braces with escapes.
#include <cstring>

#include "word_test_support.h"

namespace {

using word_test::WordTest;

class StringPrinting : public WordTest {
 protected:
  static Cell* text(const char* utf8) {
    return string::load_encoded(reinterpret_cast<const uint8_t*>(utf8), std::strlen(utf8),
                                nullptr, string::kUtf8);
  }
};

TEST_F(StringPrinting, MoldChoosesQuotesOrBracesAndFormGivesTheText) {
  struct Case {
    const char* text;
    const char* molded;
  };
  const Case cases[] = {
      {"abc", "\"abc\""},
      {"say \"hi\"", "{say \"hi\"}"},
      {"tab\there", "\"tab^-here\""},
      {"a{b\n\n\n", "{a^{b^/^/^/}"},
      {"a}b\n\n\n", "{a^}b^/^/^/}"},
      {"a{b}\n\n\n", "{a{b}^/^/^/}"},
      {"caret ^", "\"caret ^^\""},
      {"", "\"\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(*text(c.text)), c.molded) << c.text;
    EXPECT_EQ(form(*text(c.text)), c.text);
  }
  std::string sixty(60, 'x');
  EXPECT_EQ(mold(*text(sixty.c_str())), "{" + sixty + "}");
}

TEST_F(StringPrinting, PrintingStartsAtTheHead) {
  Cell* value = text("hello");
  value->w1 = 2;
  EXPECT_EQ(form(*value), "llo");
  EXPECT_EQ(mold(*value), "\"llo\"");
}

}  // namespace
