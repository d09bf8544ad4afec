// money! below what the language reaches: the cell layout the binary value format carries, the
// sort order of currencies (no sort native yet) and the hashing of equal amounts.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/hashtable.h"
#include "datatypes/money.h"
#include "lexer/lexer.h"
#include "tests/unit/word_test_support.h"

namespace {

class MoneyTest : public word_test::WordTest {
 protected:
  // The money a literal loads as.
  static Cell money(const std::string& text) {
    Cell* out = stack::push_new();
    *out = constants::none;
    lexer::Mode mode;
    mode.one = true;
    lexer::scan(out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), mode, nullptr,
                nullptr, nullptr);
    Cell value = *out;
    stack::pop_cells(1);
    EXPECT_EQ(cell::type_of(value), TYPE_MONEY) << text;
    return value;
  }
  // Byte i of the cell (0-3 the header).
  static uint8_t byte(const Cell& c, int i) { return reinterpret_cast<const uint8_t*>(&c)[i]; }
  // The 22 digits of bytes 5-15, high nibble first.
  static std::string digits(const Cell& c) {
    std::string text;
    for (int i = 5; i < 16; i++) {
      text += static_cast<char>('0' + (byte(c, i) >> 4));
      text += static_cast<char>('0' + (byte(c, i) & 0xF));
    }
    return text;
  }
};

TEST_F(MoneyTest, CellHoldsCurrencyByteSignBitAndPackedDigits) {
  struct Row {
    const char* text;
    const char* code;  // null: no currency
    bool negative;
    const char* digits;
  };
  const Row rows[] = {
      {"USD$12.5", "USD", false, "0000000000000001250000"},
      {"-EUR$0.00001", "EUR", true, "0000000000000000000001"},
      {"$99999999999999999.99999", nullptr, false, "9999999999999999999999"},
      {"-$0", nullptr, false, "0000000000000000000000"},  // a zero never keeps the sign
      {"AED$1'234", "AED", false, "0000000000000123400000"},
  };
  for (const Row& row : rows) {
    Cell c = money(row.text);
    int32_t index = row.code ? money::currency_index(sym(row.code)) : 0;
    EXPECT_GT(index, row.code ? 0 : -1) << row.text;
    EXPECT_EQ(byte(c, 4), index) << row.text;
    EXPECT_EQ((c.header & money::kSignFlag) != 0, row.negative) << row.text;
    EXPECT_EQ(digits(c), row.digits) << row.text;
  }
  EXPECT_EQ(money::currency_index(sym("AED")), 1);  // positions count from 1
  EXPECT_EQ(money::currency_index(sym("zmw")), 170);
  EXPECT_EQ(money::currency_index(sym("NOPE")), -1);
}

// No currency sorts first, then currencies by their code's text (not by list position: BTC
// comes before BGN in the list), then amounts.
TEST_F(MoneyTest, SortOrderGoesByCurrencyCodeThenAmount) {
  struct Row {
    const char* a;
    const char* b;
    int32_t expected;
  };
  const Row rows[] = {
      {"$5", "AED$1", -1},      {"USD$1", "$5", 1},         {"EUR$2", "USD$1", -1},
      {"BTC$1", "BGN$1", 1},    {"-$5", "$1", -1},          {"USD$1.5", "USD$1.5", 0},
      {"$0", "-$0", 0},         {"-USD$2", "-USD$1", -1},
  };
  for (const Row& row : rows) {
    Cell a = money(row.a), b = money(row.b);
    EXPECT_EQ(money::compare(&a, &b, action::SORT_ORDER), row.expected) << row.a << " " << row.b;
  }
}

// Equal amounts hash alike: a plain amount equals the same amount in a currency, and a negative
// zero equals zero.
TEST_F(MoneyTest, EqualAmountsHashAlike) {
  const char* pairs[][2] = {{"USD$1.5", "$1.5"}, {"$0", "-$0"}, {"EUR$7", "EUR$7.00000"}};
  for (const auto& pair : pairs) {
    Cell a = money(pair[0]), b = money(pair[1]);
    EXPECT_EQ(money::compare(&a, &b, action::EQUAL), 0) << pair[0];
    EXPECT_EQ(hashtable::hash_value(a), hashtable::hash_value(b)) << pair[0];
  }
  Cell zero = money("$0");
  Cell negative_zero = zero;
  negative_zero.header |= money::kSignFlag;  // as negate leaves it
  EXPECT_EQ(hashtable::hash_value(zero), hashtable::hash_value(negative_zero));
}

}  // namespace
