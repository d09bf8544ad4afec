// Money literals ($1'000.50, -USD$12, EUR$0.5): the text is checked here and the value left to
// money::make_at_digits, which reads the digits and looks the currency code up (as `to money!`
// on strings does, datatypes/money.cpp).
#include <cstring>

#include "datatypes/money.h"
#include "datatypes/symbol.h"
#include "lexer/state.h"
#include "runtime/unicode.h"

namespace lexer {

// Beyond what the automaton checks: no letters or exactly 3 before "$"; after it a digit;
// "'" separators neither repeated nor ending the integer part nor after the decimal mark, which
// may not end the token; at most 17 integer digits (leading zeros aside) and 5 fraction digits.
void load_money(State& s, const uint8_t* text, const uint8_t* end, uint32_t, bool load) {
  const uint8_t* p = text;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  const uint8_t* dollar = static_cast<const uint8_t*>(std::memchr(p, '$', end - p));
  if (!dollar) throw_error(s, text, TYPE_MONEY);
  const size_t letters = static_cast<size_t>(dollar - p);
  if (letters != 0 && letters != 3) throw_error(s, text, TYPE_MONEY);
  for (const uint8_t* c = p; c < dollar; c++) {
    if (!is_letter(*c)) throw_error(s, text, TYPE_MONEY);
  }
  const uint8_t* digits = dollar + 1;
  if (digits == end || !is_digit(*digits)) throw_error(s, text, TYPE_MONEY);
  const uint8_t* q = digits;
  bool separator = false;
  int32_t significant = 0;
  for (; q < end && *q != '.' && *q != ','; q++) {
    if (*q == '\'') {
      if (separator) throw_error(s, text, TYPE_MONEY);
      separator = true;
      continue;
    }
    separator = false;
    if (!is_digit(*q)) throw_error(s, text, TYPE_MONEY);
    if (significant || *q != '0') significant++;
  }
  if (separator || significant > money::kIntegerDigits) throw_error(s, text, TYPE_MONEY);
  const uint8_t* point = q < end ? q : nullptr;
  if (point) {
    if (point + 1 == end || end - (point + 1) > money::kFractionDigits) {
      throw_error(s, text, TYPE_MONEY);
    }
    for (q = point + 1; q < end; q++) {
      if (!is_digit(*q)) throw_error(s, text, TYPE_MONEY);
    }
  }
  if (!load) {
    // The code is looked up in check mode too, so that a check reports what loading would.
    if (letters && money::currency_index(symbol::intern_bytes(p, 3)) < 0) {
      throw_error(s, text, TYPE_MONEY);
    }
    return;
  }
  Cell value{};
  if (!money::make_at_digits(&value, negative, letters ? p : nullptr, digits, point, end)) {
    throw_error(s, text, TYPE_MONEY);
  }
  Cell* c = output_cell(s);
  value.header |= c->header & cell::kNewLine;
  *c = value;
}

}  // namespace lexer
